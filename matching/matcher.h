#pragma once
// The matcher's entry points: compare two fingerprints given as template
// records or as feature sets and score how well they agree.
//
// The first set of a comparison is the probe, prepared once into a workspace
// (PrepareProbe) and then compared with any number of samples (MatchSample).
// All results are signed 32-bit; negative values are errors
// (engine/result_codes.h):
//   kOutOfMemory      a workspace array cannot be enlarged
//   kEngineStopped    no parameters given and the engine is not started
//   kMissingArgument  a required pointer is null, or MatchSample without a
//                     prepared probe
//   kOutOfRange       details whose size field is not 20, 4120 or 20132 (or
//                     exceeds the given capacity); a feature set whose counts
//                     or coordinates are out of range; an unusable parameter
//                     (selection/symmetric mode above 2, a scale range without
//                     steps)
//   reader codes      errors of the template record reader, passed on
//
// `parameters` may be null: the engine's own configuration is used then.
// `details` may be null (capacity ignored); otherwise it points at
// `detailsCapacity` writable bytes starting with a MatchDetails* record
// (matching/match_workspace.h).
#include <cstddef>
#include <cstdint>

#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "matching/match_workspace.h"

namespace vorsensor {

// Reads `record` (at most `recordLength` bytes are looked at) into the probe
// slot, sets the rotation mask from `rotationTolerance` (clamped to 0..120)
// and builds the probe's pair table in both directions. 0 on success.
int32_t PrepareProbe(MatchWorkspace* workspace, const uint8_t* record, size_t recordLength,
                     int32_t rotationTolerance, const EngineConfiguration* parameters);

// Scores `record` against the prepared probe (with the symmetric and scale
// search variants the parameters ask for). The details' score field receives
// the best score. Result: the score when `rawScore` is 1; else 0 when the
// score reaches `threshold` (a match), else -1.
int32_t MatchSample(MatchWorkspace* workspace, const uint8_t* record, size_t recordLength,
                    int32_t threshold, const EngineConfiguration* parameters, void* details,
                    size_t detailsCapacity);

// PrepareProbe(probeRecord), then MatchSample(sampleRecord).
int32_t MatchPair(MatchWorkspace* workspace, const uint8_t* probeRecord, size_t probeLength,
                  const uint8_t* sampleRecord, size_t sampleLength, int32_t rotationTolerance,
                  int32_t threshold, const EngineConfiguration* parameters, void* details,
                  size_t detailsCapacity);

// For feature sets already in memory (enrolment): prepares `probe`, scores
// `sample` against it and copies the scored sample back over `*sample`, which
// therefore comes back turned and shifted onto the probe. Result: the score
// (0 when below `threshold`). The details' score field is not written;
// rotation, shift and index lists are.
int32_t AlignSample(MatchWorkspace* workspace, const FeatureSet* probe, FeatureSet* sample,
                    int32_t rotationTolerance, int32_t threshold,
                    const EngineConfiguration* parameters, void* details, size_t detailsCapacity);

// Stretches every minutia of `set` by sx and sy percent (scale search).
void StretchSample(FeatureSet* set, int32_t sx, int32_t sy);

}  // namespace vorsensor
