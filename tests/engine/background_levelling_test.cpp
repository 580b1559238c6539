#include "engine/background_levelling.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/grey_images.h"

namespace vorsensor::testing {
namespace {

// 3 x 3 mean of (x, y) clipped at the image edges.
int32_t ClippedMean(const RowImage& image, int32_t x, int32_t y) {
  const WindowSum window = ClippedWindowSum(image.width(), image.height(), x, y, 1,
                                            [&](int32_t xx, int32_t yy) { return image[yy][xx]; });
  return static_cast<int32_t>(window.sum / window.count);
}

struct Levelled {
  RowImage mean;
  RowImage deviation;
  RowImage output;
};
Levelled Level(const RowImage& grey) {
  const int32_t w = grey.width();
  const int32_t h = grey.height();
  Levelled result{AllocRowImage(w, h), AllocRowImage(w, h), AllocRowImage(w, h)};
  LevelBackground(w, h, grey.rows(), result.mean.rows(), result.deviation.rows(), result.output.rows());
  return result;
}

TEST(LevelBackground, BorderAndQuietPixelsBecomeTheirLocalMeanOthersKeepAFraction) {
  TestRandom random(71);
  RowImage grey = RandomImage(29, 23, random);
  Levelled result = Level(grey);
  // Mean deviation recomputed from the deviation image.
  int64_t total = 0;
  for (int32_t y = 1; y < 22; ++y) {
    for (int32_t x = 1; x < 28; ++x) total += result.deviation[y][x];
  }
  const int32_t d = static_cast<int32_t>(total / (28 * 22));
  for (int32_t y = 0; y < 23; ++y) {
    for (int32_t x = 0; x < 29; ++x) {
      const int32_t m = ClippedMean(grey, x, y);
      ASSERT_EQ(result.mean[y][x], m);
      const bool border = x == 0 || y == 0 || x == 28 || y == 22;
      if (border) {
        ASSERT_EQ(result.deviation[y][x], 0);
      }
      const int32_t s = result.deviation[y][x];
      if (s <= d) {
        ASSERT_EQ(result.output[y][x], m) << x << "," << y;
      } else {
        // The difference from the mean shrinks to the fraction (s - d) / s, rounded towards the mean.
        ASSERT_EQ(result.output[y][x], m + (s - d) * (grey[y][x] - m) / s) << x << "," << y;
      }
    }
  }
}

TEST(LevelBackground, UniformDeviationIsKeptInProportionAndInPlaceGivesTheSame) {
  // A checkerboard of 0 and 255: every inside 3 x 3 neighbourhood has deviation
  // 127 (5 of one value and 4 of the other), so D = floor(127 (w-2)(h-2) / ((w-1)(h-1))).
  const int32_t w = 20, h = 14;
  RowImage grey = MakeImage(w, h, [](int32_t x, int32_t y) { return static_cast<uint8_t>((x + y) % 2 ? 255 : 0); });
  Levelled result = Level(grey);
  const int32_t d = 127 * (w - 2) * (h - 2) / ((w - 1) * (h - 1));
  ASSERT_EQ(d, 111);
  for (int32_t y = 1; y < h - 1; ++y) {
    for (int32_t x = 1; x < w - 1; ++x) {
      ASSERT_EQ(result.deviation[y][x], 127);
      const int32_t m = result.mean[y][x];
      EXPECT_EQ(result.output[y][x], m + (127 - d) * (grey[y][x] - m) / 127);
    }
  }
  RowImage mean = AllocRowImage(w, h), deviation = AllocRowImage(w, h);
  LevelBackground(w, h, grey.rows(), mean.rows(), deviation.rows(), grey.rows());
  EXPECT_EQ(Pixels(grey), Pixels(result.output));
}

TEST(LevelBackground, ImagesWithoutInsidePixelsBecomeTheirLocalMean) {
  // One pixel wide or high: the mean deviation's divisor (w - 1)(h - 1) is 0.
  TestRandom random(72);
  const int32_t sizes[][2] = {{1, 1}, {1, 6}, {7, 1}, {2, 5}};
  for (const auto& size : sizes) {
    RowImage grey = RandomImage(size[0], size[1], random);
    Levelled result = Level(grey);
    for (int32_t y = 0; y < size[1]; ++y) {
      for (int32_t x = 0; x < size[0]; ++x) EXPECT_EQ(result.output[y][x], ClippedMean(grey, x, y));
    }
  }
}

}  // namespace
}  // namespace vorsensor::testing
