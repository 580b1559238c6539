#pragma once
// Block votes: a block keeps its direction only when enough blocks of its
// 3 x 3 neighbourhood (itself included, clipped at the grid edges) are reliable;
// otherwise its direction becomes kNoBlockDirection. The reliability grid is
// only read, so the result does not depend on the order of visiting.
#include <cstdint>

namespace vorsensor {

// Reliable: coherence above coherenceMin.
void VoteBlocksByCoherence(int32_t bw, int32_t bh, uint8_t* const* directionGrid,
                           const uint8_t* const* reliabilityGrid, uint8_t coherenceMin);
// Reliable: variation ratio below blockVariationMax.
void VoteBlocksByVariation(int32_t bw, int32_t bh, uint8_t* const* directionGrid,
                           const uint8_t* const* reliabilityGrid, uint8_t blockVariationMax);

}  // namespace vorsensor
