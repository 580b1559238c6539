// Row image allocation, copy and fill.
#include "engine/row_image.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vorsensor {
namespace {

TEST(RowImage, AllocatesAndAcceptsEmptySizes) {
  RowImage image = AllocRowImage(7, 5);
  ASSERT_TRUE(image.valid());
  EXPECT_EQ(image.width(), 7);
  EXPECT_EQ(image.height(), 5);

  RowImage noRows = AllocRowImage(256, 0);
  EXPECT_TRUE(noRows.valid());  // an empty row array, still a real image
  EXPECT_EQ(noRows.height(), 0);
  FillRowImage(noRows, 1);
  RowImage noColumns = AllocRowImage(0, 3);
  EXPECT_TRUE(noColumns.valid());
  FillRowImage(noColumns, 1);
  EXPECT_FALSE(AllocRowImage(-1, 4).valid());
  EXPECT_FALSE(AllocRowImage(4, -1).valid());
  RowImage none;
  FillRowImage(none, 9);  // nothing to fill
}

TEST(RowImage, CopyAndFillTouchOnlyTheGivenArea) {
  RowImage source = AllocRowImage(6, 4);
  RowImage target = AllocRowImage(9, 5);
  ASSERT_TRUE(source.valid() && target.valid());
  for (int32_t r = 0; r < 4; ++r) {
    for (int32_t c = 0; c < 6; ++c) source[r][c] = static_cast<uint8_t>(10 * r + c);
  }
  FillRowImage(target, 200);
  CopyRowImage(target.rows(), source.rows(), 5, 3);
  for (int32_t r = 0; r < 5; ++r) {
    for (int32_t c = 0; c < 9; ++c) {
      const bool copied = r < 3 && c < 5;
      ASSERT_EQ(target[r][c], copied ? 10 * r + c : 200) << r << "," << c;
    }
  }
  // Nothing happens for empty sizes or missing images.
  CopyRowImage(target.rows(), source.rows(), 0, 4);
  CopyRowImage(nullptr, source.rows(), 6, 4);
  CopyRowImage(target.rows(), nullptr, 6, 4);
  EXPECT_EQ(target[0][5], 200);
}

}  // namespace
}  // namespace vorsensor
