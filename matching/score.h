#pragma once
// Scoring a sample against a prepared probe: the normalisers and the staged
// comparison (correspondences, rotation, shift, fit, selection, final score).
#include <cstdint>

#include "matching/match_parameters.h"
#include "matching/match_state.h"

namespace vorsensor {

// The per-mille factors of one comparison.
struct Normalisers {
  int32_t feature;  // N1: by the type, spread and density flags of both sets
  int32_t context;  // N2: by the grid and density byte flags of both sets
};

Normalisers ComputeNormalisers(const PreparedSet& probe, const PreparedSet& sample,
                               const MatchParameters& parameters);

// Norm(T): a score sum scaled down for large pair counts (nP probe pair
// records, nS sample pairs) and by the feature normaliser.
int64_t NormaliseSum(int64_t total, int32_t probeRecords, int32_t samplePairs, int32_t featureNormaliser,
                     const MatchParameters& parameters);

// Prepares `sample` against `probe` and scores it: the score (0 when below
// `threshold` at any stage) or a negative code. The sample slot comes out
// turned and shifted onto the probe when the comparison got that far.
int32_t ScoreSample(MatchWorkspace* workspace, PreparedSet* probe, PreparedSet* sample,
                    int32_t threshold, const MatchParameters& parameters, DetailsBuffer details);

// The probe slot against the sample slot, averaged with the reverse
// direction as `symmetricMode` asks.
int32_t ScoreSymmetric(MatchWorkspace* workspace, int32_t threshold, const MatchParameters& parameters,
                       DetailsBuffer details);

}  // namespace vorsensor
