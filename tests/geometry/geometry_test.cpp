// Direction, distance and square-root helpers, and their constant tables.
// Floating point appears only here, as the obvious reference.
#include "matching/geometry/geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "support/random.h"

namespace vorsensor {
namespace {

constexpr double kPi = 3.14159265358979323846;

int RoundedUnits(double radians) { return static_cast<int>(std::lround(radians * 240.0 / (2.0 * kPi))); }

// The direction rule written out plainly, with the table entry recomputed by atan2.
int ReferenceDirection(int64_t dx, int64_t dy) {
  int64_t ax = dx < 0 ? -dx : dx;
  int64_t ay = dy < 0 ? -dy : dy;
  const int64_t m = std::max(ax, ay);
  if (m >= 50) {
    ax = (ax * 49 + m / 2) / m;
    ay = (ay * 49 + m / 2) / m;
  }
  const int t = (ax == 0 && ay == 0) ? 60 : RoundedUnits(std::atan2(static_cast<double>(ay), static_cast<double>(ax)));
  int d;
  if (dx >= 1) {
    d = dy >= 0 ? t : 240 - t;
  } else {
    d = dy >= 1 ? 120 - t : 120 + t;
  }
  return d == 240 ? 0 : d;
}

int ReferenceLength(double sumOfSquares) {
  int r = sumOfSquares < 65536.0 ? static_cast<int>(std::floor(std::sqrt(sumOfSquares))) : 255;
  return r % 2 == 0 ? r + 1 : r;
}

double CountedSquare(int64_t v) { return v < 256 ? static_cast<double>(v * v) : 65025.0; }

int ReferenceDistance(int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  return ReferenceLength(CountedSquare(std::llabs(x1 - x2)) + CountedSquare(std::llabs(y1 - y2)));
}

// Smallest turn between two directions, 0..120.
int TurnBetween(int a, int b) {
  int d = ((a - b) % 240 + 240) % 240;
  return d > 120 ? 240 - d : d;
}

TEST(DirectionOf, NamedVectors) {
  EXPECT_EQ(DirectionOf(0, 0, 1, 0), 0);
  EXPECT_EQ(DirectionOf(0, 0, 0, 1), 60);
  EXPECT_EQ(DirectionOf(0, 0, -1, 0), 120);
  EXPECT_EQ(DirectionOf(0, 0, 0, -1), 180);
  EXPECT_EQ(DirectionOf(0, 0, 1, -1), 210);
  EXPECT_EQ(DirectionOf(0, 0, -1, 1), 90);
  EXPECT_EQ(DirectionOf(0, 0, 2, -1), 222);
  EXPECT_EQ(DirectionOf(7, -3, 7, -3), 180);  // zero vector
  // Offsets, not positions, count.
  EXPECT_EQ(DirectionOf(100, 200, 101, 199), 210);
  // Long vectors use the scaled table entry.
  EXPECT_EQ(DirectionOf(0, 0, 100, 1), 0);
  EXPECT_EQ(DirectionOf(0, 0, 100, 3), 1);
  // A small negative dy whose table entry is 0 gives 0, never 240.
  EXPECT_EQ(DirectionOf(0, 0, 100, -1), 0);
}

TEST(DirectionOf, ExtremeArgumentsDoNotOverflow) {
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(DirectionOf(kMin, 0, kMax, 0), 0);
  EXPECT_EQ(DirectionOf(kMax, 0, kMin, 0), 120);
  EXPECT_EQ(DirectionOf(0, kMin, 0, kMax), 60);
  EXPECT_EQ(DirectionOf(kMin, kMin, kMax, kMax), 30);
  EXPECT_EQ(DirectionOf(kMax, kMax, kMin, kMin), 150);
}

TEST(DirectionOf, MatchesReferenceAndNeverReturns240) {
  // Every vector of a 301 x 301 square round the origin, plus random long ones.
  for (int dy = -150; dy <= 150; ++dy) {
    for (int dx = -150; dx <= 150; ++dx) {
      const int d = DirectionOf(0, 0, dx, dy);
      ASSERT_LT(d, 240) << dx << "," << dy;
      ASSERT_EQ(d, ReferenceDirection(dx, dy)) << dx << "," << dy;
    }
  }
  testing::TestRandom random(7);
  for (int i = 0; i < 200000; ++i) {
    const int32_t x1 = random.Range(-100000, 100000);
    const int32_t y1 = random.Range(-100000, 100000);
    const int32_t x2 = random.Range(-100000, 100000);
    const int32_t y2 = random.Range(-100000, 100000);
    const int d = DirectionOf(x1, y1, x2, y2);
    ASSERT_LT(d, 240);
    ASSERT_EQ(d, ReferenceDirection(int64_t{x2} - x1, int64_t{y2} - y1)) << x1 << "," << y1 << " " << x2 << "," << y2;
  }
}

TEST(DirectionOf, StaysCloseToTheTrueAngle) {
  // Within the table the result is the rounded angle; scaling costs at most
  // a little more.
  for (int dy = -49; dy <= 49; ++dy) {
    for (int dx = -49; dx <= 49; ++dx) {
      if (dx == 0 && dy == 0) continue;
      const int truth = (RoundedUnits(std::atan2(dy, dx)) + 240) % 240;
      ASSERT_EQ(TurnBetween(DirectionOf(0, 0, dx, dy), truth), 0) << dx << "," << dy;
    }
  }
  testing::TestRandom random(11);
  for (int i = 0; i < 100000; ++i) {
    const int dx = random.Range(-3000, 3000);
    const int dy = random.Range(-3000, 3000);
    if (dx == 0 && dy == 0) continue;
    const int truth = (RoundedUnits(std::atan2(dy, dx)) + 240) % 240;
    ASSERT_LE(TurnBetween(DirectionOf(0, 0, dx, dy), truth), 1) << dx << "," << dy;
  }
}

TEST(DistanceOf, NamedDistances) {
  EXPECT_EQ(DistanceOf(5, 5, 5, 5), 1);     // coinciding points
  EXPECT_EQ(DistanceOf(0, 0, 2, 0), 3);
  EXPECT_EQ(DistanceOf(0, 0, 3, 0), 3);
  EXPECT_EQ(DistanceOf(0, 0, 0, -4), 5);
  EXPECT_EQ(DistanceOf(0, 0, 3, 4), 5);
  EXPECT_EQ(DistanceOf(0, 0, 6, 8), 11);    // 10 is even
  EXPECT_EQ(DistanceOf(0, 0, 300, 0), 255);
  EXPECT_EQ(DistanceOf(0, 0, 255, 0), 255);
  EXPECT_EQ(DistanceOf(0, 0, 254, 0), 255);
  EXPECT_EQ(DistanceOf(0, 0, 253, 0), 253);
  EXPECT_EQ(DistanceOf(0, 0, 180, 180), 255);  // sum beyond 65535
  EXPECT_EQ(DistanceOf(0, 0, 100, 100), 141);
}

TEST(DistanceOf, MatchesReferenceAndIsOddWithinRange) {
  for (int dy = -300; dy <= 300; ++dy) {
    for (int dx = -300; dx <= 300; ++dx) {
      const int d = DistanceOf(0, 0, dx, dy);
      ASSERT_EQ(d % 2, 1);
      ASSERT_GE(d, 1);
      ASSERT_LE(d, 255);
      ASSERT_EQ(d, ReferenceDistance(0, 0, dx, dy)) << dx << "," << dy;
    }
  }
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(DistanceOf(kMin, kMin, kMax, kMax), 255);
  EXPECT_EQ(DistanceOf(kMax, 0, kMax, 0), 1);
  testing::TestRandom random(3);
  for (int i = 0; i < 100000; ++i) {
    const int32_t x1 = random.Range(-1000, 1000);
    const int32_t y1 = random.Range(-1000, 1000);
    const int32_t x2 = x1 + random.Range(-400, 400);
    const int32_t y2 = y1 + random.Range(-400, 400);
    ASSERT_EQ(DistanceOf(x1, y1, x2, y2), ReferenceDistance(x1, y1, x2, y2));
    ASSERT_EQ(DistanceOf(x1, y1, x2, y2), DistanceOf(x2, y2, x1, y1));
  }
}

TEST(Distance3Of, NegativeComponentsCountAsZeroAndLargeOnesAsCapped) {
  EXPECT_EQ(Distance3Of(-5, 3, 4), 5);
  EXPECT_EQ(Distance3Of(0, 0, 0), 1);
  EXPECT_EQ(Distance3Of(2, 3, 6), 7);
  EXPECT_EQ(Distance3Of(1, 2, 2), 3);
  EXPECT_EQ(Distance3Of(256, 0, 0), 255);
  EXPECT_EQ(Distance3Of(std::numeric_limits<int32_t>::max(), 1, 1), 255);
  EXPECT_EQ(Distance3Of(std::numeric_limits<int32_t>::min(), -1, 0), 1);
  for (int a = -20; a <= 280; a += 3) {
    for (int b = -20; b <= 280; b += 7) {
      for (int c = -20; c <= 280; c += 11) {
        const auto counted = [](int v) { return v < 0 ? 0.0 : CountedSquare(v); };
        const int d = Distance3Of(a, b, c);
        ASSERT_EQ(d, ReferenceLength(counted(a) + counted(b) + counted(c))) << a << "," << b << "," << c;
        ASSERT_EQ(d % 2, 1);
      }
    }
  }
}

TEST(IntegerSqrt, IsTheFloorAtEveryEdge) {
  const auto floorRoot = [](uint64_t v) {
    uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return static_cast<uint32_t>(r);
  };
  // Around every perfect square of the 32-bit range.
  for (uint64_t k = 0; k <= 65535; ++k) {
    const uint64_t sq = k * k;
    ASSERT_EQ(IntegerSqrt(static_cast<uint32_t>(sq)), k);
    if (sq > 0) {
      ASSERT_EQ(IntegerSqrt(static_cast<uint32_t>(sq - 1)), k - 1);
    }
    if (sq + 1 <= UINT32_MAX) {
      ASSERT_EQ(IntegerSqrt(static_cast<uint32_t>(sq + 1)), k == 0 ? 1u : k);
    }
  }
  EXPECT_EQ(IntegerSqrt(UINT32_MAX), 65535u);
  EXPECT_EQ(IntegerSqrt(65535u), 255u);
  EXPECT_EQ(IntegerSqrt(65536u), 256u);
  EXPECT_EQ(IntegerSqrt(0x80000000u), 46340u);
  // Every value of the distance range, and random ones above it.
  for (uint32_t v = 0; v < (1u << 18); ++v) ASSERT_EQ(IntegerSqrt(v), floorRoot(v)) << v;
  testing::TestRandom random(5);
  for (int i = 0; i < 200000; ++i) {
    const uint32_t v = static_cast<uint32_t>(random.Next());
    ASSERT_EQ(IntegerSqrt(v), floorRoot(v)) << v;
  }
}

TEST(GeometryTables, ArcTangentEntries) {
  EXPECT_EQ(kArcTangent[0][0], 60);
  EXPECT_EQ(kArcTangent[1][1], 30);
  EXPECT_EQ(kArcTangent[1][2], 18);
  EXPECT_EQ(kArcTangent[1][49], 1);
  EXPECT_EQ(kArcTangent[49][1], 59);
  EXPECT_EQ(kArcTangent[49][49], 30);
  for (int i = 1; i < 50; ++i) {
    EXPECT_EQ(kArcTangent[0][i], 0);
    EXPECT_EQ(kArcTangent[i][0], 60);
  }
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 50; ++x) {
      if (x == 0 && y == 0) continue;
      ASSERT_EQ(kArcTangent[y][x], RoundedUnits(std::atan2(y, x))) << y << "," << x;
      // Mirror symmetry about the diagonal.
      ASSERT_EQ(kArcTangent[y][x] + kArcTangent[x][y], 60) << y << "," << x;
    }
  }
}

TEST(GeometryTables, SineAndCosineEntries) {
  EXPECT_EQ(kSine[0], 0);
  EXPECT_EQ(kSine[1], 262);
  EXPECT_EQ(kSine[60], 10000);
  EXPECT_EQ(kSine[180], -10000);
  EXPECT_EQ(kCosine[0], 10000);
  EXPECT_EQ(kCosine[1], 9997);
  EXPECT_EQ(kCosine[60], 0);
  EXPECT_EQ(kCosine[120], -10000);
  for (int k = 0; k < 240; ++k) {
    ASSERT_EQ(kSine[k], std::lround(std::sin(k * 2.0 * kPi / 240.0) * 10000.0)) << k;
    ASSERT_EQ(kCosine[k], std::lround(std::cos(k * 2.0 * kPi / 240.0) * 10000.0)) << k;
    // A quarter turn turns cosine into sine; a half turn negates both.
    ASSERT_EQ(kSine[(k + 60) % 240], kCosine[k]) << k;
    ASSERT_EQ(kSine[(k + 120) % 240], -kSine[k]) << k;
  }
}

}  // namespace
}  // namespace vorsensor
