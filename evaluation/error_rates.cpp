// FMR, FNMR, the DET curve and the figures read from it.
#include "evaluation/error_rates.h"

#include <algorithm>

namespace vorsensor::evaluation {
namespace {

constexpr int64_t kPercent = 100;
constexpr int64_t kPerMille = 1000;

// Counts by threshold over a sorted list.
int64_t CountBelow(const std::vector<int32_t>& sorted, int32_t t) {
  return std::lower_bound(sorted.begin(), sorted.end(), t) - sorted.begin();
}

int64_t CountAtLeast(const std::vector<int32_t>& sorted, int32_t t) {
  return static_cast<int64_t>(sorted.size()) - CountBelow(sorted, t);
}

double Share(int64_t count, int64_t total) { return static_cast<double>(count) / static_cast<double>(total); }

}  // namespace

ErrorRates ComputeErrorRates(const std::vector<int32_t>& genuine, const std::vector<int32_t>& impostor,
                             int32_t threshold) {
  ErrorRates r;
  std::vector<int32_t> g = genuine;
  std::vector<int32_t> im = impostor;
  std::sort(g.begin(), g.end());
  std::sort(im.begin(), im.end());
  r.genuineCount = static_cast<int64_t>(g.size());
  r.impostorCount = static_cast<int64_t>(im.size());
  r.threshold = threshold;
  if (!g.empty()) r.fnmrAtThreshold = Share(CountBelow(g, threshold), r.genuineCount);
  if (!im.empty()) r.fmrAtThreshold = Share(CountAtLeast(im, threshold), r.impostorCount);
  if (g.empty() || im.empty()) return r;

  std::vector<int32_t> thresholds;
  for (const std::vector<int32_t>* list : {&g, &im}) {
    for (const int32_t s : *list) {
      thresholds.push_back(s);
      thresholds.push_back(s + 1);
    }
  }
  std::sort(thresholds.begin(), thresholds.end());
  thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());

  struct Counts {
    int32_t t;
    int64_t falseMatches;
    int64_t falseNonMatches;
  };
  std::vector<Counts> counts;
  for (const int32_t t : thresholds) {
    counts.push_back({t, CountAtLeast(im, t), CountBelow(g, t)});
    r.det.push_back({t, Share(counts.back().falseMatches, r.impostorCount),
                     Share(counts.back().falseNonMatches, r.genuineCount)});
  }

  // Lowest FNMR under each FMR limit; FMR <= limit compared in whole numbers.
  auto lowestFnmr = [&](int64_t perUnit, int64_t unit) -> std::optional<double> {
    std::optional<int64_t> best;
    for (const Counts& c : counts) {
      if (c.falseMatches * unit <= perUnit * r.impostorCount && (!best || c.falseNonMatches < *best)) {
        best = c.falseNonMatches;
      }
    }
    if (!best) return std::nullopt;
    return Share(*best, r.genuineCount);
  };
  r.fmr100 = lowestFnmr(1, kPercent);
  r.fmr1000 = lowestFnmr(1, kPerMille);
  r.zeroFmr = lowestFnmr(0, 1);

  // FNMR <= FMR compared exactly: fnm / G <= fm / I  <=>  fnm * I <= fm * G.
  const Counts* t1 = nullptr;
  const Counts* t2 = nullptr;
  for (const Counts& c : counts) {
    const int64_t fnmr = c.falseNonMatches * r.impostorCount;
    const int64_t fmr = c.falseMatches * r.genuineCount;
    if (fnmr <= fmr) t1 = &c;
    if (fnmr >= fmr && t2 == nullptr) t2 = &c;
  }
  // The lowest threshold has FNMR 0 and the highest FMR 0, so both exist.
  const double fnmr1 = Share(t1->falseNonMatches, r.genuineCount);
  const double fmr1 = Share(t1->falseMatches, r.impostorCount);
  const double fnmr2 = Share(t2->falseNonMatches, r.genuineCount);
  const double fmr2 = Share(t2->falseMatches, r.impostorCount);
  EqualErrorRate eer{};
  eer.t1 = t1->t;
  eer.t2 = t2->t;
  // The sums compared exactly, in units of 1 / (G * I).
  const int64_t sum1 = t1->falseNonMatches * r.impostorCount + t1->falseMatches * r.genuineCount;
  const int64_t sum2 = t2->falseNonMatches * r.impostorCount + t2->falseMatches * r.genuineCount;
  if (sum1 <= sum2) {
    eer.low = fnmr1;
    eer.high = fmr1;
  } else {
    eer.low = fmr2;
    eer.high = fnmr2;
  }
  eer.value = (eer.low + eer.high) / 2;
  r.eer = eer;
  return r;
}

}  // namespace vorsensor::evaluation
