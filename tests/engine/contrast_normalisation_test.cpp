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
        for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
          RowImage out = AllocRowImage(w, h);
          CopyRowImage(out.rows(), mean.rows(), w, h);
          ASSERT_EQ(NormaliseContrast(w, h, grey.rows(), out.rows(), r, static_cast<SimdLevel>(level)), kOk);
          EXPECT_EQ(Pixels(out), expected) << w << "x" << h << " r=" << r << " level " << level;
          EXPECT_EQ(Pixels(grey), grey_before);
        }
      }
    }
  }
}

// Windows of up to 257 x 257 pixels deviating by 255 almost everywhere: sums
// past 2^24, where the vector code's float estimate of the mean deviation is
// rounded, and exact multiples of the count. Every level against the plain code.
TEST(NormaliseContrast, LevelsAgreeOnLargeWindowsOfFullDeviation) {
  TestRandom random(62);
  const int32_t w = 261, h = 300;
  RowImage grey = RandomImage(w, h, random);
  RowImage mean = AllocRowImage(w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      grey[y][x] = (grey[y][x] & 1) != 0 ? 255 : 0;
      mean[y][x] = static_cast<uint8_t>(random.Range(0, 99) == 0 ? random.Range(0, 255) : 255 - grey[y][x]);
    }
  }
  for (uint32_t r : {128u, 200u}) {
    std::vector<uint8_t> results[3];
    for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
      RowImage out = AllocRowImage(w, h);
      CopyRowImage(out.rows(), mean.rows(), w, h);
      ASSERT_EQ(NormaliseContrast(w, h, grey.rows(), out.rows(), r, static_cast<SimdLevel>(level)), kOk);
      results[level] = Pixels(out);
      EXPECT_EQ(results[level], results[0]) << "r=" << r << " level " << level;
    }
  }
}

}  // namespace
}  // namespace vorsensor::testing
