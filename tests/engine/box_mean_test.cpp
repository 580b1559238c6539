#include "engine/box_mean.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/result_codes.h"
#include "support/grey_images.h"

namespace vorsensor::testing {
namespace {

// Each output computed directly from its clipped window of the input.
std::vector<uint8_t> SlowBoxMean(const RowImage& image, int64_t r) {
  const int32_t w = image.width();
  const int32_t h = image.height();
  r = std::min<int64_t>(r, std::max(w, h));  // a larger window holds nothing more
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const WindowSum window =
          ClippedWindowSum(w, h, x, y, r, [&](int32_t xx, int32_t yy) { return image[yy][xx]; });
      out.push_back(static_cast<uint8_t>(window.sum / window.count));
    }
  }
  return out;
}

struct Size {
  int32_t w;
  int32_t h;
};
// Awkward sizes: single pixels, single rows and columns, widths that are not
// multiples of 16, images lower than the row ring (radius beyond the image).
const Size kSizes[] = {{1, 1}, {1, 7}, {9, 1}, {2, 3}, {17, 5}, {5, 17}, {33, 29}, {47, 2}, {100, 13}};
const uint32_t kRadii[] = {0, 1, 2, 3, 7, 20, 60, 0xFFFFFFFFu};

// At every vector level the machine runs.
TEST(BoxMean, MatchesDirectWindowMeansOnAwkwardSizes) {
  TestRandom random(51);
  for (const Size& size : kSizes) {
    for (uint32_t r : kRadii) {
      const RowImage source = RandomImage(size.w, size.h, random);
      const std::vector<uint8_t> expected = SlowBoxMean(source, r);
      for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
        RowImage image = AllocRowImage(size.w, size.h);
        CopyRowImage(image.rows(), source.rows(), size.w, size.h);
        ASSERT_EQ(BoxMean(size.w, size.h, image.rows(), r, static_cast<SimdLevel>(level)), kOk);
        EXPECT_EQ(Pixels(image), expected) << size.w << "x" << size.h << " r=" << r << " level " << level;
      }
    }
  }
}

TEST(BoxMean, ImagesBeyondTheMultiplyingDividerStillDivideExactly) {
  // 2^23 pixels in one row: the means fall back to plain division.
  const int32_t w = 1 << 23;
  TestRandom random(53);
  RowImage image = RandomImage(w, 1, random);
  RowImage original = AllocRowImage(w, 1);
  CopyRowImage(original.rows(), image.rows(), w, 1);
  ASSERT_EQ(BoxMean(w, 1, image.rows(), 3), kOk);
  for (int i = 0; i < 2000; ++i) {
    const int32_t x = i < 8 ? (i < 4 ? i : w - 8 + i) : random.Range(0, w - 1);
    const WindowSum window = ClippedWindowSum(w, 1, x, 0, 3, [&](int32_t xx, int32_t) { return original[0][xx]; });
    ASSERT_EQ(image[0][x], window.sum / window.count) << x;
  }
}

}  // namespace
}  // namespace vorsensor::testing
