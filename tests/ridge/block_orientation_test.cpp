#include "engine/ridge/block_orientation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "engine/result_codes.h"
#include "engine/ridge/block_votes.h"
#include "engine/ridge/orientation_moments.h"
#include "ridge_references.h"
#include "support/grey_images.h"

namespace vorsensor::testing {
namespace {

struct Grids {
  int32_t bw;
  int32_t bh;
  RowImage direction;
  RowImage reliability;
};

enum class Family { kGradient, kDifference };

// The grids at the plain level, after checking that every vector level the
// machine runs gives the same.
Grids Orient(const RowImage& image, Family family, uint8_t threshold) {
  const BlockGridDimensions size = BlockGridSize(image.width(), image.height());
  auto at = [&](SimdLevel level) {
    Grids grids{size.bw, size.bh, AllocRowImage(size.bw, size.bh), AllocRowImage(size.bw, size.bh)};
    const int32_t result =
        family == Family::kGradient
            ? GradientBlockOrientation(image.width(), image.height(), image.rows(), size.bw, size.bh,
                                       grids.direction.rows(), grids.reliability.rows(), threshold, level)
            : DifferenceBlockOrientation(image.width(), image.height(), image.rows(), size.bw, size.bh,
                                         grids.direction.rows(), grids.reliability.rows(), threshold, level);
    EXPECT_EQ(result, kOk);
    return grids;
  };
  Grids plain = at(SimdLevel::kPlain);
  for (int32_t level = 1; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
    const Grids other = at(static_cast<SimdLevel>(level));
    EXPECT_EQ(Pixels(other.direction), Pixels(plain.direction)) << "level " << level;
    EXPECT_EQ(Pixels(other.reliability), Pixels(plain.reliability)) << "level " << level;
  }
  return plain;
}

// First and one-past-last pixel of a block along a side (pixels need all neighbours).
std::pair<int32_t, int32_t> Range(int32_t index, int32_t length) {
  const int32_t first = std::max(16 * index, 1);
  const int32_t end = 16 * (index + 1) == length ? length - 1 : 16 * (index + 1);
  return {first, end};
}

// Each block computed directly: the window's sums straight from its pixels.
struct Window {
  int64_t xx = 0, yy = 0, xy = 0;
  int64_t h = 0, d1 = 0, v = 0, d2 = 0;
  int32_t blocks = 0;
};
Window SlowWindow(const RowImage& p, int32_t bx, int32_t by, int32_t bw, int32_t bh) {
  Window s;
  for (int32_t wy = by - 1; wy <= by + 1; ++wy) {
    for (int32_t wx = bx - 1; wx <= bx + 1; ++wx) {
      if (wx < 0 || wy < 0 || wx >= bw || wy >= bh) continue;
      ++s.blocks;
      const auto rows = Range(wy, p.height());
      const auto columns = Range(wx, p.width());
      for (int32_t y = rows.first; y < rows.second; ++y) {
        for (int32_t x = columns.first; x < columns.second; ++x) {
          const PixelGradient g = SlowGradientAt(p, x, y);
          s.xx += int64_t{g.gx} * g.gx, s.yy += int64_t{g.gy} * g.gy, s.xy += int64_t{g.gx} * g.gy;
          const PixelDifferences d = SlowDifferencesAt(p, x, y);
          s.h += d.h, s.d1 += d.d1, s.v += d.v, s.d2 += d.d2;
        }
      }
    }
  }
  return s;
}

TEST(BlockOrientation, GridSizeAndBlockRanges) {
  EXPECT_EQ(BlockGridSize(256, 288).bw, 16);
  EXPECT_EQ(BlockGridSize(256, 288).bh, 18);
  EXPECT_EQ(BlockGridSize(15, 47).bw, 0);
  EXPECT_EQ(BlockGridSize(15, 47).bh, 2);
  // A grid larger than the image's is refused.
  RowImage image = ConstantImage(40, 40, 0);
  EXPECT_EQ(GradientBlockOrientation(40, 40, image.rows(), 3, 2, image.rows(), image.rows(), 70), kOutOfRange);
}

// Random grey, a smooth wave whose blocks are coherent, and full-contrast
// columns of period 6 whose window sums of gx² pass 32 bits (their blocks must
// still run along the columns, 60).
TEST(BlockOrientation, StreamedWindowsMatchDirectSumsOnRandomAndPatternedImages) {
  TestRandom random(91);
  const int32_t sizes[][2] = {{16, 16}, {17, 33}, {50, 16}, {16, 70}, {47, 47}, {64, 48}, {100, 130}, {256, 288}};
  int32_t beyond32Bits = 0;
  for (const auto& size : sizes) {
    const int32_t w = size[0];
    const int32_t h = size[1];
    const int32_t period = random.Range(5, 20);
    RowImage images[] = {RandomImage(w, h, random),
                         MakeImage(w, h, [&](int32_t x, int32_t y) { return Wave(x * 2 + y * 3, period * 3); }),
                         MakeImage(w, h, [&](int32_t x, int32_t) { return Stripe(x, 6); })};
    for (const RowImage& image : images) {
      const bool stripes = &image == &images[2];
      Grids gradient = Orient(image, Family::kGradient, 20);
      Grids difference = Orient(image, Family::kDifference, 17);
      for (int32_t by = 0; by < gradient.bh; ++by) {
        for (int32_t bx = 0; bx < gradient.bw; ++bx) {
          const Window s = SlowWindow(image, bx, by, gradient.bw, gradient.bh);
          beyond32Bits += s.xx > std::numeric_limits<int32_t>::max();
          const int32_t gxx = static_cast<int32_t>((s.xx + 1152) / 2304);
          const int32_t gyy = static_cast<int32_t>((s.yy + 1152) / 2304);
          const int32_t gxy = static_cast<int32_t>((s.xy + 1152) / 2304);
          ASSERT_EQ(gradient.direction[by][bx], OrientationFromMoments(gxx, gyy, gxy)) << w << "x" << h;
          ASSERT_EQ(gradient.reliability[by][bx], CoherenceFromMoments(gxx, gyy, gxy, 20));
          if (stripes) {
            ASSERT_EQ(gradient.direction[by][bx], 60) << bx << "," << by;
          }

          const int32_t hm = static_cast<int32_t>(s.h / s.blocks);
          const int32_t d1 = static_cast<int32_t>(s.d1 * 71 / (s.blocks * 100));
          const int32_t vm = static_cast<int32_t>(s.v / s.blocks);
          const int32_t d2 = static_cast<int32_t>(s.d2 * 71 / (s.blocks * 100));
          DifferenceOrientation expected = OrientationFromDifferences(hm, d1, vm, d2);
          if (std::max({hm, d1, vm, d2}) <= 17 * 512) expected.ratio = 255;
          ASSERT_EQ(difference.direction[by][bx], expected.orientation) << w << "x" << h;
          ASSERT_EQ(difference.reliability[by][bx], expected.ratio);
        }
      }
    }
  }
  EXPECT_GT(beyond32Bits, 0);
}

// Votes: corners never keep their direction (4 neighbours), edges need 5 of 6,
// inside blocks 5 of 9; the reliability grid is only read; limits are strict.
TEST(BlockVotes, CornersEdgesAndInsideBlocks) {
  for (bool by_coherence : {true, false}) {
    const uint8_t good = by_coherence ? 61 : 206;
    const uint8_t bad = by_coherence ? 60 : 207;  // at the limit: not reliable
    RowImage reliability = ConstantImage(5, 4, good);
    RowImage direction = ConstantImage(5, 4, 42);
    // Unreliable blocks (x, y): (2, 0) on the top edge; (1, 2), (1, 3), (2, 3), (3, 2).
    reliability[0][2] = reliability[2][1] = reliability[3][1] = reliability[3][2] = reliability[2][3] = bad;
    const std::vector<uint8_t> reliability_before = Pixels(reliability);
    auto vote = [&] {
      if (by_coherence) {
        VoteBlocksByCoherence(5, 4, direction.rows(), reliability.rows(), 60);
      } else {
        VoteBlocksByVariation(5, 4, direction.rows(), reliability.rows(), 207);
      }
    };
    vote();
    EXPECT_EQ(Pixels(reliability), reliability_before);
    for (int32_t corner : {0, 4}) EXPECT_EQ(direction[0][corner], kNoBlockDirection);
    EXPECT_EQ(direction[0][1], 42);  // edge, 5 of 6
    EXPECT_EQ(direction[0][2], 42);
    EXPECT_EQ(direction[2][2], 42);                 // inside, 5 of 9
    EXPECT_EQ(direction[3][2], kNoBlockDirection);  // bottom edge, 2 of 6
    reliability[3][3] = bad;                        // inside (2, 2) down to 4 of 9
    vote();
    EXPECT_EQ(direction[2][2], kNoBlockDirection);
  }
}

// Columns alternating 0 and D over 5 x 5 blocks: the middle block's window
// holds nine full blocks, so its largest mean difference is H = 256 x 2D =
// 512 D, exactly the limit when blockFlatnessMax = D.
TEST(BlockOrientation, FlatnessLimitMetExactlyIsFlat) {
  for (const uint8_t d : {17, 3, 60}) {
    const RowImage grey = MakeImage(80, 80, [d](int32_t x, int32_t) { return static_cast<uint8_t>(x % 2 ? d : 0); });
    for (const uint8_t limit : {d, static_cast<uint8_t>(d - 1)}) {
      RowImage direction = AllocRowImage(5, 5), reliability = AllocRowImage(5, 5);
      ASSERT_EQ(DifferenceBlockOrientation(80, 80, grey.rows(), 5, 5, direction.rows(), reliability.rows(), limit), kOk);
      EXPECT_EQ(direction[2][2], 60);
      EXPECT_EQ(reliability[2][2], limit == d ? 255 : 0) << int{d} << " limit " << int{limit};
    }
  }
}

}  // namespace
}  // namespace vorsensor::testing
