// Error rates against hand-worked score lists and against a slow reference
// that tries every whole threshold and applies the definitions directly.
#include "evaluation/error_rates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <vector>

namespace vorsensor::evaluation {
namespace {

constexpr double kTolerance = 1e-12;

struct HandCase {
  const char* name;
  std::vector<int32_t> genuine;
  std::vector<int32_t> impostor;
  int32_t threshold;
  std::optional<double> eer, eerLow, eerHigh;
  int32_t t1, t2;
  std::optional<double> fmr100, fmr1000, zeroFmr, fnmrAt, fmrAt;
};

void ExpectRate(const std::optional<double>& got, const std::optional<double>& want, const char* what) {
  ASSERT_EQ(got.has_value(), want.has_value()) << what;
  if (want) {
    EXPECT_NEAR(*got, *want, kTolerance) << what;
  }
}

std::vector<int32_t> ImpostorsAtOnePercent() {
  std::vector<int32_t> v(98, 0);
  v.push_back(30);
  v.push_back(50);
  return v;
}

TEST(ErrorRatesTest, HandWorkedLists) {
  const HandCase cases[] = {
      // Every genuine score above every impostor score; thresholds sitting on a score.
      {"separated", {10, 20}, {1, 2}, 10, 0.0, 0.0, 0.0, 10, 3, 0.0, 0.0, 0.0, 0.0, 0.0},
      {"separated, threshold on an impostor", {10, 20}, {1, 2}, 2, 0.0, 0.0, 0.0, 10, 3, 0.0, 0.0, 0.0, 0.0, 0.5},
      // All scores equal: below 6 everything matches, from 6 nothing does.
      {"all equal", {5, 5}, {5, 5}, 5, 0.5, 0.0, 1.0, 5, 6, 1.0, 1.0, 1.0, 0.0, 1.0},
      // Ties across the lists; the sums at t1 and t2 are equal, so t1 gives the interval.
      {"ties", {3, 5, 5, 8}, {1, 3, 5, 5}, 5, 0.375, 0.25, 0.5, 5, 6, 0.75, 0.75, 0.75, 0.25, 0.5},
      // t2 has the smaller sum: the interval is [FMR(t2), FNMR(t2)] = [1/3, 1/2].
      {"t2 interval", {2, 6}, {1, 4, 5}, 6, 5.0 / 12, 1.0 / 3, 0.5, 4, 5, 0.5, 0.5, 0.5, 0.5, 0.0},
      // FMR of exactly 1 % counts for FMR100 (t 31..50), not for FMR1000 (needs t 51).
      {"FMR exactly 1 %", {40, 60}, ImpostorsAtOnePercent(), 50, 0.005, 0.0, 0.01, 40, 41, 0.0, 0.5, 0.5, 0.5, 0.01},
      // No impostors: only the genuine rate at the threshold exists.
      {"no impostors", {1, 2}, {}, 2, std::nullopt, std::nullopt, std::nullopt, 0, 0, std::nullopt, std::nullopt,
       std::nullopt, 0.5, std::nullopt},
      {"no genuine", {}, {0, 7}, 7, std::nullopt, std::nullopt, std::nullopt, 0, 0, std::nullopt, std::nullopt,
       std::nullopt, std::nullopt, 0.5},
  };
  for (const HandCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ErrorRates r = ComputeErrorRates(c.genuine, c.impostor, c.threshold);
    EXPECT_EQ(r.genuineCount, static_cast<int64_t>(c.genuine.size()));
    EXPECT_EQ(r.impostorCount, static_cast<int64_t>(c.impostor.size()));
    ASSERT_EQ(r.eer.has_value(), c.eer.has_value());
    if (c.eer) {
      EXPECT_NEAR(r.eer->value, *c.eer, kTolerance);
      EXPECT_NEAR(r.eer->low, *c.eerLow, kTolerance);
      EXPECT_NEAR(r.eer->high, *c.eerHigh, kTolerance);
      EXPECT_EQ(r.eer->t1, c.t1);
      EXPECT_EQ(r.eer->t2, c.t2);
    } else {
      EXPECT_TRUE(r.det.empty());
    }
    ExpectRate(r.fmr100, c.fmr100, "FMR100");
    ExpectRate(r.fmr1000, c.fmr1000, "FMR1000");
    ExpectRate(r.zeroFmr, c.zeroFmr, "ZeroFMR");
    ExpectRate(r.fnmrAtThreshold, c.fnmrAt, "FNMR at the threshold");
    ExpectRate(r.fmrAtThreshold, c.fmrAt, "FMR at the threshold");
  }
}

// The definitions applied at every whole threshold from the lowest score to
// one above the highest.
struct Reference {
  double eer, low, high;
  int32_t t1, t2;
  double fmr100, fmr1000, zeroFmr;
};

Reference SlowReference(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor) {
  int32_t lo = genuine[0];
  int32_t hi = genuine[0];
  for (const auto* list : {&genuine, &impostor}) {
    for (const int32_t s : *list) {
      lo = std::min(lo, s);
      hi = std::max(hi, s);
    }
  }
  auto fmr = [&](int32_t t) {
    double n = 0;
    for (const int32_t s : impostor) n += s >= t ? 1 : 0;
    return n / impostor.size();
  };
  auto fnmr = [&](int32_t t) {
    double n = 0;
    for (const int32_t s : genuine) n += s < t ? 1 : 0;
    return n / genuine.size();
  };
  Reference ref{};
  ref.fmr100 = ref.fmr1000 = ref.zeroFmr = 2;
  ref.t2 = hi + 2;
  ref.t1 = lo - 1;
  for (int32_t t = lo; t <= hi + 1; ++t) {
    const double a = fmr(t);
    const double b = fnmr(t);
    if (a * 100 <= 1 + 1e-12) ref.fmr100 = std::min(ref.fmr100, b);
    if (a * 1000 <= 1 + 1e-12) ref.fmr1000 = std::min(ref.fmr1000, b);
    if (a == 0) ref.zeroFmr = std::min(ref.zeroFmr, b);
    if (b <= a + 1e-12) ref.t1 = t;
    if (b >= a - 1e-12 && ref.t2 > hi + 1) ref.t2 = t;
  }
  if (fnmr(ref.t1) + fmr(ref.t1) <= fmr(ref.t2) + fnmr(ref.t2) + 1e-12) {
    ref.low = fnmr(ref.t1);
    ref.high = fmr(ref.t1);
  } else {
    ref.low = fmr(ref.t2);
    ref.high = fnmr(ref.t2);
  }
  ref.eer = (ref.low + ref.high) / 2;
  return ref;
}

TEST(ErrorRatesTest, AgreesWithEveryThresholdTried) {
  std::mt19937 random(20240501);
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    const int32_t range = 1 + static_cast<int32_t>(random() % 40);  // small ranges make ties
    std::vector<int32_t> genuine(1 + random() % 30);
    std::vector<int32_t> impostor(1 + random() % 120);
    for (int32_t& s : genuine) s = static_cast<int32_t>(random() % range) + range / 3;
    for (int32_t& s : impostor) s = static_cast<int32_t>(random() % range);
    const ErrorRates r = ComputeErrorRates(genuine, impostor, range / 2);
    const Reference ref = SlowReference(genuine, impostor);
    ASSERT_TRUE(r.eer.has_value());
    EXPECT_NEAR(r.eer->value, ref.eer, kTolerance);
    EXPECT_NEAR(r.eer->low, ref.low, kTolerance);
    EXPECT_NEAR(r.eer->high, ref.high, kTolerance);
    EXPECT_EQ(r.eer->t1, ref.t1);
    EXPECT_EQ(r.eer->t2, ref.t2);
    EXPECT_NEAR(*r.fmr100, ref.fmr100, kTolerance);
    EXPECT_NEAR(*r.fmr1000, ref.fmr1000, kTolerance);
    EXPECT_NEAR(*r.zeroFmr, ref.zeroFmr, kTolerance);
    // The DET curve runs from (1, 0) to (0, 1) without turning back.
    ASSERT_FALSE(r.det.empty());
    EXPECT_EQ(r.det.front().fmr, 1.0);
    EXPECT_EQ(r.det.front().fnmr, 0.0);
    EXPECT_EQ(r.det.back().fmr, 0.0);
    EXPECT_EQ(r.det.back().fnmr, 1.0);
    for (size_t k = 1; k < r.det.size(); ++k) {
      EXPECT_LE(r.det[k].fmr, r.det[k - 1].fmr);
      EXPECT_GE(r.det[k].fnmr, r.det[k - 1].fnmr);
    }
  }
}

}  // namespace
}  // namespace vorsensor::evaluation
