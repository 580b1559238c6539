#pragma once
// The four engine operations between the template services and the matcher:
// one-to-one verification of two template records, and the engine's one
// loaded sample for a run of matches against a prepared probe.
//
// Records are opened template records of kServiceRecordSize bytes; `details`
// is a short match details record (size field 20) or null. Every
// operation takes an engine configuration; null means the engine's own, and
// kEngineStopped is returned while the engine is not started.
//
// Thread safety: VerifyRecords keeps its match workspace local to the call, so
// any number of threads may verify at once. The loaded sample of a
// configuration is guarded by one process-wide lock: loading, matching against
// and unloading it are each atomic, and a match against the loaded sample holds
// the lock for its length (the workspace's sample slot is rewritten by every
// comparison, so two matches on it cannot overlap). The identification search
// of MatchTemplates holds its prepared sample in a workspace of its own, so the
// engine's loaded sample serves only callers of these functions, and an
// identification never refuses or disturbs a verification on another thread.
#include <cstdint>

#include "engine/engine_configuration.h"
#include "matching/matcher.h"
#include "services/prepared_sample.h"

namespace vorsensor {

// kSampleInUse while a sample is loaded in `engine`; else prepares `first` as
// the probe (rotation tolerance `verifyRotationTolerance`), matches `second`
// against it with the threshold `verifyThreshold` and returns the matcher's
// answer (0 matched, -1 not matched, other negatives errors). kOutOfMemory when
// no workspace can be made.
int32_t VerifyRecords(const uint8_t* first, const uint8_t* second, MatchDetails* details,
                      EngineConfiguration* engine);

// Prepares `record` as the probe of the engine's loaded sample. kSampleInUse
// when one is loaded already, kOutOfMemory without a workspace, the matcher's
// error when the record cannot be prepared (then nothing stays loaded).
int32_t LoadSample(const uint8_t* record, EngineConfiguration* engine);

// Matches `record` against the loaded sample with the threshold
// `verifyThreshold`; kSampleInUse when no sample is loaded.
int32_t MatchLoadedSample(const uint8_t* record, MatchDetails* details, EngineConfiguration* engine);

// True while `engine` (null: the engine's own) has a sample loaded; read under
// the loaded sample's lock. The merge operations refuse to run meanwhile.
bool SampleIsLoaded(const EngineConfiguration* engine);

// Frees the loaded sample: 0, or kSampleInUse when none is loaded.
int32_t UnloadSample(EngineConfiguration* engine);

}  // namespace vorsensor
