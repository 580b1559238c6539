// Block votes over the 3 x 3 neighbourhood of every block.
#include "engine/ridge/block_votes.h"

#include "engine/ridge/block_orientation.h"

namespace vorsensor {
namespace {

constexpr int32_t kVoteReach = 1;
// Reliable blocks a neighbourhood needs for its centre to keep its direction
// (so a corner block, with 4 neighbours, never does).
constexpr int32_t kVotesNeeded = 5;

template <typename IsReliable>
void VoteBlocks(int32_t bw, int32_t bh, uint8_t* const* directionGrid, const uint8_t* const* reliabilityGrid,
                IsReliable is_reliable) {
  for (int32_t by = 0; by < bh; ++by) {
    const int32_t top = by - kVoteReach > 0 ? by - kVoteReach : 0;
    const int32_t bottom = by + kVoteReach < bh - 1 ? by + kVoteReach : bh - 1;
    for (int32_t bx = 0; bx < bw; ++bx) {
      const int32_t left = bx - kVoteReach > 0 ? bx - kVoteReach : 0;
      const int32_t right = bx + kVoteReach < bw - 1 ? bx + kVoteReach : bw - 1;
      int32_t votes = 0;
      for (int32_t y = top; y <= bottom; ++y) {
        for (int32_t x = left; x <= right; ++x) votes += is_reliable(reliabilityGrid[y][x]) ? 1 : 0;
      }
      if (votes < kVotesNeeded) directionGrid[by][bx] = kNoBlockDirection;
    }
  }
}

}  // namespace

void VoteBlocksByCoherence(int32_t bw, int32_t bh, uint8_t* const* directionGrid,
                           const uint8_t* const* reliabilityGrid, uint8_t coherenceMin) {
  VoteBlocks(bw, bh, directionGrid, reliabilityGrid, [coherenceMin](uint8_t value) { return value > coherenceMin; });
}

void VoteBlocksByVariation(int32_t bw, int32_t bh, uint8_t* const* directionGrid,
                           const uint8_t* const* reliabilityGrid, uint8_t blockVariationMax) {
  VoteBlocks(bw, bh, directionGrid, reliabilityGrid,
             [blockVariationMax](uint8_t value) { return value < blockVariationMax; });
}

}  // namespace vorsensor
