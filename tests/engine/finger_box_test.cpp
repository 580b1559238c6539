// The finger box and moving a cut-out's grid back, on hand-made images.
#include "engine/finger_box.h"

#include <gtest/gtest.h>

#include <memory>

#include "engine/row_image.h"
#include "support/grey_images.h"

namespace vorsensor {
namespace {

constexpr uint32_t kLevel = 30;    // the default crop level
constexpr uint32_t kMinSide = 16;  // the default smallest image side

// A white nw x nh image with the columns [x0, x1] of the rows [y0, y1] black.
RowImage DarkRectangle(int32_t nw, int32_t nh, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
  return testing::MakeImage(nw, nh, [=](int32_t x, int32_t y) -> uint8_t {
    return x >= x0 && x <= x1 && y >= y0 && y <= y1 ? 0 : 255;
  });
}

TEST(FindFingerBox, AlignsTheBoxToBlocksAndKeepsItInTheImage) {
  struct Case {
    const char* what;
    int32_t nw, nh, x0, x1, y0, y1;  // the dark rectangle; x1 < x0 for none
    FingerBox expected;
  };
  const Case cases[] = {
      {"inside", 256, 288, 40, 119, 50, 199, {32, 48, 96, 160}},
      {"whole image", 256, 288, 0, 255, 0, 287, {0, 0, 256, 288}},
      {"no dark line: 16 wide at the far end", 256, 288, 1, 0, 1, 0, {240, 272, 16, 16}},
      {"no dark line, side not a multiple of 16", 250, 270, 1, 0, 1, 0, {224, 240, 16, 16}},
      {"rounded up to the image edge", 256, 288, 200, 250, 0, 287, {192, 0, 64, 288}},
      {"cut at the image edge", 250, 288, 230, 249, 0, 287, {224, 0, 26, 288}},
      {"one line near the edge: at least 16", 256, 288, 250, 250, 20, 20, {240, 16, 16, 16}},
  };
  for (const Case& c : cases) {
    RowImage image = DarkRectangle(c.nw, c.nh, c.x0, c.x1, c.y0, c.y1);
    const FingerBox box = FindFingerBox(c.nw, c.nh, image.rows(), kLevel, kMinSide);
    EXPECT_EQ(box.x0, c.expected.x0) << c.what;
    EXPECT_EQ(box.y0, c.expected.y0) << c.what;
    EXPECT_EQ(box.width, c.expected.width) << c.what;
    EXPECT_EQ(box.height, c.expected.height) << c.what;
    const bool whole = c.expected.x0 == 0 && c.expected.y0 == 0 && c.expected.width == c.nw &&
                       c.expected.height == c.nh;
    EXPECT_EQ(CutsImage(box, c.nw, c.nh), !whole) << c.what;
  }
}

TEST(FindFingerBox, ALineCountsFromExactlyTheCropLevel) {
  // One grey pixel in column 100 (of 288 rows): darkness 87 gives
  // 100 x 87 / 288 = 30, the level; 86 gives 29.
  for (const int32_t darkness : {86, 87}) {
    RowImage image = testing::ConstantImage(256, 288, 255);
    image[150][100] = static_cast<uint8_t>(255 - darkness);
    const FingerBox box = FindFingerBox(256, 288, image.rows(), kLevel, kMinSide);
    if (darkness == 87) {
      EXPECT_EQ(box.x0, 96);
      EXPECT_EQ(box.width, 16);
    } else {
      EXPECT_EQ(box.x0, 240);
    }
    // The row holds that darkness over 256 columns: 100 x 87 / 256 = 33.
    EXPECT_EQ(box.y0, 144);
  }
  // Rows: 100 x 77 / 256 = 30 counts, 76 gives 29.
  for (const int32_t darkness : {76, 77}) {
    RowImage image = testing::ConstantImage(256, 288, 255);
    image[40][10] = static_cast<uint8_t>(255 - darkness);
    const FingerBox box = FindFingerBox(256, 288, image.rows(), kLevel, kMinSide);
    EXPECT_EQ(box.y0, darkness == 77 ? 32 : 272) << darkness;
  }
}

// Cutting, pasting and moving points and grid are checked end to end by the
// extraction entry's cut-to-the-finger test; here the grid's edge cases.
TEST(ShiftFeatures, GridlessSetsAndTheWidestGrid) {
  // Without a grid none is made; a full-width image's grid stops at 128; a
  // grid counts only whole blocks.
  auto bare = std::make_unique<FeatureSet>();
  ClearFeatureSet(bare.get());
  ShiftFeatures(bare.get(), FingerBox{16, 16, 16, 16}, 256, 288);
  EXPECT_EQ(bare->gridWidth, 0);
  bare->gridWidth = 1;
  bare->gridHeight = 1;
  bare->grid[0][0] = 7;
  ShiftFeatures(bare.get(), FingerBox{2032, 0, 16, 16}, 2048, 16);
  EXPECT_EQ(bare->gridWidth, kMaxGridSide);
  EXPECT_EQ(bare->gridHeight, 1);
  EXPECT_EQ(bare->grid[0][127], 7);
  EXPECT_EQ(bare->grid[0][0], kBackgroundBlock);
  ShiftFeatures(bare.get(), FingerBox{32, 16, 48, 32}, 130, 70);  // whole blocks only
  EXPECT_EQ(bare->gridWidth, 8);
  EXPECT_EQ(bare->gridHeight, 4);
}

}  // namespace
}  // namespace vorsensor
