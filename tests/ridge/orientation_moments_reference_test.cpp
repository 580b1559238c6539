// OrientationFromMoments and CoherenceFromMoments against plain references:
// the straightforward computation (both components scaled by a 64-bit
// division, q by a 64-bit division, its root by IntegerSqrt) that the fast
// forms replace. They must agree on every input, so the inputs cover the
// whole 32-bit domain, the range real windows produce, and every boundary of
// the fast paths (scaling from 50, the narrow-division limits, the energy
// limit, den 0/1, the rounding thresholds of the root and the 255 cap).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/ridge/orientation_moments.h"
#include "geometry/geometry.h"
#include "support/random.h"

namespace vorsensor {
namespace {

using testing::TestRandom;

// The half-angle table by its definition: round(atan2(b, a) x 60 / pi),
// halves up, [0][0] = 30. No entry lies near a half, so doubles decide it.
struct HalfAngles {
  uint8_t at[50][50];
  HalfAngles() {
    const double pi = std::acos(-1.0);
    for (int b = 0; b < 50; ++b) {
      for (int a = 0; a < 50; ++a) {
        at[b][a] = static_cast<uint8_t>(std::floor(std::atan2(b, a) * 60.0 / pi + 0.5));
      }
    }
    at[0][0] = 30;
  }
};
const HalfAngles kHalfAngles;

int64_t Absolute(int64_t v) { return v < 0 ? -v : v; }

uint8_t ReferenceOrientation(int32_t gxx, int32_t gyy, int32_t gxy) {
  const int64_t a = static_cast<int64_t>(gxx) - gyy;
  const int64_t b = 2 * static_cast<int64_t>(gxy);
  int64_t big_a = Absolute(a);
  int64_t big_b = Absolute(b);
  const int64_t m = big_a > big_b ? big_a : big_b;
  if (m >= 50) {
    big_a = (big_a * 49 + (m >> 1)) / m;
    big_b = (big_b * 49 + (m >> 1)) / m;
  }
  const int32_t t = kHalfAngles.at[big_b][big_a];
  int32_t g;
  if (a > 0) {
    g = b < 0 ? 120 - t : t;
  } else {
    g = b > 0 ? 60 - t : 60 + t;
  }
  if (g == 120) g = 0;
  return static_cast<uint8_t>(g < 60 ? g + 60 : g - 60);
}

uint8_t ReferenceCoherence(int32_t gxx, int32_t gyy, int32_t gxy, uint8_t energyMin) {
  int64_t x = gxx / 36;
  int64_t y = gyy / 36;
  int64_t z = gxy / 36;
  const int64_t energy = x + y;
  x >>= 2;
  y >>= 2;
  z >>= 2;
  const int64_t d = x - y;
  const int64_t e = 2 * z;
  const int64_t s = x + y;
  const int64_t den = s * s / 65025;
  int64_t q = 0;
  if (energy >= static_cast<int64_t>(energyMin) * energyMin && den != 0) q = (d * d + e * e) / den;
  if (q <= 0) return 0;
  if (q >= 65281) return 255;
  const int64_t r = IntegerSqrt(static_cast<uint32_t>(q));
  return static_cast<uint8_t>(q - r * r > r ? r + 1 : r);
}

// Counts mismatches and reports the first few. Every input also passes
// through the row forms (OrientationRow, OrientationAndCoherenceRow) at every
// vector level the machine runs, in rows of 1 to 37 windows, so that rows
// taken 4 or 16 windows at a time meet every input in every lane and in the
// leftover windows of a row.
class Differential {
 public:
  void Check(int32_t gxx, int32_t gyy, int32_t gxy, uint8_t energyMin) {
    ++checked_;
    const uint8_t o = OrientationFromMoments(gxx, gyy, gxy);
    const uint8_t c = CoherenceFromMoments(gxx, gyy, gxy, energyMin);
    const uint8_t ro = ReferenceOrientation(gxx, gyy, gxy);
    const uint8_t rc = ReferenceCoherence(gxx, gyy, gxy, energyMin);
    Report(o == ro && c == rc, "single", gxx, gyy, gxy, energyMin, o, ro, c, rc);
    if (count_ > 0 && energyMin != rowEnergyMin_) Flush();
    rowEnergyMin_ = energyMin;
    xx_[count_] = gxx;
    yy_[count_] = gyy;
    xy_[count_] = gxy;
    expectedO_[count_] = ro;
    expectedC_[count_] = rc;
    if (++count_ == rowLength_) Flush();
  }
  ~Differential() {
    Flush();
    EXPECT_EQ(mismatches_, 0) << "of " << checked_ << " inputs";
    EXPECT_GT(checked_, 0);
  }

 private:
  static constexpr int32_t kRowMax = 37;
  void Report(bool same, const char* form, int32_t gxx, int32_t gyy, int32_t gxy, uint8_t energyMin, uint8_t o,
              uint8_t ro, uint8_t c, uint8_t rc) {
    if (same || ++mismatches_ > 5) return;
    ADD_FAILURE() << form << " moments (" << gxx << ", " << gyy << ", " << gxy << ") energyMin " << int{energyMin}
                  << ": orientation " << int{o} << " reference " << int{ro} << ", coherence " << int{c}
                  << " reference " << int{rc};
  }
  void Flush() {
    if (count_ == 0) return;
    for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
      uint8_t o[kRowMax], c[kRowMax], alone[kRowMax];
      OrientationAndCoherenceRow(xx_, yy_, xy_, count_, rowEnergyMin_, o, c, static_cast<SimdLevel>(level));
      OrientationRow(xx_, yy_, xy_, count_, alone, static_cast<SimdLevel>(level));
      for (int32_t i = 0; i < count_; ++i) {
        Report(o[i] == expectedO_[i] && c[i] == expectedC_[i], "row", xx_[i], yy_[i], xy_[i], rowEnergyMin_, o[i],
               expectedO_[i], c[i], expectedC_[i]);
        Report(alone[i] == expectedO_[i], "orientation row", xx_[i], yy_[i], xy_[i], rowEnergyMin_, alone[i],
               expectedO_[i], 0, 0);
      }
    }
    count_ = 0;
    rowLength_ = rowLength_ % kRowMax + 1;
  }
  int64_t checked_ = 0;
  int64_t mismatches_ = 0;
  int32_t xx_[kRowMax] = {}, yy_[kRowMax] = {}, xy_[kRowMax] = {};
  uint8_t expectedO_[kRowMax] = {}, expectedC_[kRowMax] = {};
  uint8_t rowEnergyMin_ = 0;
  int32_t count_ = 0;
  int32_t rowLength_ = 1;
};

// A value of random bit length (0..31) and random sign: every magnitude
// class of the 32-bit domain equally often, including both extremes.
int32_t AnyMagnitude(TestRandom& random) {
  const int bits = random.Range(0, 32);
  const uint64_t raw = random.Next();
  int64_t v = bits == 0 ? 0 : static_cast<int64_t>(raw >> (64 - bits));
  if (bits == 32) return static_cast<int32_t>(static_cast<uint32_t>(raw));
  return (raw & 1) != 0 ? static_cast<int32_t>(-v) : static_cast<int32_t>(v);
}

TEST(MomentsReference, RandomOverTheWholeDomainAndTheRealRange) {
  TestRandom random(0x5EED0A11);
  Differential diff;
  const uint8_t energyMins[] = {0, 1, 70, 80, 255};
  constexpr int32_t kRealMax = 1530 * 1530;  // the largest mean of gx² a window can have
  for (int i = 0; i < 1500000; ++i) {
    const uint8_t energyMin = energyMins[i % 5];
    diff.Check(AnyMagnitude(random), AnyMagnitude(random), AnyMagnitude(random), energyMin);
    // Real windows: non-negative squares, |gxy| at most sqrt(gxx * gyy).
    const int32_t gxx = random.Range(0, kRealMax);
    const int32_t gyy = random.Range(0, kRealMax);
    const int32_t bound = static_cast<int32_t>(IntegerSqrt(static_cast<uint32_t>(
        std::min<int64_t>(static_cast<int64_t>(gxx) * gyy, std::numeric_limits<uint32_t>::max()))));
    diff.Check(gxx, gyy, random.Range(-bound, bound), energyMin);
    // Weak windows near the energy limit and the scaling limit.
    diff.Check(random.Range(0, 800000), random.Range(0, 800000), random.Range(-400000, 400000), energyMin);
    diff.Check(random.Range(-60, 60), random.Range(-60, 60), random.Range(-30, 30), energyMin);
  }
  // Windows whose energy meets the floor exactly, and falls one short of it.
  for (const uint8_t energyMin : {70, 80, 255}) {
    const int32_t floor = energyMin * energyMin;
    for (int32_t part = 0; part <= floor; part += floor / 16) {
      for (const int32_t below : {0, 1}) diff.Check(36 * part + 35, 36 * (floor - part - below), 12 * part, energyMin);
    }
  }
  // The extremes of the domain.
  const int32_t extremes[] = {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::min() + 1, -1, 0,
                              1, std::numeric_limits<int32_t>::max() - 1, std::numeric_limits<int32_t>::max()};
  for (int32_t gxx : extremes) {
    for (int32_t gyy : extremes) {
      for (int32_t gxy : extremes) {
        for (uint8_t energyMin : energyMins) diff.Check(gxx, gyy, gxy, energyMin);
      }
    }
  }
}

// Every pair of scaled components: a = gxx - gyy and b = 2 gxy sweep all
// magnitudes up to 1200 exhaustively with both signs, and around the limit
// where one 32-bit division no longer holds the scaled dividend (2^32 / 50).
TEST(MomentsReference, ExhaustiveScalingOfTheSmallerComponent) {
  Differential diff;
  for (int32_t a = -1200; a <= 1200; ++a) {
    for (int32_t gxy = -600; gxy <= 600; ++gxy) diff.Check(a, 0, gxy, 70);
  }
  TestRandom random(77);
  const int64_t narrowLimit = 4294967295LL / 50;
  for (int64_t m = narrowLimit - 3000; m <= narrowLimit + 3000; ++m) {
    for (int k = 0; k < 40; ++k) {
      const int32_t small = random.Range(0, static_cast<int32_t>(m / 2));
      const int32_t sign = (k & 1) != 0 ? -1 : 1;
      // m as a = gxx - gyy (gyy may be negative), and m as b = 2 gxy.
      diff.Check(static_cast<int32_t>(m / 2), static_cast<int32_t>(-(m - m / 2)), sign * small, 70);
      if (m % 2 == 0) diff.Check(sign * small, 0, static_cast<int32_t>(m / 2), 70);
    }
  }
}

// The scaled coherence terms X, Y, Z (after the division by 36 and the
// shift) over a dense grid: den from 0 to 35 and q from 0 to past the cap,
// the energy limit on both sides, with the remainders that the division by
// 36 and the shift drop chosen at random.
TEST(MomentsReference, DenseGridOfSmallCoherenceTerms) {
  Differential diff;
  TestRandom random(91);
  for (int32_t x = 0; x <= 760; ++x) {
    for (int32_t y = 0; y <= x; y += 3) {
      for (int32_t z = -(x + y) / 2; z <= (x + y) / 2; z += 7) {
        const int32_t rx = random.Range(0, 143), ry = random.Range(0, 143), rz = random.Range(0, 143);
        diff.Check(144 * x + rx, 144 * y + ry, 144 * z + (z < 0 ? -rz : rz), static_cast<uint8_t>(random.Range(0, 80)));
      }
    }
  }
}

// Every 32-bit q up to past the cap exhaustively, then the rest of the range
// by stride: nearest root as floor root plus one when q lies beyond r² + r.
TEST(MomentsReference, NearestRootCappedAgainstTheFloorRoot) {
  const auto reference = [](uint32_t q) {
    if (q >= 65281) return 255u;
    const uint32_t r = IntegerSqrt(q);
    return q - r * r > r ? r + 1 : r;
  };
  int64_t mismatches = 0;
  for (uint64_t q = 0; q <= std::numeric_limits<uint32_t>::max(); q += q < 70000 ? 1 : 65537) {
    mismatches += NearestRootCapped(static_cast<uint32_t>(q)) != reference(static_cast<uint32_t>(q)) ? 1 : 0;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(NearestRootCapped(std::numeric_limits<uint32_t>::max()), 255);
}

// The difference orientation written out in 64 bits: the first adjacent
// pair (c, a, b, e) with the smallest a + b, offset, ratio, all by plain
// 64-bit division.
DifferenceOrientation ReferenceDifferences(int64_t h, int64_t d1, int64_t v, int64_t d2) {
  const int64_t m = std::max({h, d1, v, d2});
  const int64_t pairs[4][5] = {{45, h, d1, v, d2}, {75, d1, v, d2, h}, {105, v, d2, h, d1}, {15, d2, h, d1, v}};
  int best = 0;
  for (int p = 1; p < 4; ++p) {
    if (pairs[p][2] + pairs[p][3] < pairs[best][2] + pairs[best][3]) best = p;
  }
  const int64_t base = pairs[best][0], c = pairs[best][1], a = pairs[best][2], b = pairs[best][3], e = pairs[best][4];
  const int64_t spread = a + b + c + e - 4 * m;
  if (spread == 0) return {127, 255};
  const int64_t off = 15 * ((b - a) + 3 * (e - c)) / spread;
  const int64_t o = base + off == 120 ? 0 : base + off;
  const int64_t lo = std::min(a, b), hi = b < a ? c : e;
  const int64_t k = (hi - lo) * (15 - Absolute(off)) / 30;
  const int64_t num = k > lo ? 0 : lo - k, den = hi + k;
  return {static_cast<uint8_t>(o), static_cast<uint8_t>(den == 0 ? 255 : num * 255 / den)};
}

// OrientationFromDifferences (32-bit below 2^23) and DifferenceOrientationRow
// (windows two or eight at a time in doubles, at every vector level the
// machine runs) against the 64-bit reference: values of every bit length up
// to the largest window sum the rows take, ties between pair sums, all four
// equal, zeros, and scaled values on both sides of 2^23; rows of 1 to 19
// windows, with and without reliability, flat limits on and around the
// largest value.
TEST(MomentsReference, DifferenceOrientationRowsAgainstSixtyFourBits) {
  TestRandom random(2024);
  constexpr int32_t kLargestRaw = 2147483647 / 71;
  constexpr int32_t kRow = 37;
  int32_t bits = 25;
  auto value = [&](int kind) -> int32_t {
    switch (kind) {
      case 0: return static_cast<int32_t>((random.Next() >> (64 - random.Range(1, bits))) % kLargestRaw);
      case 1: return random.Range(0, 12);
      case 2: return random.Range((1 << 23) - 40, (1 << 23) + 40);  // around 2^23, also once scaled by 71/100
      default: return random.Range(11814000, 11815000);             // scaled to just below and above 2^23
    }
  };
  int64_t mismatches = 0;
  for (int round = 0; round < 100000; ++round) {
    const int32_t n = round % kRow + 1;
    // Every other row keeps all its values below 2^23 (the 32-bit lanes of
    // whole blocks of 16), the others mix in values past it.
    const bool narrowRow = round % 2 == 0;
    bits = narrowRow ? 23 : 25;
    int32_t h[kRow], d1[kRow], v[kRow], d2[kRow];
    for (int32_t i = 0; i < n; ++i) {
      const int kind = random.Range(0, 7) < 5 || narrowRow ? random.Range(0, 1) : random.Range(0, 3);
      h[i] = value(kind), d1[i] = value(kind), v[i] = value(kind), d2[i] = value(kind);
      // A tie in the pair sums (h + v = d1 + d2 before scaling; d2 within the range).
      if (random.Range(0, 5) == 0) d2[i] = std::clamp(h[i] + v[i] - d1[i], 0, kLargestRaw);
      if (random.Range(0, 20) == 0) h[i] = d1[i] = v[i] = d2[i];                                // all equal
    }
    const int64_t flat = random.Range(0, 3) == 0 ? -1 : random.Range(0, 40);
    uint8_t o[kRow], r[kRow], alone[kRow];
    const auto level = static_cast<SimdLevel>((round / 2) % (static_cast<int32_t>(MachineSimdLevel()) + 1));
    DifferenceOrientationRow(h, d1, v, d2, n, flat, o, r, level);
    DifferenceOrientationRow(h, d1, v, d2, n, flat, alone, nullptr, level);
    for (int32_t i = 0; i < n; ++i) {
      const int32_t s1 = static_cast<int32_t>(int64_t{d1[i]} * 71 / 100), s2 = static_cast<int32_t>(int64_t{d2[i]} * 71 / 100);
      const DifferenceOrientation expected = ReferenceDifferences(h[i], s1, v[i], s2);
      const DifferenceOrientation single = OrientationFromDifferences(h[i], s1, v[i], s2);
      const uint8_t expectedRatio = std::max({h[i], s1, v[i], s2}) <= flat ? 255 : expected.ratio;
      const bool same = single.orientation == expected.orientation && single.ratio == expected.ratio &&
                        o[i] == expected.orientation && alone[i] == expected.orientation && r[i] == expectedRatio;
      if (!same && ++mismatches <= 5) {
        ADD_FAILURE() << "level " << static_cast<int32_t>(level) << " sums (" << h[i] << ", " << d1[i] << ", " << v[i] << ", " << d2[i] << ") lane " << i << " of "
                      << n << ": orientation " << int{o[i]} << " / " << int{single.orientation} << " reference "
                      << int{expected.orientation} << ", ratio " << int{r[i]} << " / " << int{single.ratio}
                      << " reference " << int{expectedRatio};
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace vorsensor
