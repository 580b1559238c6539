#include "engine/minutiae/tracing_primitives.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "minutiae/skeleton_pictures.h"
#include "support/random.h"

namespace vorsensor {
namespace {

using testing::Picture;

TEST(TracingPrimitivesTest, CrossingNumberCountsOnlyExactTransitions) {
  struct Case {
    const char* name;
    Picture picture;  // 3 x 3, centre at (1, 1)
    int32_t expected;
  };
  const Case cases[] = {
      {"isolated", {"...", ".#.", "..."}, 0},
      {"ending", {"...", ".##", "..."}, 1},
      {"line", {"#..", ".#.", "..#"}, 2},
      {"bifurcation", {"#.#", ".#.", ".#."}, 3},
      {"four arms", {".#.", "###", ".#."}, 4},
      {"not ridge", {"###", "#.#", "###"}, -1},
      {"solid", {"###", "###", "###"}, 0},
  };
  for (const Case& c : cases) {
    RowImage image = testing::PictureImage(3, 3, c.picture, 0, 0);
    EXPECT_EQ(CrossingNumber(image.rows(), 1, 1), c.expected) << c.name;
  }
  // 255 -> 128 -> 0 is no transition; 128 -> 0 neither.
  RowImage image = testing::PictureImage(3, 3, {"...", ".#.", "..."}, 0, 0);
  image[0][1] = 0;    // N
  image[0][0] = 128;  // NW, just before N in the ring
  EXPECT_EQ(CrossingNumber(image.rows(), 1, 1), 0);
  image[0][0] = 255;
  EXPECT_EQ(CrossingNumber(image.rows(), 1, 1), 1);
}

TEST(TracingPrimitivesTest, StepPrefersEdgeNeighboursInOrder) {
  // Each ring lists the ridge neighbours; the step goes to `to`.
  struct Case {
    std::vector<RingPosition> ridge;
    RingPosition to;
  };
  const Case cases[] = {
      {{kRingNW, kRingN}, kRingN},   {{kRingNE, kRingE}, kRingE},  {{kRingW, kRingS}, kRingS},
      {{kRingSW, kRingW}, kRingW},   {{kRingSE, kRingNE}, kRingNE}, {{kRingNW, kRingSE}, kRingSE},
      {{kRingNW, kRingSW}, kRingSW}, {{kRingNW}, kRingNW},
  };
  for (const Case& c : cases) {
    RowImage image = testing::BlankImage(5, 5);
    image[2][2] = 0;
    for (const RingPosition k : c.ridge) image[2 + kRingDy[k]][2 + kRingDx[k]] = 0;
    TraceList list = AllocTraceList(4);
    int32_t x = 2, y = 2;
    Step(image.rows(), &x, &y, ReadRing(image.rows(), 2, 2), &list);
    EXPECT_EQ(x, 2 + kRingDx[c.to]);
    EXPECT_EQ(y, 2 + kRingDy[c.to]);
    EXPECT_EQ(image[2][2], 255);
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(std::make_pair(list.x(0), list.y(0)), std::make_pair(2, 2));
  }
  // No ridge neighbour: the position stays.
  RowImage image = testing::BlankImage(5, 5);
  image[2][2] = 0;
  TraceList list = AllocTraceList(1);
  int32_t x = 2, y = 2;
  Step(image.rows(), &x, &y, ReadRing(image.rows(), 2, 2), &list);
  EXPECT_EQ(std::make_pair(x, y), std::make_pair(2, 2));
}

TEST(TracingPrimitivesTest, EndingTraceStopsAndMeasures) {
  // A ridge of 8 pixels from (3, 5) to (10, 5), a fork at (10, 5) and a
  // second ridge end.
  const Picture picture = {
      "...........#",
      "..........#.",
      "...########.",
      "..........#.",
      "...........#",
  };
  struct Case {
    int32_t maxSteps;
    int32_t minSteps;
    int32_t steps;  // pixels walked
    uint8_t direction;
  };
  const Case cases[] = {
      {20, 7, 7, 0},    // stops at the fork pixel (count 2 once its incoming pixel is gone)
      {20, 8, 7, 255},  // one step short of minSteps
      {4, 4, 4, 0},     // maxSteps
      {0, 0, 0, 180},   // no step: the zero vector
  };
  for (const Case& c : cases) {
    RowImage image = testing::PictureImage(16, 9, picture, 0, 3);
    const Picture before = testing::WholePicture(image);
    TraceList list = AllocTraceList(32);
    EXPECT_EQ(EndingTrace(16, 9, image.rows(), 3, 5, c.maxSteps, c.minSteps, &list), c.direction);
    ASSERT_EQ(list.count(), c.steps);
    for (int32_t i = 0; i < c.steps; ++i) {
      EXPECT_EQ(list.x(i), 3 + i);
      EXPECT_EQ(image[5][3 + i], 255);  // erased, also when the trace was too short
    }
    RestoreList(image.rows(), list);
    EXPECT_EQ(testing::WholePicture(image), before);
  }
  // The walk never leaves a one-pixel margin: on a ridge running out to
  // column 0 it steps onto column 0 and stops there.
  RowImage image = testing::BlankImage(12, 5);
  testing::HorizontalRidge(image, 2, 0, 6);
  TraceList list = AllocTraceList(32);
  EXPECT_EQ(EndingTrace(12, 5, image.rows(), 6, 2, 20, 6, &list), 120);
  EXPECT_EQ(list.count(), 6);
  EXPECT_EQ(image[2][0], 0);
  // A list with room for 3 pixels stops the walk after 3 steps.
  RowImage longRidge = testing::BlankImage(20, 5);
  testing::HorizontalRidge(longRidge, 2, 2, 17);
  TraceList small = AllocTraceList(3);
  EndingTrace(20, 5, longRidge.rows(), 2, 2, 20, 0, &small);
  EXPECT_EQ(small.count(), 3);
  EXPECT_EQ(longRidge[2][5], 0);
}

TEST(TracingPrimitivesTest, EndingDirectionLeavesTheSkeleton) {
  RowImage image = testing::BlankImage(30, 30);
  for (int32_t i = 0; i < 25; ++i) image[2 + i][3 + i / 2] = 0;  // steep ridge
  const Picture before = testing::WholePicture(image);
  TraceList scratch = AllocTraceList(EndingTraceRoom(30, 30, 20));
  const uint8_t direction = EndingDirection(30, 30, image.rows(), 3, 2, 20, 20, &scratch);
  EXPECT_EQ(direction, DirectionOf(3, 2, 13, 22));
  EXPECT_EQ(testing::WholePicture(image), before);
  EXPECT_EQ(EndingTraceRoom(30, 30, 20), 20);
  EXPECT_EQ(EndingTraceRoom(3, 3, 20), 9);
  EXPECT_EQ(EndingTraceRoom(3, 3, -4), 0);
}

TEST(TracingPrimitivesTest, DigitalLineExampleAndItsUsers) {
  TraceList list = AllocTraceList(8);
  RecordLine(0, 0, 3, 1, &list);
  ASSERT_EQ(list.count(), 3);
  const std::vector<std::pair<int32_t, int32_t>> expected = {{0, 0}, {1, 0}, {2, 1}};
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(std::make_pair(list.x(i), list.y(i)), expected[i]);
  list.Clear();
  RecordLine(4, 4, 4, 4, &list);
  EXPECT_EQ(list.count(), 0);

  RowImage image = testing::BlankImage(6, 4);
  DrawLine(0, 0, 3, 1, image.rows());
  EXPECT_EQ(testing::WholePicture(image), (Picture{"##....", "..##..", "......", "......"}));
  DrawLine(5, 3, 5, 3, image.rows());
  EXPECT_EQ(image[3][5], 255);

  // LineBlocked counts neither end, and A = B is blocked.
  RowImage blank = testing::BlankImage(6, 4);
  blank[0][0] = 0;
  blank[1][3] = 0;
  EXPECT_EQ(LineBlocked(0, 0, 3, 1, blank.rows()), 0);
  EXPECT_EQ(LineBlocked(2, 2, 2, 2, blank.rows()), 1);
  blank[1][2] = 0;
  EXPECT_EQ(LineBlocked(0, 0, 3, 1, blank.rows()), 1);
  EXPECT_EQ(LineBlocked(0, 0, 1, 0, blank.rows()), 0);  // neighbours: nothing between
}

// NextOddCrossing at every level against a count of the transitions written
// out here, on rows of images whose other pixels include 1, 128 and 254
// (neither ridge nor 255). Narrow images try every start and end; wide,
// mostly blank ones (up to eighteen 62-pixel chunks) random ones.
TEST(TracingPrimitivesTest, NextOddCrossingFindsEndingsAndBifurcations) {
  testing::TestRandom random(17);
  const uint8_t kValues[] = {0, 0, 0, 255, 255, 255, 255, 1, 128, 254};
  const SimdLevel levels[] = {SimdLevel::kPlain, SimdLevel::kSse2, SimdLevel::kAvx512};
  const int32_t kDx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
  const int32_t kDy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  for (int trial = 0; trial < 16; ++trial) {
    const bool wide = trial >= 12;
    const int32_t w = trial < 4 ? random.Range(3, 12) : wide ? random.Range(480, 1100) : random.Range(60, 150);
    const int32_t h = random.Range(3, 5);
    RowImage image = testing::BlankImage(w, h);
    const int32_t variety = trial % 3 == 0 ? 7 : 10;  // some images hold only 0 and 255
    // Wide images are mostly blank, so that some calls pass over whole batches.
    const int32_t ridgePercent = wide ? 2 : 100;
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        image[y][x] = random.Range(0, 99) < ridgePercent ? kValues[random.Range(0, variety - 1)] : 255;
      }
    }
    for (int32_t y = 1; y < h - 1; ++y) {
      std::vector<bool> odd(static_cast<size_t>(w), false);
      for (int32_t x = 1; x < w - 1; ++x) {
        int transitions = 0;
        for (int k = 0; k < 8; ++k) {
          const int n = (k + 1) % 8;
          transitions += image[y + kDy[k]][x + kDx[k]] == 255 && image[y + kDy[n]][x + kDx[n]] == 0 ? 1 : 0;
        }
        odd[static_cast<size_t>(x)] = image[y][x] == 0 && (transitions == 1 || transitions == 3);
      }
      auto check = [&](int32_t from, int32_t last) {
        int32_t expected = from;
        while (expected <= last && !odd[static_cast<size_t>(expected)]) ++expected;
        for (const SimdLevel level : levels) {
          if (!SimdLevelRuns(level)) continue;
          ASSERT_EQ(NextOddCrossing(image.rows(), y, from, last, level), expected)
              << trial << ' ' << y << ' ' << from << ' ' << last << ' ' << static_cast<int>(level);
        }
      };
      if (wide) {
        for (int k = 0; k < 3000; ++k) {
          const int32_t from = random.Range(1, w - 2);
          check(from, random.Range(from - 1, w - 2));
        }
        continue;
      }
      for (int32_t from = 1; from < w - 1; ++from) {
        for (int32_t last = from - 1; last < w - 1; ++last) check(from, last);
      }
    }
  }
  // A batch's last pixel has no east neighbour among its masks and must wait
  // for the next batch: here column 63 (searched from 1) has two transitions,
  // one of them through that neighbour, and column 62 has two as well.
  RowImage image = testing::BlankImage(200, 3);
  image[1][62] = image[1][63] = image[0][61] = image[2][64] = 0;
  for (const SimdLevel level : levels) {
    if (!SimdLevelRuns(level)) continue;
    EXPECT_EQ(NextOddCrossing(image.rows(), 1, 1, 198, level), 199) << static_cast<int>(level);
  }
}

TEST(TracingPrimitivesTest, FoldedAngle) {
  const int32_t cases[][3] = {{0, 0, 0}, {10, 240 - 10, 20}, {230, 0, 10}, {0, 120, 120}, {0, 121, 119}, {5, 235, 10}};
  for (const auto& c : cases) {
    EXPECT_EQ(FoldedAngle(c[0], c[1]), c[2]);
    EXPECT_EQ(FoldedAngle(c[1], c[0]), c[2]);
  }
}

}  // namespace
}  // namespace vorsensor
