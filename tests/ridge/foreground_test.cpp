#include "engine/ridge/foreground.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/result_codes.h"
#include "engine/row_image.h"
#include "support/grey_images.h"

namespace vorsensor::testing {
namespace {

struct Vote {
  std::vector<uint8_t> map;
  int32_t quality;
};

// Each pixel straight from its clipped window and the point list.
Vote SlowVote(const RowImage& map, const RowImage& reliability, const std::vector<SingularPoint>& points, int32_t r,
              bool byCoherence, uint8_t limit, int32_t guard) {
  const int32_t w = map.width(), h = map.height();
  Vote vote{std::vector<uint8_t>(static_cast<size_t>(w) * h), 0};
  int64_t sum = 0, count = 0;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int32_t reliable = 0;
      for (int32_t v = std::max(0, y - r); v <= std::min(h - 1, y + r); ++v) {
        for (int32_t u = std::max(0, x - r); u <= std::min(w - 1, x + r); ++u) {
          reliable += byCoherence ? reliability[v][u] > limit : reliability[v][u] < limit;
        }
      }
      bool guarded = false;
      for (const SingularPoint& p : points) {
        guarded = guarded || (p.x - x) * (p.x - x) + (p.y - y) * (p.y - y) < guard * guard;
      }
      uint8_t value = map[y][x];
      if (reliable <= (2 * r + 1) * (2 * r + 1) / 2 && !guarded) {
        value |= 0x80;
      } else {
        sum += reliability[y][x];
        ++count;
      }
      vote.map[static_cast<size_t>(y) * w + x] = value;
    }
  }
  vote.quality = count > 0 ? static_cast<int32_t>(sum / count) : (byCoherence ? 0 : 255);
  return vote;
}

TEST(ForegroundVoteTest, StreamingAgreesWithDirectWindowCounts) {
  TestRandom random(53);
  struct Case {
    int32_t w, h, r;
  };
  const Case cases[] = {{1, 1, 0},  {1, 1, 4},    {1, 13, 2}, {13, 1, 2},  {17, 9, 3},
                        {33, 29, 16}, {50, 41, 6}, {9, 8, 30}, {70, 61, 16}, {16, 20, 1}, {41, 12, 1}};
  for (const Case& c : cases) {
    for (bool byCoherence : {true, false}) {
      SCOPED_TRACE(::testing::Message() << c.w << " x " << c.h << " r " << c.r << " coherence " << byCoherence);
      // Patches of reliable and unreliable pixels so that both outcomes occur;
      // at radius 1 each pixel at random, so that many windows hold exactly
      // half of a full window (4 of 9).
      RowImage map = AllocRowImage(c.w, c.h), reliability = AllocRowImage(c.w, c.h);
      for (int32_t y = 0; y < c.h; ++y) {
        for (int32_t x = 0; x < c.w; ++x) {
          map[y][x] = static_cast<uint8_t>(random.Range(0, 119));
          const bool good = c.r == 1 ? random.Range(0, 1) != 0 : ((x / 7 + y / 5) % 3) != 0;
          // Values at the limit (95) fall on both sides.
          reliability[y][x] = static_cast<uint8_t>(good == byCoherence ? random.Range(95, 255) : random.Range(0, 95));
        }
      }
      std::vector<SingularPoint> points(2, SingularPoint{});
      points[0].x = random.Range(0, c.w);
      points[0].y = random.Range(0, c.h);
      points[1].x = -3;
      points[1].y = c.h / 2;
      const Vote expected = SlowVote(map, reliability, points, c.r, byCoherence, 95, 4);
      for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
        RowImage out = AllocRowImage(c.w, c.h);
        CopyRowImage(out.rows(), map.rows(), c.w, c.h);
        const auto simd = static_cast<SimdLevel>(level);
        const int32_t quality =
            byCoherence
                ? ForegroundVoteByCoherence(c.w, c.h, out.rows(), reliability.rows(), points.data(), 2, c.r, 95, 4, simd)
                : ForegroundVoteByVariation(c.w, c.h, out.rows(), reliability.rows(), points.data(), 2, c.r, 95, 4, simd);
        EXPECT_EQ(quality, expected.quality) << "level " << level;
        for (int32_t y = 0; y < c.h; ++y) {
          for (int32_t x = 0; x < c.w; ++x) {
            ASSERT_EQ(out[y][x], expected.map[static_cast<size_t>(y) * c.w + x]) << x << ", " << y << " level " << level;
          }
        }
      }
    }
  }
}

TEST(ForegroundVoteTest, UniformImagesAreAllBackground) {
  RowImage map = ConstantImage(40, 30, 30), coherence = ConstantImage(40, 30, 0);
  EXPECT_EQ(ForegroundVoteByCoherence(40, 30, map.rows(), coherence.rows(), nullptr, 0, 16, 60, 16), 0);
  RowImage map2 = ConstantImage(40, 30, 127), ratio = ConstantImage(40, 30, 255);
  EXPECT_EQ(ForegroundVoteByVariation(40, 30, map2.rows(), ratio.rows(), nullptr, 0, 16, 196, 16), 255);
  for (int32_t y = 0; y < 30; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      ASSERT_EQ(map[y][x], 30 | kBackgroundMark);
      ASSERT_EQ(map2[y][x], 127 | kBackgroundMark);
    }
  }
}

// With r = 16 a corner window holds 17 x 17 = 289 pixels, not more than half of
// the full 33 x 33: the corner is background however coherent, unless guarded.
TEST(ForegroundVoteTest, CornersNeedTheGuardOfASingularPoint) {
  RowImage map = ConstantImage(100, 100, 20), coherence = ConstantImage(100, 100, 255);
  EXPECT_EQ(ForegroundVoteByCoherence(100, 100, map.rows(), coherence.rows(), nullptr, 0, 16, 60, 16), 255);
  EXPECT_EQ(map[0][0], 20 | kBackgroundMark);
  EXPECT_EQ(map[50][50], 20);

  SingularPoint point{};
  point.x = 10;
  point.y = 3;
  map = ConstantImage(100, 100, 20);
  ForegroundVoteByCoherence(100, 100, map.rows(), coherence.rows(), &point, 1, 16, 60, 16);
  EXPECT_EQ(map[0][0], 20);                     // 100 + 9 < 256
  EXPECT_EQ(map[99][0], 20 | kBackgroundMark);  // other corners stay background
  point.x = 16;
  point.y = 0;
  map = ConstantImage(100, 100, 20);
  ForegroundVoteByCoherence(100, 100, map.rows(), coherence.rows(), &point, 1, 16, 60, 16);
  EXPECT_EQ(map[0][0], 20 | kBackgroundMark);  // distance exactly 16 is not guarded
  EXPECT_EQ(map[0][1], 20);
}

}  // namespace
}  // namespace vorsensor::testing
