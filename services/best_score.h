#pragma once
// The graded similarity of two fingerprints, for callers that want more than
// match / no match. The matcher runs with threshold 0, so no stage cuts the
// score off; the verification answer itself stays with MatchTemplates.
#include <cstdint>

#include "engine/engine_configuration.h"

namespace vorsensor {

// The best score of the opened record `sample` matched against the opened
// record `probe` prepared as the probe (each kServiceRecordSize bytes), with
// the rotation tolerance `verifyRotationTolerance`. A score of 0 or more, or a
// negative error (a record the reader rejects, kOutOfMemory, kEngineStopped).
int32_t BestScore(const uint8_t* probe, const uint8_t* sample, const EngineConfiguration* engine = nullptr);

// The same for two sealed templates (kSealedTemplateBytes bytes each), opened
// with the template key.
int32_t BestScoreOfTemplates(const uint8_t* probeSealed, const uint8_t* sampleSealed,
                             const EngineConfiguration* engine = nullptr);

}  // namespace vorsensor
