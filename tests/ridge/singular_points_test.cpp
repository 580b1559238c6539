#include "engine/ridge/singular_points.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/row_image.h"
#include "geometry/geometry.h"
#include "support/grey_images.h"

namespace vorsensor::testing {
namespace {

constexpr int32_t kInner[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};  // {dx, dy}

// Orientation fields about a point: a core turns by half the polar angle, a
// delta by minus half, a whorl centre by the whole angle.
uint8_t CoreOrientation(int32_t dx, int32_t dy) { return static_cast<uint8_t>(DirectionOf(0, 0, dx, dy) / 2); }
uint8_t DeltaOrientation(int32_t dx, int32_t dy) {
  return static_cast<uint8_t>((kHalfTurn - DirectionOf(0, 0, dx, dy) / 2) % kHalfTurn);
}
uint8_t WhorlOrientation(int32_t dx, int32_t dy) { return static_cast<uint8_t>(DirectionOf(0, 0, dx, dy) % kHalfTurn); }

TEST(RingIndexTest, CoreDeltaWhorlAndAmbiguousRings) {
  uint8_t core[8], delta[8], whorl[8];
  for (int k = 0; k < 8; ++k) {
    core[k] = CoreOrientation(kInner[k][0], kInner[k][1]);
    delta[k] = DeltaOrientation(kInner[k][0], kInner[k][1]);
    whorl[k] = WhorlOrientation(kInner[k][0], kInner[k][1]);
  }
  EXPECT_EQ(RingIndex(8, core), 1);
  EXPECT_EQ(RingIndex(8, delta), -1);
  EXPECT_EQ(RingIndex(8, whorl), 2);
  const uint8_t flat[8] = {10, 10, 12, 9, 10, 11, 10, 10};
  EXPECT_EQ(RingIndex(8, flat), 0);
  // One step of exactly 60 cannot tell which way the orientation turned.
  uint8_t ambiguous[8];
  std::memcpy(ambiguous, core, sizeof core);
  ambiguous[3] = static_cast<uint8_t>((ambiguous[2] + 60) % 120);
  EXPECT_EQ(RingIndex(8, ambiguous), 0);
  // The step from the last value back to the first closes the ring.
  const uint8_t wrap[4] = {0, 40, 80, 119};
  EXPECT_EQ(RingIndex(4, wrap), 1);
}

TEST(DetectSingularPointsTest, FindsTheCoreAndTheDeltaBlocks) {
  RowImage grid = ConstantImage(16, 18, 0);
  for (int32_t by = 0; by < 18; ++by) {
    for (int32_t bx = 0; bx < 16; ++bx) {
      // A core at block (5, 6) and a delta at (11, 12), each seen from the block
      // centre; elsewhere the field of the nearer one.
      const bool nearCore = (bx - 5) * (bx - 5) + (by - 6) * (by - 6) < (bx - 11) * (bx - 11) + (by - 12) * (by - 12);
      grid[by][bx] = nearCore ? CoreOrientation(bx - 5, by - 6) : DeltaOrientation(bx - 11, by - 12);
    }
  }
  SingularPointList list;
  ASSERT_GE(DetectSingularPoints(16, 18, grid.rows(), &list), 2);
  bool core = false, delta = false;
  for (int32_t i = 0; i < list.count; ++i) {
    EXPECT_EQ(list.points[i].direction, kNoSingularDirection);
    core = core || (list.points[i].kind == kSingularCore && list.points[i].x == 5 && list.points[i].y == 6);
    delta = delta || (list.points[i].kind == kSingularDelta && list.points[i].x == 11 && list.points[i].y == 12);
  }
  EXPECT_TRUE(core);
  EXPECT_TRUE(delta);

  // Without any oriented block (all voted away) nothing is found; one missing
  // ring cell is enough to skip a block.
  EXPECT_EQ(DetectSingularPoints(16, 18, ConstantImage(16, 18, 255).rows(), &list), 0);
  grid[4][5] = 255;  // outer ring of the core block
  DetectSingularPoints(16, 18, grid.rows(), &list);
  for (int32_t i = 0; i < list.count; ++i) EXPECT_FALSE(list.points[i].x == 5 && list.points[i].y == 6);
  // Grids too small for two rings.
  EXPECT_EQ(DetectSingularPoints(4, 18, grid.rows(), &list), 0);
}

// A random field qualifies more than 64 blocks; the list keeps the first 64 in
// scan order and writes nothing beyond its 64 records.
TEST(DetectSingularPointsTest, KeepsTheFirst64InScanOrder) {
  constexpr int32_t kSide = 64;
  TestRandom random(7);
  RowImage grid = AllocRowImage(kSide, kSide);
  for (int32_t by = 0; by < kSide; ++by) {
    for (int32_t bx = 0; bx < kSide; ++bx) grid[by][bx] = static_cast<uint8_t>(random.Range(0, 119));
  }
  struct Guarded {
    SingularPointList list;
    uint8_t canary[256];
  };
  auto guarded = std::make_unique<Guarded>();
  std::memset(guarded->canary, 0xA5, sizeof guarded->canary);
  EXPECT_EQ(DetectSingularPoints(kSide, kSide, grid.rows(), &guarded->list), kMaxSingularPoints);
  for (uint8_t byte : guarded->canary) ASSERT_EQ(byte, 0xA5);
  const SingularPointList& list = guarded->list;
  for (int32_t i = 1; i < list.count; ++i) {
    const SingularPoint& a = list.points[i - 1];
    const SingularPoint& b = list.points[i];
    EXPECT_TRUE(a.y < b.y || (a.y == b.y && a.x < b.x));
  }
  // Scanning only up to the 64th point's row gives the same first 64; stopping
  // one row earlier finds fewer.
  const SingularPoint last = list.points[kMaxSingularPoints - 1];
  SingularPointList shorter;
  EXPECT_EQ(DetectSingularPoints(kSide, last.y + 3, grid.rows(), &shorter), kMaxSingularPoints);
  EXPECT_EQ(std::memcmp(shorter.points, list.points, sizeof list.points), 0);
  EXPECT_LT(DetectSingularPoints(kSide, last.y + 2, grid.rows(), &shorter), kMaxSingularPoints);
}

TEST(NearSingularPointTest, GuardRadiusIsStrict) {
  SingularPoint points[2] = {};
  points[0].x = 100;
  points[0].y = 50;
  points[1].x = 10;
  points[1].y = 10;
  EXPECT_EQ(NearSingularPoint(points, 2, 100, 66, 16), 0);  // distance² 256
  EXPECT_EQ(NearSingularPoint(points, 2, 100, 65, 16), 1);
  EXPECT_EQ(NearSingularPoint(points, 2, 22, 19, 16), 1);   // 144 + 81 = 225 from the second
  EXPECT_EQ(NearSingularPoint(points, 2, 100, 50, 0), 0);
  EXPECT_EQ(NearSingularPoint(points, 0, 100, 50, 16), 0);
}

TEST(OrientationDisorderTest, FoldsDifferencesAndSkipsUndefined) {
  RowImage map = ConstantImage(9, 9, 0);
  EXPECT_EQ(OrientationDisorder(9, 9, map.rows(), 4, 4, 2), 0u);
  map[3][3] = 119;  // 1 away from 0 across the half turn
  map[3][4] = 60;
  map[3][5] = 127;  // undefined: not counted
  EXPECT_EQ(OrientationDisorder(9, 9, map.rows(), 4, 4, 2), 61u);
  map[4][4] = 127;  // undefined centre
  EXPECT_EQ(OrientationDisorder(9, 9, map.rows(), 4, 4, 2), 0u);
  // Near the border only the pixels inside count.
  map[4][4] = 0;
  EXPECT_EQ(OrientationDisorder(9, 9, map.rows(), 0, 0, 8), 61u);
  EXPECT_EQ(OrientationDisorder(9, 9, map.rows(), 9, 0, 2), 0u);
}

TEST(SingularDirectionTest, PicksTheFirstRayAlongTheRidges) {
  RowImage map = ConstantImage(100, 100, 0);  // horizontal ridges everywhere
  // Rays 0 and 120 both run along the ridges; 120 (leftmost point of the top
  // rows of the circle scanned first) comes first in scan order.
  EXPECT_EQ(SingularDirection(100, 100, map.rows(), 50, 50, 10), 120);
  EXPECT_EQ(SingularDirection(100, 100, map.rows(), 50, 50, 0), kNoSingularDirection);
  // Ridges at 60: the upward ray (180) is scanned first; background marks are ignored.
  FillRowImage(map, 60 | 0x80);
  EXPECT_EQ(SingularDirection(100, 100, map.rows(), 50, 50, 40), 180);
  // Lines wholly outside the image have mean 60; a single inside line wins.
  EXPECT_NE(SingularDirection(1, 1, map.rows(), 0, 0, 5), kNoSingularDirection);
}

// Detection records in block units; map of undefined orientations, so every
// cluster lands on the first pixel of its first member block.
SingularPointList Detections(const std::vector<SingularPoint>& points) {
  SingularPointList list{};
  for (const SingularPoint& p : points) list.points[list.count++] = p;
  return list;
}
SingularPoint Block(int32_t bx, int32_t by, int32_t kind) {
  SingularPoint p{};
  p.x = bx;
  p.y = by;
  p.kind = kind;
  p.direction = kNoSingularDirection;
  return p;
}

TEST(LocateSingularPointsTest, ClusterRules) {
  RowImage map = ConstantImage(160, 160, 127);
  SingularPoint located[kMaxSingularPoints];
  // Diagonal neighbours of one kind: one point.
  EXPECT_EQ(LocateSingularPoints(160, 160, map.rows(), Detections({Block(3, 3, 1), Block(4, 4, 1)}), located, 2, 40), 1);
  EXPECT_EQ(located[0].x, 48);
  EXPECT_EQ(located[0].y, 48);
  EXPECT_EQ(located[0].kind, 1);
  EXPECT_NE(located[0].direction, kNoSingularDirection);
  // Two blocks apart: two clusters, in list order.
  ASSERT_EQ(LocateSingularPoints(160, 160, map.rows(), Detections({Block(5, 3, 3), Block(3, 3, 3)}), located, 2, 40), 2);
  EXPECT_EQ(located[0].x, 80);
  EXPECT_EQ(located[1].x, 48);
  // A chain linked only through a later record is still one cluster.
  EXPECT_EQ(LocateSingularPoints(160, 160, map.rows(),
                                 Detections({Block(3, 3, 2), Block(5, 5, 2), Block(4, 4, 2)}), located, 2, 40),
            1);
  // A core next to a delta: the cluster is dropped; the other one stays.
  ASSERT_EQ(LocateSingularPoints(160, 160, map.rows(),
                                 Detections({Block(3, 3, 1), Block(4, 3, 3), Block(7, 7, 1)}), located, 2, 40),
            1);
  EXPECT_EQ(located[0].x, 112);
  EXPECT_EQ(LocateSingularPoints(160, 160, map.rows(), Detections({}), located, 2, 40), 0);
}

TEST(LocateSingularPointsTest, PlacesACoreAtItsCentre) {
  constexpr int32_t kW = 160, kH = 176, kCx = 77, kCy = 90;
  for (int kind = 0; kind < 3; ++kind) {
    RowImage map = AllocRowImage(kW, kH);
    for (int32_t y = 0; y < kH; ++y) {
      for (int32_t x = 0; x < kW; ++x) {
        map[y][x] = kind == 0   ? CoreOrientation(x - kCx, y - kCy)
                    : kind == 1 ? DeltaOrientation(x - kCx, y - kCy)
                                : WhorlOrientation(x - kCx, y - kCy);
      }
    }
    SingularPoint located[kMaxSingularPoints];
    const int32_t detectedKind = kind == 0 ? kSingularCore : kind == 1 ? kSingularDelta : kSingularWhorl;
    ASSERT_EQ(LocateSingularPoints(kW, kH, map.rows(), Detections({Block(kCx / 16, kCy / 16, detectedKind)}), located,
                                   2, 40),
              1);
    EXPECT_NEAR(located[0].x, kCx, 1) << "kind " << kind;
    EXPECT_NEAR(located[0].y, kCy, 1) << "kind " << kind;
    EXPECT_EQ(located[0].kind, detectedKind);
  }
}

}  // namespace
}  // namespace vorsensor::testing
