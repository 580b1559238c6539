#include "engine/contrast_normalisation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "engine/box_mean.h"
#include "engine/result_codes.h"
#include "support/grey_images.h"

namespace vorsensor::testing {
namespace {

// Each output from its window directly: the mean deviation |M - G| over the
// clipped window, then the stretch of G from [m - d, m + d] onto 0..255.
std::vector<uint8_t> SlowNormalise(const RowImage& grey, const RowImage& mean, int64_t r) {
  const int32_t w = grey.width();
  const int32_t h = grey.height();
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const WindowSum window = ClippedWindowSum(
          w, h, x, y, r, [&](int32_t xx, int32_t yy) { return std::abs(mean[yy][xx] - grey[yy][xx]); });
      const int64_t d = window.sum / window.count;
      const int64_t m = mean[y][x];
      const int64_t p = grey[y][x];
      const int64_t lo = d > m ? 0 : m - d;
      const int64_t hi = m + d > 255 ? 255 : m + d;
      int64_t v;
      if (hi == lo) {
        v = p;
      } else if (p <= lo) {
        v = 0;
      } else if (p >= hi) {
        v = 255;
      } else {
        v = (p - lo) * 255 / (hi - lo);
      }
      out.push_back(static_cast<uint8_t>(v));
    }
  }
  return out;
}

TEST(NormaliseContrast, MatchesDirectComputationOnAwkwardSizes) {
  TestRandom random(61);
  const int32_t sizes[][2] = {{1, 1}, {1, 9}, {8, 1}, {3, 2}, {17, 6}, {31, 33}, {64, 7}};
  for (const auto& size : sizes) {
    for (uint32_t r : {0u, 1u, 4u, 9u, 128u}) {
      const int32_t w = size[0];
      const int32_t h = size[1];
      RowImage grey = RandomImage(w, h, random);
      // A real local mean as the pipeline makes it, and a random "mean" that
      // stresses the clipping of lo and hi.
      for (int variant = 0; variant < 2; ++variant) {
        RowImage mean = AllocRowImage(w, h);
        CopyRowImage(mean.rows(), grey.rows(), w, h);
        if (variant == 0) {
          ASSERT_EQ(BoxMean(w, h, mean.rows(), 2), kOk);
        } else {
          mean = RandomImage(w, h, random);
        }
        const std::vector<uint8_t> grey_before = Pixels(grey);
        const std::vector<uint8_t> expected = SlowNormalise(grey, mean, r);
        ASSERT_EQ(NormaliseContrast(w, h, grey.rows(), mean.rows(), r), kOk);
        EXPECT_EQ(Pixels(mean), expected) << w << "x" << h << " r=" << r;
        EXPECT_EQ(Pixels(grey), grey_before);
      }
    }
  }
}

TEST(NormaliseContrast, ConstantImageUnchanged) {
  RowImage grey = ConstantImage(20, 12, 90);
  RowImage mean = ConstantImage(20, 12, 90);
  ASSERT_EQ(NormaliseContrast(20, 12, grey.rows(), mean.rows(), 128), kOk);
  for (uint8_t v : Pixels(mean)) ASSERT_EQ(v, 90);
}

TEST(NormaliseContrast, ValueAtItsMeanMapsToMiddleAndWhiteAreasStretchAsymmetrically) {
  // Columns alternate 100 and 140 around a mean of 120; with the one pixel at
  // its mean, d = floor(63 x 20 / 64) = 19 and that pixel maps to
  // floor(19 x 255 / 38) = 127.
  RowImage grey = MakeImage(8, 8, [](int32_t x, int32_t) { return static_cast<uint8_t>(x % 2 ? 140 : 100); });
  RowImage mean = ConstantImage(8, 8, 120);
  grey[3][3] = 120;
  ASSERT_EQ(NormaliseContrast(8, 8, grey.rows(), mean.rows(), 100), kOk);
  EXPECT_EQ(mean[3][3], 127);
  EXPECT_EQ(mean[0][0], 0);
  EXPECT_EQ(mean[0][1], 255);

  // Near white hi is cut at 255: mean 245, d = floor((32 x 20 + 31 x 10) / 64)
  // = 14 stretches [231, 255], so the pixel at its mean lands above the middle.
  RowImage bright = MakeImage(8, 8, [](int32_t x, int32_t) { return static_cast<uint8_t>(x % 2 ? 255 : 225); });
  RowImage bright_mean = ConstantImage(8, 8, 245);
  bright[3][3] = 245;
  ASSERT_EQ(NormaliseContrast(8, 8, bright.rows(), bright_mean.rows(), 100), kOk);
  EXPECT_EQ(bright_mean[3][3], 14 * 255 / 24);
  EXPECT_EQ(bright_mean[3][2], 0);
  EXPECT_EQ(bright_mean[3][4], 0);
}

}  // namespace
}  // namespace vorsensor::testing
