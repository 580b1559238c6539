#include "engine/ridge/pixel_orientation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/result_codes.h"
#include "engine/ridge/orientation_moments.h"
#include "ridge_references.h"
#include "support/grey_images.h"

namespace vorsensor::testing {
namespace {

using Expected = OrientationImages;

// The stage on a copy of `grey`: the map, and the reliability it leaves in the copy.
Expected Orient(const RowImage& grey, bool gradient, uint32_t r, uint8_t limit, SimdLevel level = MachineSimdLevel()) {
  const int32_t w = grey.width(), h = grey.height();
  Expected out{AllocRowImage(w, h), AllocRowImage(w, h)};
  CopyRowImage(out.reliability.rows(), grey.rows(), w, h);
  const int32_t result =
      gradient ? GradientPixelOrientation(w, h, out.reliability.rows(), out.orientation.rows(), r, limit, level)
               : DifferencePixelOrientation(w, h, out.reliability.rows(), out.orientation.rows(), r, limit, level);
  EXPECT_EQ(result, kOk);
  return out;
}

void ExpectSameImages(const Expected& actual, const Expected& expected) {
  for (int32_t y = 0; y < expected.orientation.height(); ++y) {
    for (int32_t x = 0; x < expected.orientation.width(); ++x) {
      ASSERT_EQ(actual.orientation[y][x], expected.orientation[y][x]) << "orientation at (" << x << ", " << y << ")";
      ASSERT_EQ(actual.reliability[y][x], expected.reliability[y][x]) << "reliability at (" << x << ", " << y << ")";
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
                           {21, 50, 1}, {10, 7, 40}, {47, 45, 18}, {83, 19, 6}};

// Every vector level the machine runs.
TEST(PixelOrientationTest, StreamingAgreesWithDirectWindowSums) {
  TestRandom random(51);
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.w << " x " << c.h << " r " << c.r);
    const RowImage grey = RandomImage(c.w, c.h, random);
    const Expected gradient = SlowGradient(grey, c.r, 20), difference = SlowDifference(grey, c.r, 19);
    for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
      SCOPED_TRACE(::testing::Message() << "level " << level);
      ExpectSameImages(Orient(grey, true, c.r, 20, static_cast<SimdLevel>(level)), gradient);
      ExpectSameImages(Orient(grey, false, c.r, 19, static_cast<SimdLevel>(level)), difference);
    }
  }
}

// Windows up to radius 14 take 32-bit window sums and means (several pixels
// at a time); from 15 on, 64-bit ones. Columns 0, 0, 255, 255 repeated give
// |gx| = 1530 at every pixel, so the sums of gx² reach the largest value a
// window can hold (841 x 1530² at radius 14, just below 2^31), and diagonal
// stripes give the largest gx·gy of either sign; the difference family sees
// its largest differences. Widths leave 0 to 7 pixels after the last group
// of 8; the window passes every border.
TEST(PixelOrientationTest, NarrowAndWideWindowSumsAgreeAtTheirLargestValues) {
  const std::function<uint8_t(int32_t, int32_t)> patterns[] = {
      [](int32_t x, int32_t) { return static_cast<uint8_t>(x % 4 < 2 ? 0 : 255); },
      [](int32_t x, int32_t y) { return static_cast<uint8_t>((x + y) % 4 < 2 ? 0 : 255); },
      [](int32_t x, int32_t y) { return static_cast<uint8_t>((x + 3 * y) % 4 < 2 ? 255 : 0); },
      [](int32_t x, int32_t y) { return static_cast<uint8_t>(x % 2 == y % 3 ? 255 : 0); }};
  for (const int32_t w : {30, 33, 39}) {
    for (const std::function<uint8_t(int32_t, int32_t)>& pattern : patterns) {
      const RowImage grey = MakeImage(w, 34, pattern);
      for (const int32_t r : {1, 13, 14, 15}) {
        SCOPED_TRACE(::testing::Message() << "width " << w << " r " << r);
        ExpectSameImages(Orient(grey, true, r, 0), SlowGradient(grey, r, 0));
        ExpectSameImages(Orient(grey, false, r, 3), SlowDifference(grey, r, 3));
      }
    }
  }
}

// Full-contrast stripes of period 6 or 7 with radius 18 or 20 (scanner
// profiles' settings) overflow 32-bit window sums of the moments, which would
// turn the result: the map must still be the direct sums', running along the
// stripes (0 along the rows, 60 along the columns) in the middle.
TEST(PixelOrientationTest, FullContrastStripesBeyondThirtyTwoBitWindowSums) {
  const int32_t stripes[][3] = {{6, 18, 0}, {6, 18, 1}, {7, 20, 1}};  // period, radius, along the columns
  for (const auto& s : stripes) {
    SCOPED_TRACE(::testing::Message() << "period " << s[0] << " radius " << s[1] << " columns " << s[2]);
    const RowImage grey = MakeImage(46, 44, [&](int32_t x, int32_t y) { return Stripe(s[2] ? x : y, s[0]); });
    const Expected gradient = Orient(grey, true, s[1], 70), difference = Orient(grey, false, s[1], 19);
    ExpectSameImages(gradient, SlowGradient(grey, s[1], 70));
    ExpectSameImages(difference, SlowDifference(grey, s[1], 19));
    for (const Expected* out : {&gradient, &difference}) EXPECT_EQ(out->orientation[22][23], s[2] ? 60 : 0);
  }
}

// Column sums are 32-bit while min(2r + 2, h) rows of the largest term fit;
// a tall image with a radius past 457 takes 64-bit sums. Full-contrast
// columns (gx = 1530 on every gradient pixel) of 938 gradient rows pass 2^31
// there, so a wrong choice of width shows against the direct sums.
TEST(PixelOrientationTest, TallFullContrastWindowsTakeWideColumnSums) {
  const int32_t w = 4, h = 940, r = 470;
  const RowImage grey = MakeImage(w, h, [](int32_t x, int32_t y) { return x >= 2 || y % 97 == 0 ? 255 : 0; });
  const Expected actual = Orient(grey, true, r, 70);
  ExpectSameImages(actual, SlowGradient(grey, r, 70));
  EXPECT_EQ(actual.orientation[h / 2][1], 60);  // ridges along the columns
}

// Columns alternating 0 and D: every window pixel has H = D1 = D2 = 2D and
// V = 0, so the largest window sum is (2r + 1)² x 2D, exactly the flatness
// limit when pixelFlatnessMax = D: flat (255) there, a clear ratio one below.
// Radius 122 takes the 64-bit window sums.
TEST(PixelOrientationTest, FlatnessLimitMetExactlyIsFlat) {
  for (const uint8_t d : {5, 19, 40}) {
    for (const int32_t r : {1, 3, 122}) {
      const int32_t side = 2 * r + 3, c = r + 1;  // the window of (c, c) holds every inside pixel
      const RowImage grey = MakeImage(side, side, [d](int32_t x, int32_t) { return static_cast<uint8_t>(x % 2 ? d : 0); });
      EXPECT_EQ(Orient(grey, false, static_cast<uint32_t>(r), d).reliability[c][c], 255) << int{d} << " r " << r;
      const Expected below = Orient(grey, false, static_cast<uint32_t>(r), static_cast<uint8_t>(d - 1));
      EXPECT_EQ(below.reliability[c][c], 0) << int{d} << " r " << r;
      EXPECT_EQ(below.orientation[c][c], 60);
    }
  }
}

}  // namespace
}  // namespace vorsensor::testing
