#pragma once
// Error rates of a list of genuine and impostor scores: the DET curve, the
// equal error rate, FMR100, FMR1000, ZeroFMR and the rates at one threshold.
//
// A comparison matches at threshold t when its score is at least t, so
// FMR(t) is the share of impostor scores >= t and FNMR(t) the share of
// genuine scores < t. Rates that need a list that is empty are left unset.
#include <cstdint>
#include <optional>
#include <vector>

namespace vorsensor::evaluation {

struct DetPoint {
  int32_t threshold;
  double fmr;
  double fnmr;
};

// The equal error rate as the FVC competitions estimate it: t1 is the highest
// threshold with FNMR <= FMR, t2 the lowest with FNMR >= FMR; of the two the
// one whose FMR + FNMR is smaller (t1 on a tie) gives the interval
// [low, high] (at t1: [FNMR, FMR], at t2: [FMR, FNMR]), and the EER is its
// middle.
struct EqualErrorRate {
  double value;
  double low;
  double high;
  int32_t t1;
  int32_t t2;
};

constexpr const char* kEerInterpolation =
    "EER as the FVC competitions estimate it: t1 = the highest threshold with FNMR <= FMR, t2 = the lowest "
    "with FNMR >= FMR; the one of them with the smaller FMR + FNMR (t1 on a tie) gives the interval "
    "[FNMR(t1), FMR(t1)] or [FMR(t2), FNMR(t2)], and the EER is its middle";

struct ErrorRates {
  int64_t genuineCount = 0;
  int64_t impostorCount = 0;
  std::optional<EqualErrorRate> eer;
  // Lowest FNMR with FMR <= 1 %, <= 0.1 %, = 0.
  std::optional<double> fmr100;
  std::optional<double> fmr1000;
  std::optional<double> zeroFmr;
  int32_t threshold = 0;  // the threshold of the two rates below
  std::optional<double> fnmrAtThreshold;
  std::optional<double> fmrAtThreshold;
  std::vector<DetPoint> det;  // by rising threshold; empty unless both lists have scores
};

// Scores may be in any order. Every threshold at which a rate changes is
// looked at: each score s and s + 1.
ErrorRates ComputeErrorRates(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor,
                             int32_t threshold);

}  // namespace vorsensor::evaluation
