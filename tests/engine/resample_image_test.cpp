#include "engine/resample_image.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/row_image.h"
#include "support/random.h"

namespace vorsensor {
namespace {

TEST(ResampleImageTest, CopiesHalvesAndInterpolates) {
  testing::TestRandom random(11);
  RowImage source = AllocRowImage(8, 6);
  for (int32_t y = 0; y < 6; ++y) {
    for (int32_t x = 0; x < 8; ++x) source[y][x] = random.Byte();
  }
  RowImage same = AllocRowImage(8, 6);
  ResampleImage(8, 6, source.rows(), 8, 6, same.rows());
  for (int32_t y = 0; y < 6; ++y) EXPECT_EQ(std::memcmp(same[y], source[y], 8), 0);

  // Exactly half: (a + b + c + d + 2) / 4 of each 2 x 2 block.
  RowImage half = AllocRowImage(4, 3);
  ResampleImage(8, 6, source.rows(), 4, 3, half.rows());
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 4; ++x) {
      const int32_t sum = source[2 * y][2 * x] + source[2 * y][2 * x + 1] + source[2 * y + 1][2 * x] +
                          source[2 * y + 1][2 * x + 1];
      EXPECT_EQ(half[y][x], (sum + 2) / 4);
    }
  }

  // Doubling a 2 x 1 row: weights that fall on a source column count 50 / 50,
  // and the upper column is clamped at the last one.
  RowImage pair = AllocRowImage(2, 1);
  pair[0][0] = 0;
  pair[0][1] = 200;
  RowImage wide = AllocRowImage(4, 1);
  ResampleImage(2, 1, pair.rows(), 4, 1, wide.rows());
  EXPECT_EQ(wide[0][0], 100);
  EXPECT_EQ(wide[0][1], 100);
  EXPECT_EQ(wide[0][2], 200);
  EXPECT_EQ(wide[0][3], 200);

  // A constant image stays constant at any size.
  RowImage grey = AllocRowImage(13, 7);
  FillRowImage(grey, 77);
  RowImage odd = AllocRowImage(9, 11);
  ResampleImage(13, 7, grey.rows(), 9, 11, odd.rows());
  for (int32_t y = 0; y < 11; ++y) {
    for (int32_t x = 0; x < 9; ++x) ASSERT_EQ(odd[y][x], 77);
  }
}

}  // namespace
}  // namespace vorsensor
