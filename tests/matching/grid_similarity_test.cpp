#include "matching/grid_similarity.h"

#include <gtest/gtest.h>

#include "feature_set_helpers.h"

namespace vorsensor {
namespace {

using testing::NewFeatureSet;

std::unique_ptr<FeatureSet> GridOf(int32_t width, int32_t height, uint8_t value) {
  auto set = NewFeatureSet();
  set->gridWidth = width;
  set->gridHeight = height;
  for (int32_t j = 0; j < height; ++j) {
    for (int32_t i = 0; i < width; ++i) set->grid[j][i] = value;
  }
  return set;
}

TEST(GridSimilarity, FoldsOrientationDifferences) {
  auto a = GridOf(4, 3, 10);
  auto b = GridOf(5, 2, 10);
  GridAgreement g = GridSimilarity(*a, *b);
  EXPECT_EQ(g.similarity, 8 * 60);  // common 4 x 2 cells
  EXPECT_EQ(g.denominator, 8 * 60);
  // Differences fold to 0..60; below 5 count as 0, above 50 as 60 (both limits met exactly).
  const struct {
    uint8_t value;
    int32_t agreement;
  } cells[] = {{119, 60 - 11}, {14, 60}, {15, 55}, {60, 10}, {61, 0}, {65, 0}, {70, 0}, {kBackgroundBlock, -60}};
  for (const auto& cell : cells) {
    b->grid[1][1] = cell.value;
    g = GridSimilarity(*a, *b);
    EXPECT_EQ(g.similarity, 7 * 60 + (cell.agreement < 0 ? 0 : cell.agreement)) << int{cell.value};
    EXPECT_EQ(g.denominator, (cell.agreement < 0 ? 7 : 8) * 60) << int{cell.value};
  }
  // No common cells: (1, 1); no foreground in common: (0, 1).
  g = GridSimilarity(*a, *GridOf(0, 0, 0));
  EXPECT_EQ(g.similarity, 1);
  EXPECT_EQ(g.denominator, 1);
  g = GridSimilarity(*a, *GridOf(4, 3, kBackgroundBlock));
  EXPECT_EQ(g.similarity, 0);
  EXPECT_EQ(g.denominator, 1);
}

TEST(GridTurnAndShift, QuarterTurnAndBlockShifts) {
  GridScratch scratch;
  auto set = GridOf(3, 2, kBackgroundBlock);
  set->grid[0][2] = 10;  // the block at pixel (32, 0)
  set->grid[1][0] = 100;
  // Rotation 0 only squares the grid.
  TurnGrid(set.get(), 0, 0, 0, scratch);
  EXPECT_EQ(set->gridWidth, 3);
  EXPECT_EQ(set->gridHeight, 3);
  EXPECT_EQ(set->grid[0][2], 10);
  EXPECT_EQ(set->grid[2][0], kBackgroundBlock);
  // A quarter turn about pixel (0, 0): cell (0, 2) takes the old cell (2, 0)
  // and its orientation turns by 60.
  TurnGrid(set.get(), 60, 0, 0, scratch);
  EXPECT_EQ(set->grid[2][0], 70);
  // 100 + 60 wraps to 40; it lands outside the grid and is lost.
  EXPECT_EQ(set->grid[0][1], kBackgroundBlock);
  // Shifts: -8 pixels make one block back, 7 none, 8 one block on.
  ShiftGrid(set.get(), 7, -8, scratch);
  EXPECT_EQ(set->grid[1][0], 70);
  EXPECT_EQ(set->grid[2][0], kBackgroundBlock);
  ShiftGrid(set.get(), 8, 0, scratch);
  EXPECT_EQ(set->grid[1][1], 70);
  EXPECT_EQ(set->grid[1][0], kBackgroundBlock);
}

TEST(GridTurnAndShift, NonSquareShiftStaysInsideTheUsedCells) {
  GridScratch scratch;
  auto set = GridOf(2, 4, 30);
  set->grid[0][3] = 99;  // outside the used width: must never come in
  ShiftGrid(set.get(), -16, 0, scratch);
  EXPECT_EQ(set->grid[0][0], 30);
  EXPECT_EQ(set->grid[0][1], kBackgroundBlock);
}

}  // namespace
}  // namespace vorsensor
