#include "engine/ridge/line_smoothing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "engine/row_image.h"
#include "ridge_references.h"
#include "support/grey_images.h"
#include "support/random.h"

namespace vorsensor {
namespace {

using testing::MaskOf;

// Every kernel, listed or mirrored: the weight total, point symmetry, the
// mirror relations between orientations, a line of the stated direction
// (principal axis of the weights within one unit of o x 1.5 degrees, measured
// from +x towards +y) and the stated tap counts.
TEST(LineKernels, EveryOrientationIsALineOfItsAngle) {
  for (int32_t o = 0; o < kLineOrientations; ++o) {
    SCOPED_TRACE(o);
    const testing::LineMask mask = MaskOf(static_cast<uint8_t>(o));
    const testing::LineMask turned = MaskOf(static_cast<uint8_t>((60 - o + 120) % 120));
    const testing::LineMask mirrored = MaskOf(static_cast<uint8_t>((120 - o) % 120));
    uint64_t total = 0;
    double sxx = 0, syy = 0, sxy = 0;
    int32_t positions = 0;
    for (int32_t dy = -kLineReach; dy <= kLineReach; ++dy) {
      for (int32_t dx = -kLineReach; dx <= kLineReach; ++dx) {
        const uint32_t weight = mask.weight[dy + kLineReach][dx + kLineReach];
        total += weight;
        positions += weight != 0 ? 1 : 0;
        ASSERT_EQ(weight, mask.weight[kLineReach - dy][kLineReach - dx]);
        ASSERT_EQ(weight, turned.weight[dx + kLineReach][dy + kLineReach]) << dy << "," << dx;
        ASSERT_EQ(weight, mirrored.weight[dy + kLineReach][kLineReach - dx]) << dy << "," << dx;
        sxx += static_cast<double>(weight) * dx * dx;
        syy += static_cast<double>(weight) * dy * dy;
        sxy += static_cast<double>(weight) * dx * dy;
      }
    }
    EXPECT_EQ(total, kLineWeightTotal);
    const double degrees = 0.5 * std::atan2(2 * sxy, sxx - syy) * 180 / 3.14159265358979;
    double units = degrees / 1.5;
    if (units < -0.5) units += 120;
    const double off = std::fabs(units - o) > 60 ? 120 - std::fabs(units - o) : std::fabs(units - o);
    EXPECT_LE(off, 1.0) << "axis at " << units;
    const int32_t taps = (positions - 1) / 2;
    if (o == 0 || o == 60) {
      EXPECT_EQ(taps, 5);
    } else {
      EXPECT_GE(taps, 11);
      EXPECT_LE(taps, 15);
    }
  }
  EXPECT_EQ(LineKernelOf(30).centre, 9343u);
  EXPECT_EQ(LineKernelOf(90).centre, 9343u);
  EXPECT_EQ(LineKernelOf(31).centre, 9323u);
}

// DirectionalSmooth (ring of rows, interior without bounds tests) against the
// direct weighted sums at every vector level the machine runs, on random
// images and orientation maps (random, slowly turning, or alternating
// between two orientations 15 to 17, 31 to 33 or 63 to 65 apart, also across
// orientation 0, the spans on both sides of what a block takes at once with
// 16, 32 or 64 table entries; orientations, none, background marks) of many
// sizes: images smaller than the kernel, odd sizes, rows just wide enough for
// one 32-pixel block, or for blocks whose kernels all lie inside between the
// two blocks at the ends, rows with pairs of such blocks, and the 6-pixel
// border band of larger ones. Counted rows (only pixels with a count, rows
// without any skipped) likewise.
TEST(DirectionalSmooth, MatchesDirectWeightedSums) {
  testing::TestRandom random(91);
  const int32_t sizes[][2] = {{1, 1},   {1, 9},   {9, 1},   {5, 7},   {12, 13}, {13, 12}, {13, 13},
                              {14, 15}, {31, 17}, {27, 14}, {28, 13}, {32, 19}, {40, 33}, {43, 14},
                              {44, 15}, {45, 20}, {64, 29}, {76, 16}, {101, 21}, {131, 25}, {192, 14}};
  for (const auto& size : sizes) {
    const int32_t w = size[0], h = size[1];
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    for (int round = 0; round < 9; ++round) {
      RowImage image = testing::RandomImage(w, h, random);
      // Rounds 1 and 4 keep the grey values in a narrow band (all sums near the same), 2 and 5 binary;
      // round 7 is white, which any divisor but the weights used turns to another value.
      for (int32_t y = 0; y < h && round % 3 > 0; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          image[y][x] = round % 3 == 1 ? 200 + image[y][x] % 7 : (image[y][x] & 1) * 255;
          if (round == 7) image[y][x] = 255;
        }
      }
      // Round 8 turns smoothly along the rows (by 1 every 5 columns, one way in
      // even rows and the other in odd ones), without pixels lacking an orientation.
      auto ramp = [](int32_t x, int32_t y) {
        return static_cast<uint8_t>((480 + 3 * y + (y % 2 == 0 ? x : -x) / 5) % 120);
      };
      auto alternating = [](int32_t x, int32_t y) {
        const int32_t apart = 16 * (1 << (y / 3 % 3)) - 1 + y % 3;  // 15.., 31.., 63..
        return static_cast<uint8_t>((7 * y + (x % 2 == 0 ? 0 : apart)) % 120);
      };
      const RowImage map = round < 3 || round == 7
                               ? testing::MakeImage(w, h, [&](int32_t, int32_t) { return random.Byte(); })
                           : round < 6  ? testing::FlowMap(w, h, random)
                           : round == 6 ? testing::MakeImage(w, h, alternating)
                                        : testing::MakeImage(w, h, ramp);
      // From round 3 on, pairs of rows without counts that the ring skips, as counted passes do, and
      // rows where about half the pixels count.
      const RowImage counts = testing::MakeImage(w, h, [&](int32_t, int32_t y) {
        if (round < 3) return random.Byte();
        return static_cast<uint8_t>(random.Byte() & (y / 2 % 3 == 1 ? 0xF8 : y / 2 % 3 == 2 ? 0xF9 : 0xFF));
      });
      auto counted = [&](int32_t x, int32_t y) { return (counts[y][x] & 7) != 0; };
      RowImage expected = testing::Clone(image), expectedCounted = testing::Clone(image);
      testing::SlowSmoothImage(expected, map, [](int32_t, int32_t) { return true; });
      testing::SlowSmoothImage(expectedCounted, map, counted);
      for (int32_t level = 0; level <= static_cast<int32_t>(SimdLevel::kAvx512); ++level) {
        if (!SimdLevelRuns(static_cast<SimdLevel>(level))) continue;
        SCOPED_TRACE("level " + std::to_string(level) + ", round " + std::to_string(round));
        RowImage smoothed = testing::Clone(image), smoothedCounted = testing::Clone(image);
        ASSERT_EQ(DirectionalSmooth(w, h, smoothed.rows(), map.rows(), static_cast<SimdLevel>(level)), 0);
        ASSERT_EQ(testing::Pixels(smoothed), testing::Pixels(expected));
        LineRowRing ring;
        ASSERT_TRUE(ring.Allocate(w, h, static_cast<SimdLevel>(level)));
        ring.Begin(smoothedCounted.rows());
        for (int32_t y = 0; y < h; ++y) {
          ring.Around(y);
          bool any = false;
          for (int32_t x = 0; x < w; ++x) any = any || counted(x, y);
          if (any) ring.SmoothRow(y, map[y], counts[y], smoothedCounted[y]);
        }
        ASSERT_EQ(testing::Pixels(smoothedCounted), testing::Pixels(expectedCounted));
      }
    }
  }
}

// Orientation 0 in the interior is the truncated mean of 11 pixels of the
// row, 60 of the column; bit 7 of the orientation is ignored.
TEST(DirectionalSmooth, LevelAndUprightKernelsAreElevenPixelMeans) {
  const int32_t w = 24, h = 20, x = 9, y = 10;
  testing::TestRandom random(5);
  const RowImage image = testing::RandomImage(w, h, random);
  auto run = [&](uint8_t orientation) {
    RowImage copy = testing::Clone(image);
    EXPECT_EQ(DirectionalSmooth(w, h, copy.rows(), testing::ConstantImage(w, h, orientation).rows()), 0);
    return copy[y][x];
  };
  uint32_t row = 0, column = 0;
  for (int32_t d = -5; d <= 5; ++d) {
    row += image[y][x + d];
    column += image[y + d][x];
  }
  EXPECT_EQ(run(0), row / 11);
  EXPECT_EQ(run(128), row / 11);
  EXPECT_EQ(run(60), column / 11);
}

}  // namespace
}  // namespace vorsensor
