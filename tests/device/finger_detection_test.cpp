// Finger detection: the thresholds (mean grey 100, block contrast 7, 512
// foreground blocks) sat on exactly, the window, and the mask rules.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "device/driver_contract.h"
#include "device/finger_detection.h"
#include "support/random.h"

namespace vorsensor::testing {
namespace {

using Image = std::vector<uint8_t>;

Image Uniform(uint8_t value) { return Image(kImageBytes, value); }

// The 256 x 288 image whose window block (bx, by) (window rows start at image
// row 16) has foreground(bx, by) ? half its pixels at base and half at
// base + 2 * contrast : base everywhere.
Image Blocks(const std::function<bool(int32_t, int32_t)>& foreground, uint8_t base = 200, int32_t contrast = 10) {
  Image image = Uniform(base);
  for (int32_t y = 0; y < 256; ++y) {
    for (int32_t x = 0; x < 256; ++x) {
      if (foreground(x / 8, y / 8) && ((x + y) & 1) != 0) {
        image[static_cast<size_t>((y + 16) * 256 + x)] = static_cast<uint8_t>(base + 2 * contrast);
      }
    }
  }
  return image;
}

FingerEvidence Judge(const Image& image) { return JudgeFingerImage(image.data(), kImageWidth, kImageHeight); }

TEST(FingerDetectionTest, UniformWindowsAreDecidedByTheMeanGreyAlone) {
  struct Case {
    uint8_t grey;
    bool finger;
  };
  const Case cases[] = {{0, true}, {100, true}, {101, false}, {255, false}};
  for (const Case& c : cases) {
    const Image image = Uniform(c.grey);
    const FingerEvidence e = Judge(image);
    EXPECT_EQ(e.present, c.finger) << int{c.grey};
    EXPECT_EQ(e.foregroundBlocks, 0);
    EXPECT_EQ(e.meanGrey, c.grey);
    EXPECT_EQ(CheckFingerImage(image.data(), 256, 288), c.finger ? 0 : -1);
    EXPECT_EQ(HasFinger(256, 288, image.data()), c.finger ? 1 : 0);
  }
}

TEST(FingerDetectionTest, ABlockIsForegroundFromContrast7) {
  struct Case {
    uint8_t low, high;
    int32_t mask;  // contrast, or 255
  };
  // Half the pixels low, half high: mean floor((low + high) / 2), contrast the
  // floor of the mean distance from it.
  const Case cases[] = {{200, 214, 7}, {200, 212, 255}, {200, 213, 255} /* 6.5 */, {200, 215, 7} /* 7.5 */,
                        {0, 254, 127}};
  for (const Case& c : cases) {
    Image window(256 * 256, c.low);
    for (int32_t y = 0; y < 8; ++y) {
      for (int32_t x = 0; x < 8; ++x) {
        if ((x + y) & 1) window[static_cast<size_t>((40 + y) * 256 + 40 + x)] = c.high;
      }
    }
    uint8_t mask[kBlockMaskBytes];
    std::fill(mask, mask + kBlockMaskBytes, kFilledBlock);
    SetBlockContrasts(window.data(), mask);
    EXPECT_EQ(mask[5 * 32 + 5], c.mask) << int{c.low} << ".." << int{c.high};
    EXPECT_EQ(mask[5 * 32 + 6], kBackgroundMaskBlock);
  }
}

// Two rectangles of foreground blocks, two blocks apart; the clean-up takes
// each rectangle's four corner blocks, nothing else changes.
std::function<bool(int32_t, int32_t)> TwoRectangles(int32_t height1, int32_t width2, int32_t height2) {
  return [=](int32_t bx, int32_t by) {
    const bool first = bx >= 1 && bx <= 20 && by >= 1 && by <= height1;
    const bool second = bx >= 31 - width2 && bx <= 30 && by >= 1 && by <= height2;
    return first || second;
  };
}

TEST(FingerDetectionTest, MoreThan512ForegroundBlocksIsAFinger) {
  struct Case {
    int32_t height1, width2, height2;
    int32_t blocks;
  };
  const Case cases[] = {{20, 8, 15, 512}, {18, 7, 23, 513}};
  for (const Case& c : cases) {
    const FingerEvidence e = Judge(Blocks(TwoRectangles(c.height1, c.width2, c.height2)));
    EXPECT_EQ(e.foregroundBlocks, c.blocks);
    EXPECT_GT(e.meanGrey, 100);
    EXPECT_EQ(e.present, c.blocks > 512);
  }
  // Everything inside the border: the corners go, at most 900 could count.
  const FingerEvidence all = Judge(Blocks([](int32_t, int32_t) { return true; }));
  EXPECT_EQ(all.foregroundBlocks, 30 * 30 - 4);
  EXPECT_TRUE(all.present);
}

TEST(FingerDetectionTest, RowsOutsideTheWindowNeverCount) {
  TestRandom random(9);
  for (const bool finger : {false, true}) {
    Image image = finger ? Blocks(TwoRectangles(18, 7, 23)) : Blocks(TwoRectangles(20, 8, 15));
    const FingerEvidence before = Judge(image);
    for (int32_t y : {0, 15, 272, 287}) {
      for (int32_t x = 0; x < 256; ++x) image[static_cast<size_t>(y * 256 + x)] = random.Byte();
    }
    for (int32_t y = 0; y < 16; ++y) {
      for (int32_t x = 0; x < 256; ++x) {
        image[static_cast<size_t>(y * 256 + x)] = 0;
        image[static_cast<size_t>((y + 272) * 256 + x)] = 0;
      }
    }
    const FingerEvidence after = Judge(image);
    EXPECT_EQ(after.present, before.present);
    EXPECT_EQ(after.foregroundBlocks, before.foregroundBlocks);
    EXPECT_EQ(after.meanGrey, before.meanGrey);
  }
}

TEST(FingerDetectionTest, ImagesTooSmallForTheWindowHaveNoFinger) {
  // A dark image would be a finger if its window were read.
  struct Case {
    int32_t width, height;
    bool finger;
  };
  // 255 x 288: the window starts one byte earlier and still lies in the
  // buffer; 200 x 256: it would start before the image.
  const Case cases[] = {{256, 256, true},  {256, 255, false}, {255, 288, true},
                        {200, 256, false}, {0, 288, false},   {300, 300, true}};
  for (const Case& c : cases) {
    const Image image(static_cast<size_t>(c.width) * static_cast<size_t>(c.height), 0);
    EXPECT_EQ(CheckFingerImage(image.data(), c.width, c.height), c.finger ? 0 : -1) << c.width << "x" << c.height;
  }
  EXPECT_EQ(CheckFingerImage(nullptr, 256, 288), -1);
}

// Masks for the pass rules: 'f' foreground (value 40 unless a digit gives it
// in tens), '.' background.
std::vector<uint8_t> Mask(const std::vector<std::string>& rows) {
  std::vector<uint8_t> mask(kBlockMaskBytes, kBackgroundMaskBlock);
  for (size_t y = 0; y < rows.size(); ++y) {
    for (size_t x = 0; x < rows[y].size(); ++x) {
      const char c = rows[y][x];
      if (c == 'f') mask[y * 32 + x] = 40;
      if (c >= '1' && c <= '9') mask[y * 32 + x] = static_cast<uint8_t>((c - '0') * 10);
    }
  }
  return mask;
}

TEST(FingerDetectionTest, CleanUpFillsBetweenOppositeNeighboursAndRemovesLoneBlocks) {
  // A solid patch of 40s with a hole at (4, 4): up 20 and down 50 come first
  // (35, not the diagonals' 40).
  const std::vector<std::string> patch = {"..........", ".ffffffff.", ".ffffffff.", ".fff2ffff.", ".ffffffff.",
                                          ".fff5ffff.", ".ffffffff.", ".........."};
  std::vector<uint8_t> mask = Mask(patch);
  mask[4 * 32 + 4] = kBackgroundMaskBlock;
  CleanUpBlockMask(mask.data());
  EXPECT_EQ(mask[4 * 32 + 4], 35);
  // With the block below missing too, up-right 30 and down-left 60 give 45.
  std::vector<std::string> diagonal = patch;
  diagonal[3][5] = '3';
  diagonal[5][3] = '6';
  mask = Mask(diagonal);
  mask[4 * 32 + 4] = kBackgroundMaskBlock;
  mask[5 * 32 + 4] = kBackgroundMaskBlock;
  CleanUpBlockMask(mask.data());
  EXPECT_EQ(mask[4 * 32 + 4], 45);
  // A lone foreground block with background above and below goes.
  std::vector<uint8_t> lone = Mask({"....", "..f.", "...."});
  CleanUpBlockMask(lone.data());
  EXPECT_EQ(lone[1 * 32 + 2], kBackgroundMaskBlock);
  // Left and right neighbours are never consulted.
  std::vector<uint8_t> sideways = Mask({".....", ".f.f.", "....."});
  CleanUpBlockMask(sideways.data());
  EXPECT_EQ(sideways[1 * 32 + 2], kBackgroundMaskBlock);
}

TEST(FingerDetectionTest, FillPassesCloseHolesBetweenForegroundOnBothSides) {
  std::vector<uint8_t> mask = Mask({"..........",  //
                                    ".ffffff...",  //
                                    ".ff..ff...",  //
                                    ".ff..f....",  //
                                    ".ffffff...",  //
                                    ".........."});
  FillMaskRows(mask.data());
  EXPECT_EQ(mask[2 * 32 + 3], kFilledBlock);
  EXPECT_EQ(mask[3 * 32 + 4], kFilledBlock);
  EXPECT_EQ(mask[3 * 32 + 6], kBackgroundMaskBlock) << "beyond the row's last foreground column";
  // A bay open to the right: neither pass fills it; closed by a wall, the
  // column pass does (foreground to the left and to the right in its row).
  std::vector<uint8_t> bay = Mask({"..........",  //
                                   ".ffffff...",  //
                                   ".ff.......",  //
                                   ".ffffff...",  //
                                   ".........."});
  FillMaskRows(bay.data());
  FillMaskColumns(bay.data());
  EXPECT_EQ(bay[2 * 32 + 3], kBackgroundMaskBlock);
  bay[2 * 32 + 6] = 40;
  FillMaskColumns(bay.data());
  for (int32_t x = 3; x <= 5; ++x) EXPECT_EQ(bay[2 * 32 + x], kFilledBlock) << x;
}

}  // namespace
}  // namespace vorsensor::testing
