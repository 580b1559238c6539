#pragma once
// Choosing among the correspondences that fit the alignment: all of them,
// the best per probe pair, or the best of each conflict group.
#include <cstdint>

#include "matching/match_state.h"

namespace vorsensor {

constexpr int32_t kMaxGroupMembers = 255;

// Fills workspace->selection (indices into the correspondence list) from
// workspace->kept by `mode` (0, 1 or 2). `probePairs` / `samplePairs` are the
// pair counts of the two slots. kOk or kOutOfMemory.
int32_t SelectCorrespondences(MatchWorkspace* workspace, int32_t mode, int32_t probePairs,
                              int32_t samplePairs);

}  // namespace vorsensor
