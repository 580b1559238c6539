// Direction, distance and square-root helpers, and their constant tables.
// Floating point appears only here, as the obvious reference.
#include "geometry/geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "support/random.h"

namespace vorsensor {
namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr double kPi = 3.14159265358979323846;

int RoundedUnits(double y, double x) { return static_cast<int>(std::lround(std::atan2(y, x) * 120.0 / kPi)); }

// The direction rule written out plainly, with the table entry recomputed by atan2.
int ReferenceDirection(int64_t dx, int64_t dy) {
  int64_t ax = std::llabs(dx), ay = std::llabs(dy);
  const int64_t m = std::max(ax, ay);
  if (m >= 50) {
    ax = (ax * 49 + m / 2) / m;
    ay = (ay * 49 + m / 2) / m;
  }
  const int t = (ax == 0 && ay == 0) ? 60 : RoundedUnits(static_cast<double>(ay), static_cast<double>(ax));
  const int d = dx >= 1 ? (dy >= 0 ? t : 240 - t) : (dy >= 1 ? 120 - t : 120 + t);
  return d == 240 ? 0 : d;
}

double CountedSquare(int64_t v) { return v < 0 ? 0.0 : v < 256 ? static_cast<double>(v * v) : 65025.0; }

int ReferenceLength(double sumOfSquares) {
  const int r = sumOfSquares < 65536.0 ? static_cast<int>(std::floor(std::sqrt(sumOfSquares))) : 255;
  return r % 2 == 0 ? r + 1 : r;
}

// The axes (0 towards higher columns, 60 towards higher rows; every short
// vector is checked against the reference below), and the full argument range
// without overflow.
TEST(DirectionOf, AxesAndTheFullArgumentRange) {
  EXPECT_EQ(DirectionOf(0, 0, 1, 0), 0);
  EXPECT_EQ(DirectionOf(0, 0, 0, 1), 60);
  EXPECT_EQ(DirectionOf(kMin, 0, kMax, 0), 0);
  EXPECT_EQ(DirectionOf(kMax, 0, kMin, 0), 120);
  EXPECT_EQ(DirectionOf(kMin, kMin, kMax, kMax), 30);
  EXPECT_EQ(DirectionOf(kMax, kMax, kMin, kMin), 150);
}

// Long random vectors (the short ones are all checked below). The reference
// never gives 240.
TEST(DirectionOf, MatchesReferenceOnLongVectors) {
  testing::TestRandom random(7);
  for (int i = 0; i < 200000; ++i) {
    const int32_t x1 = random.Range(-100000, 100000), y1 = random.Range(-100000, 100000);
    const int32_t x2 = random.Range(-100000, 100000), y2 = random.Range(-100000, 100000);
    const int d = DirectionOf(x1, y1, x2, y2);
    ASSERT_EQ(d, ReferenceDirection(int64_t{x2} - x1, int64_t{y2} - y1)) << x1 << "," << y1 << " " << x2 << "," << y2;
    // Scaling long vectors costs at most one unit against the true angle.
    const int turn = std::abs(d - (RoundedUnits(y2 - y1, x2 - x1) + 240) % 240);
    ASSERT_LE(std::min(turn, 240 - turn), 1) << x1 << "," << y1 << " " << x2 << "," << y2;
  }
}

// Vectors up to 255 pixels per component are scaled into the table by a
// reciprocal multiply instead of a division: every such vector (and the
// first lengths past that range, which divide again) must give the quotient
// of the plain division.
TEST(DirectionOf, ReciprocalScalingIsExactForEveryShortVector) {
  for (int dy = -300; dy <= 300; ++dy) {
    for (int dx = -300; dx <= 300; ++dx) {
      ASSERT_EQ(DirectionOf(7, -3, 7 + dx, -3 + dy), ReferenceDirection(dx, dy)) << dx << "," << dy;
    }
  }
  // The reciprocal rule itself, over every numerator the scaling forms.
  for (int64_t m = 50; m <= geometry_detail::kReciprocalMax; ++m) {
    for (int64_t a = 0; a <= m; ++a) {
      const uint64_t n = static_cast<uint64_t>(a * 49 + m / 2);
      ASSERT_EQ((n * geometry_detail::kTables.reciprocal[m]) >> geometry_detail::kReciprocalShift, n / m) << m;
    }
  }
}

TEST(DistanceOf, NamedDistancesAreOddAndCapped) {
  EXPECT_EQ(DistanceOf(0, 0, 6, 8), 11);  // even lengths are raised to odd
  EXPECT_EQ(DistanceOf(kMin, kMin, kMax, kMax), 255);
  for (int dy = -300; dy <= 300; ++dy) {
    for (int dx = -300; dx <= 300; ++dx) {
      const int d = DistanceOf(0, 0, dx, dy);
      ASSERT_TRUE(d % 2 == 1 && d >= 1 && d <= 255) << d;
      ASSERT_EQ(d, ReferenceLength(CountedSquare(std::abs(dx)) + CountedSquare(std::abs(dy)))) << dx << "," << dy;
    }
  }
}

TEST(Distance3Of, NegativeComponentsCountAsZeroAndLargeOnesAsCapped) {
  EXPECT_EQ(Distance3Of(-5, 3, 4), 5);
  EXPECT_EQ(Distance3Of(0, 0, 0), 1);
  EXPECT_EQ(Distance3Of(2, 3, 6), 7);
  EXPECT_EQ(Distance3Of(256, 0, 0), 255);
  EXPECT_EQ(Distance3Of(kMax, 1, 1), 255);
  EXPECT_EQ(Distance3Of(kMin, -1, 0), 1);
  for (int a = -20; a <= 280; a += 3) {
    for (int b = -20; b <= 280; b += 7) {
      for (int c = -20; c <= 280; c += 11) {
        ASSERT_EQ(Distance3Of(a, b, c), ReferenceLength(CountedSquare(a) + CountedSquare(b) + CountedSquare(c)))
            << a << "," << b << "," << c;
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
  // Either side of every perfect square of the 32-bit range.
  for (uint64_t k = 1; k <= 65535; ++k) {
    ASSERT_EQ(IntegerSqrt(static_cast<uint32_t>(k * k)), k);
    ASSERT_EQ(IntegerSqrt(static_cast<uint32_t>(k * k - 1)), k - 1);
  }
  EXPECT_EQ(IntegerSqrt(0), 0u);
  EXPECT_EQ(IntegerSqrt(UINT32_MAX), 65535u);
  // Every value of the distance range, and random ones above it.
  for (uint32_t v = 0; v < (1u << 18); ++v) ASSERT_EQ(IntegerSqrt(v), floorRoot(v)) << v;
  testing::TestRandom random(5);
  for (int i = 0; i < 200000; ++i) {
    const uint32_t v = static_cast<uint32_t>(random.Next());
    ASSERT_EQ(IntegerSqrt(v), floorRoot(v)) << v;
  }
}

TEST(GeometryTables, EntriesFollowTheirRules) {
  EXPECT_EQ(kArcTangent[0][0], 60);
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 50; ++x) {
      if (x == 0 && y == 0) continue;
      ASSERT_EQ(kArcTangent[y][x], RoundedUnits(y, x)) << y << "," << x;
    }
  }
  for (int k = 0; k < 240; ++k) {
    ASSERT_EQ(kSine[k], std::lround(std::sin(k * kPi / 120.0) * 10000.0)) << k;
    ASSERT_EQ(kCosine[k], std::lround(std::cos(k * kPi / 120.0) * 10000.0)) << k;
  }
}

}  // namespace
}  // namespace vorsensor
