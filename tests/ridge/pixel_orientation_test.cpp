#include "engine/ridge/pixel_orientation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/result_codes.h"
#include "engine/ridge/orientation_moments.h"
#include "engine/row_image.h"
#include "support/random.h"

namespace vorsensor {
namespace {

RowImage MakeImage(int32_t w, int32_t h, const std::function<uint8_t(int32_t, int32_t)>& value) {
  RowImage image = AllocRowImage(w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) image[y][x] = value(x, y);
  }
  return image;
}

RowImage RandomImage(int32_t w, int32_t h, testing::TestRandom& random) {
  return MakeImage(w, h, [&](int32_t, int32_t) { return random.Byte(); });
}

struct Expected {
  RowImage orientation;
  RowImage reliability;
};

// Each output straight from its window of the entry image: no rings, no running sums.
Expected SlowGradient(const RowImage& grey, int32_t r, uint8_t energyMin) {
  const int32_t w = grey.width(), h = grey.height();
  Expected out{AllocRowImage(w, h), AllocRowImage(w, h)};
  const int32_t n = (2 * r + 1) * (2 * r + 1);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int64_t xx = 0, yy = 0, xy = 0;
      for (int32_t v = std::max(1, y - r); v <= std::min(h - 2, y + r); ++v) {
        for (int32_t u = std::max(1, x - r); u <= std::min(w - 2, x + r); ++u) {
          const PixelGradient g = GradientAt(grey[v - 1], grey[v], grey[v + 1], u);
          xx += g.gx * g.gx;
          yy += g.gy * g.gy;
          xy += g.gx * g.gy;
        }
      }
      const int32_t gxx = MomentMean(xx, n), gyy = MomentMean(yy, n), gxy = MomentMean(xy, n);
      out.orientation[y][x] = OrientationFromMoments(gxx, gyy, gxy);
      out.reliability[y][x] = CoherenceFromMoments(gxx, gyy, gxy, energyMin);
    }
  }
  return out;
}

Expected SlowDifference(const RowImage& grey, int32_t r, uint8_t flatnessMax) {
  const int32_t w = grey.width(), h = grey.height();
  Expected out{AllocRowImage(w, h), AllocRowImage(w, h)};
  const int64_t flat = static_cast<int64_t>(2 * r + 1) * (2 * r + 1) * flatnessMax * 2;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int64_t sh = 0, sd1 = 0, sv = 0, sd2 = 0;
      for (int32_t v = std::max(1, y - r); v <= std::min(h - 2, y + r); ++v) {
        for (int32_t u = std::max(1, x - r); u <= std::min(w - 2, x + r); ++u) {
          const PixelDifferences d = DifferencesAt(grey[v - 1], grey[v], grey[v + 1], u);
          sh += d.h;
          sd1 += d.d1;
          sv += d.v;
          sd2 += d.d2;
        }
      }
      const int32_t d1 = static_cast<int32_t>(sd1 * 71 / 100), d2 = static_cast<int32_t>(sd2 * 71 / 100);
      const DifferenceOrientation result =
          OrientationFromDifferences(static_cast<int32_t>(sh), d1, static_cast<int32_t>(sv), d2);
      const int64_t largest = std::max({sh, static_cast<int64_t>(d1), sv, static_cast<int64_t>(d2)});
      out.orientation[y][x] = result.orientation;
      out.reliability[y][x] = largest <= flat ? 255 : result.ratio;
    }
  }
  return out;
}

void ExpectSameImage(const RowImage& actual, const RowImage& expected, const char* what) {
  for (int32_t y = 0; y < expected.height(); ++y) {
    for (int32_t x = 0; x < expected.width(); ++x) {
      ASSERT_EQ(actual[y][x], expected[y][x]) << what << " at (" << x << ", " << y << ")";
    }
  }
}

struct Case {
  int32_t w, h, r;
};
// Awkward sizes: single pixels and lines, widths that are no multiple of 16,
// radii 0 and larger than the image, rings larger and smaller than the image.
constexpr Case kCases[] = {{1, 1, 0},  {1, 1, 3},   {1, 9, 2},   {9, 1, 2},  {2, 2, 1},   {3, 3, 0},
                           {3, 3, 1},  {5, 4, 7},   {17, 5, 2},  {13, 29, 3}, {31, 23, 12}, {40, 37, 12},
                           {21, 50, 1}, {10, 7, 40}, {47, 45, 18}};

TEST(PixelOrientationTest, StreamingAgreesWithDirectWindowSums) {
  testing::TestRandom random(51);
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.w << " x " << c.h << " r " << c.r);
    const RowImage grey = RandomImage(c.w, c.h, random);
    {
      const Expected expected = SlowGradient(grey, c.r, 20);
      RowImage scratch = AllocRowImage(c.w, c.h), map = AllocRowImage(c.w, c.h);
      CopyRowImage(scratch.rows(), grey.rows(), c.w, c.h);
      ASSERT_EQ(GradientPixelOrientation(c.w, c.h, scratch.rows(), map.rows(), c.r, 20), kOk);
      ExpectSameImage(map, expected.orientation, "gradient orientation");
      ExpectSameImage(scratch, expected.reliability, "coherence");
    }
    {
      const Expected expected = SlowDifference(grey, c.r, 19);
      RowImage scratch = AllocRowImage(c.w, c.h), map = AllocRowImage(c.w, c.h);
      CopyRowImage(scratch.rows(), grey.rows(), c.w, c.h);
      ASSERT_EQ(DifferencePixelOrientation(c.w, c.h, scratch.rows(), map.rows(), c.r, 19), kOk);
      ExpectSameImage(map, expected.orientation, "difference orientation");
      ExpectSameImage(scratch, expected.reliability, "variation ratio");
    }
  }
}

// Column sums are 32-bit while min(2r + 2, h) rows of the largest term fit;
// a tall image with a radius past 457 takes 64-bit sums. Full-contrast
// columns (gx = 1530 on every gradient pixel) of 938 gradient rows pass 2^31
// there, so a wrong choice of width shows against the direct sums.
TEST(PixelOrientationTest, TallFullContrastWindowsTakeWideColumnSums) {
  const int32_t w = 4, h = 940, r = 470;
  const RowImage grey = MakeImage(w, h, [](int32_t x, int32_t y) { return x >= 2 || y % 97 == 0 ? 255 : 0; });
  const Expected expected = SlowGradient(grey, r, 70);
  RowImage scratch = AllocRowImage(w, h), map = AllocRowImage(w, h);
  CopyRowImage(scratch.rows(), grey.rows(), w, h);
  ASSERT_EQ(GradientPixelOrientation(w, h, scratch.rows(), map.rows(), r, 70), kOk);
  ExpectSameImage(map, expected.orientation, "gradient orientation");
  ExpectSameImage(scratch, expected.reliability, "coherence");
  EXPECT_EQ(map[h / 2][1], 60);  // ridges along the columns
}

TEST(PixelOrientationTest, ConstantImageHasNoOrientation) {
  RowImage scratch = MakeImage(37, 21, [](int32_t, int32_t) { return 140; });
  RowImage map = AllocRowImage(37, 21);
  ASSERT_EQ(GradientPixelOrientation(37, 21, scratch.rows(), map.rows(), 12, 70), kOk);
  for (int32_t y = 0; y < 21; ++y) {
    for (int32_t x = 0; x < 37; ++x) {
      ASSERT_EQ(map[y][x], 30);
      ASSERT_EQ(scratch[y][x], 0);
    }
  }
  scratch = MakeImage(37, 21, [](int32_t, int32_t) { return 140; });
  ASSERT_EQ(DifferencePixelOrientation(37, 21, scratch.rows(), map.rows(), 12, 19), kOk);
  for (int32_t y = 0; y < 21; ++y) {
    for (int32_t x = 0; x < 37; ++x) {
      ASSERT_EQ(map[y][x], kUndefinedOrientation);
      ASSERT_EQ(scratch[y][x], 255);
    }
  }
}

// Stripes whose value depends on the row only run along orientation 0; on the
// column only, along 60. Full-contrast stripes of period 6 with radius 18 (a
// scanner profile's setting) overflow 32-bit moment sums, which would turn the
// result; the orientation must still be the stripes'.
TEST(PixelOrientationTest, StripesGiveTheirOrientationInBothFamilies) {
  struct Stripes {
    bool alongRows;
    int32_t period;
    uint32_t radius;
    uint8_t expected;
  };
  const Stripes stripes[] = {{true, 8, 12, 0}, {false, 8, 12, 60}, {true, 6, 18, 0}, {false, 6, 18, 60},
                             {false, 7, 20, 60}};
  const int32_t w = 96, h = 100;
  for (const Stripes& s : stripes) {
    SCOPED_TRACE(::testing::Message() << "period " << s.period << " radius " << s.radius << " rows " << s.alongRows);
    auto value = [&](int32_t x, int32_t y) -> uint8_t {
      const int32_t k = s.alongRows ? y : x;
      return (k % s.period) < s.period / 2 ? 0 : 255;
    };
    for (int family = 0; family < 2; ++family) {
      RowImage scratch = MakeImage(w, h, value), map = AllocRowImage(w, h);
      if (family == 0) {
        ASSERT_EQ(GradientPixelOrientation(w, h, scratch.rows(), map.rows(), s.radius, 70), kOk);
      } else {
        ASSERT_EQ(DifferencePixelOrientation(w, h, scratch.rows(), map.rows(), s.radius, 19), kOk);
      }
      for (int32_t y = 24; y < h - 24; ++y) {
        for (int32_t x = 24; x < w - 24; ++x) {
          ASSERT_EQ(map[y][x], s.expected) << "family " << family << " at " << x << ", " << y;
          // Gradient: fully coherent; differences: a clear orientation (ratio 0).
          ASSERT_EQ(scratch[y][x], family == 0 ? 255 : 0) << "family " << family << " at " << x << ", " << y;
        }
      }
    }
  }
}

}  // namespace
}  // namespace vorsensor
