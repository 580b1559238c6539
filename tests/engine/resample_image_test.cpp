#include "engine/resample_image.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "engine/row_image.h"
#include "support/random.h"

namespace vorsensor {
namespace {

// The copy at the same size and the 2 x 2 halving (rounded) are checked on
// whole images by the extraction entry's test; other sizes by the plain rule.
// The bilinear rule written out plainly, with the position products in Int:
// int32_t for sizes whose products fit it, int64_t for any size.
template <typename Int>
std::vector<uint8_t> Bilinear(int32_t width, int32_t height, const std::vector<uint8_t>& source, int32_t nw,
                              int32_t nh) {
  std::vector<uint8_t> target(static_cast<size_t>(nw) * static_cast<size_t>(nh));
  for (int32_t r = 0; r < nh; ++r) {
    const Int p = static_cast<Int>(r) * height * 100 / nh;
    const Int y0 = p / 100;
    const Int y1 = y0 + 1 < height ? y0 + 1 : height - 1;
    Int fy = p - 100 * y0;
    if (fy == 0 && height != nh) fy = 50;
    for (int32_t c = 0; c < nw; ++c) {
      const Int q = static_cast<Int>(c) * width * 100 / nw;
      const Int x0 = q / 100;
      const Int x1 = x0 + 1 < width ? x0 + 1 : width - 1;
      Int fx = q % 100;
      if (fx == 0 && width != nw) fx = 50;
      auto s = [&](Int y, Int x) { return static_cast<int64_t>(source[static_cast<size_t>(y * width + x)]); };
      const int64_t value = s(y0, x0) * (100 - fy) * (100 - fx) + s(y0, x1) * (100 - fy) * fx +
                            s(y1, x0) * fy * (100 - fx) + s(y1, x1) * fy * fx + 5000;
      target[static_cast<size_t>(r) * static_cast<size_t>(nw) + static_cast<size_t>(c)] =
          static_cast<uint8_t>(value / 10000);
    }
  }
  return target;
}

std::vector<uint8_t> Resampled(int32_t width, int32_t height, const std::vector<uint8_t>& source, int32_t nw,
                               int32_t nh) {
  RowImage in = AllocRowImage(width, height);
  for (int32_t y = 0; y < height; ++y) std::memcpy(in[y], &source[static_cast<size_t>(y) * width], width);
  RowImage out = AllocRowImage(nw, nh);
  ResampleImage(width, height, in.rows(), nw, nh, out.rows());
  std::vector<uint8_t> flat;
  for (int32_t y = 0; y < nh; ++y) flat.insert(flat.end(), out[y], out[y] + nw);
  return flat;
}

TEST(ResampleImageTest, MatchesThePlainRuleAtEverySizeAndPastThirtyTwoBitProducts) {
  testing::TestRandom random(12);
  // Sizes whose products fit 32 bits: identical to the rule computed in 32 bits.
  for (int trial = 0; trial < 40; ++trial) {
    const int32_t width = random.Range(1, 90), height = random.Range(1, 90);
    const int32_t nw = random.Range(1, 90), nh = random.Range(1, 90);
    if (width == 2 * nw && height == 2 * nh) continue;  // the halving rule
    std::vector<uint8_t> source(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (uint8_t& p : source) p = random.Byte();
    ASSERT_EQ(Resampled(width, height, source, nw, nh), Bilinear<int32_t>(width, height, source, nw, nh))
        << width << "x" << height << " -> " << nw << "x" << nh;
  }
  // A 10500-row (and a 10500-column) image at 2564 dpi normalises to 2047:
  // 2046 x 10500 x 100 passes 32 bits, and the last rows must still come from
  // the bottom of the source.
  static_assert(int64_t{2046} * 10500 * 100 > INT32_MAX, "the case must overflow 32 bits");
  std::vector<uint8_t> ramp(10500);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i * 255 / (ramp.size() - 1));
  const std::vector<uint8_t> column = Resampled(1, 10500, ramp, 1, 2047);
  EXPECT_EQ(column, Bilinear<int64_t>(1, 10500, ramp, 1, 2047));
  EXPECT_EQ(column.back(), 254);  // rows 10494 and 10495 of the ramp
  const std::vector<uint8_t> row = Resampled(10500, 1, ramp, 2047, 1);
  EXPECT_EQ(row, column);
}

}  // namespace
}  // namespace vorsensor
