#include "engine/minutiae/bifurcation_cleaning.h"

#include <gtest/gtest.h>

#include "engine/minutiae/tracing_primitives.h"
#include "minutiae/skeleton_pictures.h"

namespace vorsensor {
namespace {

using testing::Picture;

constexpr int32_t kSide = 70;

BifurcationCleaningParameters Defaults() { return {30, 110, 93, 70, 50, 30, 10, 15, 5, 3, 40}; }

void Clean(RowImage& image) {
  RowImage map = testing::BlankImage(image.width(), image.height(), 0);
  CleanBifurcations(image.width(), image.height(), image.rows(), map.rows(), Defaults());
}

int32_t CountBifurcations(const RowImage& image) {
  int32_t count = 0;
  for (int32_t y = 1; y < image.height() - 1; ++y) {
    for (int32_t x = 1; x < image.width() - 1; ++x) count += CrossingNumber(image.rows(), x, y) == 3 ? 1 : 0;
  }
  return count;
}

// A stem running west from P = (x, y) and a small diamond loop east of it.
RowImage StemAndLoop(int32_t x, int32_t y) {
  RowImage image = testing::BlankImage(kSide, kSide);
  testing::HorizontalRidge(image, y, x - 10, x);
  const int32_t loop[][2] = {{1, -1}, {2, -2}, {3, -1}, {4, 0}, {3, 1}, {2, 2}, {1, 1}};
  for (const auto& p : loop) image[y + p[1]][x + p[0]] = 0;
  return image;
}

TEST(BifurcationCleaningTest, SmallLoopOpensOnlyInsideTheMargin) {
  // Bifurcations are examined on rows and columns 21..w-22 (21..48 here).
  struct Case {
    int32_t x, y;
    bool examined;
  };
  const Case cases[] = {{20, 30, false}, {21, 30, true}, {48, 30, true}, {49, 30, false},
                        {30, 20, false}, {30, 21, true}, {30, 48, true}, {30, 49, false}};
  for (const Case& c : cases) {
    RowImage image = StemAndLoop(c.x, c.y);
    const Picture before = testing::WholePicture(image);
    Clean(image);
    if (!c.examined) {
      EXPECT_EQ(testing::WholePicture(image), before) << c.x << ',' << c.y;
      continue;
    }
    // The longer way round the loop goes; the stem and the short way stay.
    RowImage expected = testing::BlankImage(kSide, kSide);
    testing::HorizontalRidge(expected, c.y, c.x - 10, c.x);
    expected[c.y + 1][c.x + 1] = 0;
    EXPECT_EQ(testing::WholePicture(image), testing::WholePicture(expected)) << c.x << ',' << c.y;
    EXPECT_EQ(CountBifurcations(image), 0);
  }
}

// P = (30, 30) with a tiny loop through its N and E neighbours, its E
// neighbour X another bifurcation, and a third branch straight down from S.
RowImage CornerLoop() {
  RowImage image = testing::BlankImage(kSide, kSide);
  testing::Place(image,
                 {
                     ".#.",   // row 28: (31, 28)
                     "#.#",   // row 29: N = (30, 29), (32, 29)
                     "##.",   // row 30: P = (30, 30), X = (31, 30)
                     "#.#",   // row 31: S = (30, 31), Z = (32, 31)
                 },
                 30, 28);
  testing::VerticalRidge(image, 30, 32, 45);
  for (int32_t i = 1; i <= 8; ++i) image[31 + i][32 + i] = 0;
  return image;
}

TEST(BifurcationCleaningTest, BranchEndingAtItsSecondPixelPutsItsCornerBack) {
  // Branch 0 goes round the loop and stops at X; branch 1 turns the corner
  // E + S, steps onto X (a point of branch 0) and ends at its second pixel,
  // before the set-aside S would have been put back.
  RowImage image = CornerLoop();
  const Picture before = testing::WholePicture(image);
  BranchTrace trace{};
  TraceBranches(kSide, kSide, image.rows(), 30, 30, &trace, 1, 30);
  EXPECT_EQ(testing::WholePicture(image), before);
  ASSERT_EQ(trace.count, 3);
  EXPECT_EQ(trace.branch[0].length, 5);
  EXPECT_EQ(trace.branch[1].length, 2);
  EXPECT_EQ(trace.branch[1].status, kBranchMeets);
  EXPECT_EQ(trace.branch[2].x[1], 30);
  EXPECT_EQ(trace.branch[2].y[1], 31);

  // Cleaning opens the loop and keeps the branch below S whole.
  Clean(image);
  EXPECT_EQ(image[31][30], 0);
  EXPECT_EQ(image[29][30], 255);
  EXPECT_EQ(image[28][31], 255);
  EXPECT_EQ(image[29][32], 255);
  EXPECT_EQ(image[30][31], 0);
  EXPECT_EQ(CountBifurcations(image), 0);
}

TEST(BifurcationCleaningTest, WalkStoppedByMaxStepsPutsItsCornerBack) {
  RowImage image = testing::ForkNorthEastSouthWest();
  const Picture before = testing::WholePicture(image);
  BranchTrace trace{};
  TraceBranches(20, 20, image.rows(), 10, 10, &trace, 1, 1);
  EXPECT_EQ(testing::WholePicture(image), before);
  EXPECT_EQ(trace.count, 3);
  TraceBranches(20, 20, image.rows(), 10, 10, &trace, 1, 30);
  EXPECT_EQ(testing::WholePicture(image), before);
  EXPECT_EQ(trace.branch[0].status, kBranchRidgeEnd);
  EXPECT_EQ(trace.branch[0].direction, 180);
  EXPECT_EQ(trace.branch[1].direction, 0);
  EXPECT_EQ(trace.branch[2].direction, 90);
  EXPECT_EQ(trace.angle01, 60);
  EXPECT_EQ(trace.angle12, 90);
  EXPECT_EQ(trace.angle02, 90);
  // With restore 0 every traced point is left erased.
  TraceBranches(20, 20, image.rows(), 10, 10, &trace, 0, 30);
  for (int32_t b = 0; b < 3; ++b) {
    for (int32_t k = 0; k < trace.branch[b].length; ++k) {
      EXPECT_EQ(image[trace.branch[b].y[k]][trace.branch[b].x[k]], 255);
    }
  }
}

TEST(BifurcationCleaningTest, TriangleCollapsesOntoItsTruncatedCentre) {
  // P = (30, 30), Q = (32, 30), R = (31, 32), each with a spoke outwards.
  RowImage image = testing::BlankImage(kSide, kSide);
  testing::Place(image, {"###", "#.#", ".#."}, 30, 30);
  for (int32_t i = 1; i <= 8; ++i) {
    image[30 - i][30 - i] = 0;
    image[30 - i][32 + i] = 0;
    image[32 + i][31] = 0;
  }
  Clean(image);
  // The centre ((30 + 32 + 31) / 3, (30 + 30 + 32) / 3) = (31, 30) is the one bifurcation.
  EXPECT_EQ(testing::Crop(image, 29, 29, 5, 5), (Picture{"#...#", ".###.", "..#..", "..#..", "..#.."}));
  EXPECT_EQ(CrossingNumber(image.rows(), 31, 30), 3);
  EXPECT_EQ(CountBifurcations(image), 1);
}

// Two parallel ridges on rows 30 and 38 and a bridge from `top` to `bottom`.
RowImage Bridged(int32_t topX, int32_t bottomX) {
  RowImage image = testing::BlankImage(kSide, kSide);
  testing::HorizontalRidge(image, 30, 5, 64);
  testing::HorizontalRidge(image, 38, 5, 64);
  DrawLine(topX, 31, bottomX, 37, image.rows());
  return image;
}

TEST(BifurcationCleaningTest, ObliqueBridgeIsCutAndPerpendicularBridgeStays) {
  RowImage perpendicular = Bridged(30, 30);
  const Picture before = testing::WholePicture(perpendicular);
  Clean(perpendicular);
  EXPECT_EQ(testing::WholePicture(perpendicular), before);

  RowImage oblique = Bridged(27, 30);
  Clean(oblique);
  RowImage expected = Bridged(27, 30);
  for (int32_t y = 31; y <= 37; ++y) {
    for (int32_t x = 0; x < kSide; ++x) expected[y][x] = 255;
  }
  EXPECT_EQ(testing::WholePicture(oblique), testing::WholePicture(expected));
}

TEST(BifurcationCleaningTest, ForkShapeBoundsAreExclusive) {
  struct Case {
    uint8_t a01, a12, a02;
    int32_t shape;
  };
  const Case cases[] = {
      {120, 60, 60, kTeeShape},    {111, 51, 69, kTeeShape},    {110, 60, 60, kSpreadFork},
      {111, 50, 60, kSpreadFork},  {111, 60, 70, kSpreadFork},  {60, 120, 60, kTeeShape},
      {94, 31, 92, kSpreadFork},   {93, 60, 60, kOtherShape},   {94, 30, 60, kOtherShape},
      {94, 60, 93, kOtherShape},   {120, 120, 60, kOtherShape},
  };
  for (const Case& c : cases) {
    BranchTrace trace{};
    trace.count = 3;
    trace.angle01 = c.a01;
    trace.angle12 = c.a12;
    trace.angle02 = c.a02;
    EXPECT_EQ(ForkShape(trace, 110, 93, 70, 50, 30), c.shape) << int{c.a01} << ' ' << int{c.a12} << ' ' << int{c.a02};
  }
}

}  // namespace
}  // namespace vorsensor
