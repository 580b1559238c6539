// The regularisation stages: pass count rules, the orientation refresh, the
// counted and the fixed smoothing passes and the majority vote, each against
// direct computations on whole images.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/feature_set.h"
#include "engine/ridge/foreground.h"
#include "engine/ridge/majority_filter.h"
#include "engine/ridge/orientation_refresh.h"
#include "engine/ridge/pass_counts.h"
#include "engine/ridge/ridge_smoothing.h"
#include "engine/row_image.h"
#include "ridge_references.h"
#include "support/grey_images.h"
#include "support/random.h"

namespace vorsensor {
namespace {

TEST(PassCounts, RulesOfBothRefreshFamilies) {
  const PassCountRule gradient{240, 200, 0, 4};
  const std::pair<uint8_t, uint32_t> coherence[] = {{255, 0}, {241, 0}, {240, 0}, {235, 1}, {230, 1}, {220, 2},
                                                    {210, 3}, {206, 3}, {205, 4}, {200, 4}, {120, 4}, {0, 4}};
  for (auto [c, k] : coherence) EXPECT_EQ(GradientExtraPasses(c, gradient), k) << int{c};
  EXPECT_EQ(GradientExtraPasses(100, PassCountRule{200, 200, 0, 4}), 0u);  // high = low
  EXPECT_EQ(GradientExtraPasses(100, PassCountRule{100, 200, 0, 4}), 0u);  // high below low

  const PassCountRule difference{30, 20, 0, 4};
  const std::pair<uint8_t, uint32_t> ratio[] = {{0, 0},  {20, 0}, {21, 0}, {22, 1}, {23, 1}, {24, 2}, {25, 2},
                                                {26, 2}, {27, 3}, {28, 3}, {29, 4}, {30, 4}, {255, 4}};
  for (auto [q, k] : ratio) EXPECT_EQ(DifferenceExtraPasses(q, difference), k) << int{q};
  // A span of 1: half a step is 0, so every ratio counts one pass more than
  // it reaches, up to the range.
  EXPECT_EQ(DifferenceExtraPasses(20, PassCountRule{21, 20, 3, 4}), 1u);
  EXPECT_EQ(DifferenceExtraPasses(25, PassCountRule{21, 20, 3, 4}), 4u);
  EXPECT_EQ(DifferenceExtraPasses(25, PassCountRule{20, 20, 3, 4}), 0u);
}

// The refresh: orientations as the pixel stage measures them on the smoothed
// image, background marks kept, the upper 5 bits of the scratch pixels kept,
// counts only where foreground and unguarded; every vector level, with rows
// of one partial and of two whole blocks and a partial one, and rows
// without and with a guard reaching them.
TEST(OrientationRefresh, OrientationsMarksAndCounts) {
  testing::TestRandom random(8);
  for (const int32_t w : {48, 131}) {
    const int32_t h = 41;
    const RowImage grey = testing::MakeImage(w, h, [&](int32_t x, int32_t y) {
      return static_cast<uint8_t>(testing::Wave(x + y / 3, 9) / 2 + random.Byte() / 2);
    });
    const RowImage map = testing::MakeImage(w, h, [&](int32_t x, int32_t) {
      return static_cast<uint8_t>(random.Byte() % 120 | (x < 10 || random.Range(0, 5) == 0 ? kBackgroundMark : 0));
    });
    const RowImage density = testing::RandomImage(w, h, random);
    // Two guards: one inside, one below the last row (its guard reaches rows 39 and 40 only).
    SingularPoint guard[2]{};
    guard[0].x = 30;
    guard[0].y = 20;
    guard[1].x = 44;
    guard[1].y = 43;
    for (int family = 0; family < 2; ++family) {
      const PassCountRule rule = family == 0 ? PassCountRule{240, 200, 1, 4} : PassCountRule{30, 20, 2, 5};
      const testing::OrientationImages slow =
          family == 0 ? testing::SlowGradient(grey, 6, 0) : testing::SlowDifference(grey, 6, 0);
      const RowImage &orientation = slow.orientation, &reliability = slow.reliability;
      for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
        SCOPED_TRACE(::testing::Message() << "width " << w << " family " << family << " level " << level);
        const SimdLevel simd = static_cast<SimdLevel>(level);
        RowImage refreshed = testing::Clone(map), scratch = testing::Clone(density);
        ASSERT_EQ(family == 0 ? RefreshByGradient(w, h, grey.rows(), refreshed.rows(), scratch.rows(), guard, 2, 6,
                                                  rule, 5, simd)
                              : RefreshByDifferences(w, h, grey.rows(), refreshed.rows(), scratch.rows(), guard, 2, 6,
                                                     rule, 5, simd),
                  0);
        int32_t counted = 0;
        for (int32_t y = 0; y < h; ++y) {
          for (int32_t x = 0; x < w; ++x) {
            const bool background = (map[y][x] & kBackgroundMark) != 0;
            // Pixels exactly 5 from a point (as (35, 20)) are not guarded.
            const bool guarded = (x - 30) * (x - 30) + (y - 20) * (y - 20) < 25 ||
                                 (x - 44) * (x - 44) + (y - 43) * (y - 43) < 25;
            ASSERT_EQ(refreshed[y][x], orientation[y][x] | (background ? kBackgroundMark : 0)) << x << "," << y;
            const uint32_t extra = family == 0 ? GradientExtraPasses(reliability[y][x], rule)
                                               : DifferenceExtraPasses(reliability[y][x], rule);
            const uint32_t passes = background || guarded ? 0 : rule.base + extra;
            ASSERT_EQ(scratch[y][x], (density[y][x] & 0xF8) | passes) << x << "," << y;
            counted += passes > rule.base ? 1 : 0;
          }
        }
        EXPECT_GT(counted, 0);
      }
    }
  }
}

// Counted passes against whole-image passes: a pixel with count n is smoothed
// in passes 1..n, each from a copy of the image as the pass began.
TEST(PassCounts, MatchWholeImagePasses) {
  testing::TestRandom random(12);
  const int32_t sizes[][2] = {{1, 1}, {5, 4}, {13, 13}, {20, 31}, {45, 26}};
  for (const auto& size : sizes) {
    const int32_t w = size[0], h = size[1];
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    const RowImage source = testing::RandomImage(w, h, random);
    const RowImage map = testing::RandomImage(w, h, random);
    const RowImage counts = testing::MakeImage(w, h, [&](int32_t, int32_t) {
      return static_cast<uint8_t>((random.Byte() & 0xF8) | (random.Range(0, 7) * (random.Range(0, 2) != 0)));
    });
    RowImage expected = testing::Clone(source);
    int32_t largest = 0;
    for (int32_t pass = 1; pass <= 7; ++pass) {
      testing::SlowSmoothImage(expected, map, [&](int32_t x, int32_t y) {
        const int32_t n = counts[y][x] & 7;
        largest = n > largest ? n : largest;
        return n >= pass;
      });
    }
    RowImage image = testing::Clone(source), scratch = testing::Clone(counts);
    EXPECT_EQ(RunPassCounts(w, h, image.rows(), map.rows(), scratch.rows()), largest);
    ASSERT_EQ(testing::Pixels(image), testing::Pixels(expected));
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) ASSERT_EQ(scratch[y][x], counts[y][x] & 0xF8);
    }
  }
}

TEST(FixedSmoothingPasses, MatchDirectOrientationAndLineSums) {
  testing::TestRandom random(44);
  const int32_t sizes[][2] = {{1, 1}, {6, 9}, {14, 13}, {33, 40}, {57, 24}};
  for (const auto& size : sizes) {
    const int32_t w = size[0], h = size[1];
    const RowImage source = testing::MakeImage(w, h, [&](int32_t x, int32_t y) {
      return random.Range(0, 3) == 0 ? random.Byte() : testing::Stripe(2 * x + y, 8);
    });
    for (int family = 0; family < 2; ++family) {
      for (uint32_t r : {5u, 7u}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + " family " + std::to_string(family) + " radius " +
                     std::to_string(r));
        RowImage expected = testing::Clone(source);
        for (int pass = 0; pass < 2; ++pass) {
          const int32_t radius = static_cast<int32_t>(r);
          const testing::OrientationImages slow =
              family == 0 ? testing::SlowGradient(expected, radius, 0) : testing::SlowDifference(expected, radius, 0);
          testing::SlowSmoothImage(expected, slow.orientation, [](int32_t, int32_t) { return true; });
        }
        RowImage image = testing::Clone(source);
        ASSERT_EQ(family == 0 ? SmoothAlongGradient(w, h, image.rows(), r, 2)
                              : SmoothAlongDifferences(w, h, image.rows(), r, 2),
                  0);
        ASSERT_EQ(testing::Pixels(image), testing::Pixels(expected));
      }
    }
  }
}

TEST(MajorityFilter, VoteAndFrame) {
  testing::TestRandom random(3);
  // Rows of one partial block, of two whole ones (w = 66) and of two and a partial one.
  const int32_t sizes[][2] = {{1, 1}, {2, 5}, {3, 3}, {17, 12}, {40, 41}, {66, 7}, {101, 9}};
  for (const auto& size : sizes) {
    const int32_t w = size[0], h = size[1];
    // Binary with some grey values: the vote compares the sum with 1152.
    const RowImage source = testing::MakeImage(w, h, [&](int32_t, int32_t) {
      return random.Range(0, 9) == 0 ? random.Byte() : static_cast<uint8_t>(random.Range(0, 1) * 255);
    });
    const RowImage expected = testing::MakeImage(w, h, [&](int32_t x, int32_t y) {
      if (x == 0 || y == 0 || x == w - 1 || y == h - 1) return uint8_t{255};
      int32_t s = 0;
      for (int32_t dy = -1; dy <= 1; ++dy) {
        for (int32_t dx = -1; dx <= 1; ++dx) s += source[y + dy][x + dx];
      }
      return static_cast<uint8_t>(s < 1152 ? 0 : 255);
    });
    for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
      RowImage image = testing::Clone(source);
      ASSERT_EQ(MajorityFilter(w, h, image.rows(), static_cast<SimdLevel>(level)), 0);
      ASSERT_EQ(testing::Pixels(image), testing::Pixels(expected)) << w << " x " << h << " level " << level;
    }
  }
  // A square summing to exactly 1152 is not ridge, 1151 is.
  for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
    const SimdLevel simd = static_cast<SimdLevel>(level);
    RowImage exact = testing::ConstantImage(3, 3, 128);
    ASSERT_EQ(MajorityFilter(3, 3, exact.rows(), simd), 0);
    EXPECT_EQ(exact[1][1], 255);
    exact = testing::ConstantImage(3, 3, 128);
    exact[0][0] = 127;
    ASSERT_EQ(MajorityFilter(3, 3, exact.rows(), simd), 0);
    EXPECT_EQ(exact[1][1], 0);
  }
}

}  // namespace
}  // namespace vorsensor
