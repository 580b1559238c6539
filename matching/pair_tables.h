#pragma once
// Preparing a feature set for matching: its centre and flags, its table of
// minutia pairs sorted by distance and the angle buckets over that table.
#include <cstdint>

#include "matching/match_parameters.h"
#include "matching/match_state.h"

namespace vorsensor {

enum class PairDirections {
  kBoth,  // probe: every pair followed by its reversed pair
  kOne,   // sample: every pair once
};

// Rotation mask from a tolerance t (clamped to 0..120): rotation k is allowed
// when k <= t or k >= 240 - t.
void SetRotationMask(MatchWorkspace* workspace, int32_t rotationTolerance);

// Builds `slot`'s centre, flags, pair table (distances up to
// `greatestDistance`) and buckets from `slot->set`, whose counts must be in
// range. kOk or kOutOfMemory.
int32_t PrepareSet(MatchWorkspace* workspace, PreparedSet* slot, PairDirections directions,
                   int32_t greatestDistance, const MatchParameters& parameters);

// The greatest pair distance of a sample prepared against `probe`.
int32_t SampleDistanceLimit(const PreparedSet& probe, const MatchParameters& parameters);

// `value` brought into 0..239.
inline int32_t Wrap240(int32_t value) {
  const int32_t r = value % 240;
  return r < 0 ? r + 240 : r;
}

}  // namespace vorsensor
