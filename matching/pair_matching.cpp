// Pair correspondences, the rotation and shift votes and the fit test.
#include "matching/pair_matching.h"

#include <cstdlib>
#include <cstring>

#include "engine/result_codes.h"
#include "matching/geometry/geometry.h"
#include "matching/pair_tables.h"

namespace vorsensor {
namespace {

constexpr int32_t kDistancePoints = 20;   // pair score part for the distance
constexpr int32_t kAnglePoints = 10;      // pair score part for each angle
constexpr int32_t kScoreOffsetPoints = 10;
constexpr int32_t kRefinedBasePerMille = 600;
constexpr int32_t kMaxPairScore = 255;
constexpr int32_t kPerMille = 1000;
constexpr int32_t kHalfPerMille = 500;
constexpr int32_t kRotationSmoothRadius = 4;
constexpr int32_t kRefineRotationSpan = 21;     // bins rot - 10 .. rot + 10
constexpr int32_t kRefineRotationBack = 10;
constexpr int32_t kRefineRotationFloor = 20;    // smoothed sums up to this carry no weight
constexpr int32_t kRefineRounding = 100;        // rotation refined in hundredths
constexpr int32_t kQuarterTurnOrientation = 60; // orientation differences fold at 60
constexpr int32_t kShiftWindow = 5;             // bins c - 5 .. c + 5
constexpr int32_t kShiftLowestCentre = 5;
constexpr int32_t kShiftHighestCentre = 4090;
constexpr int32_t kRefinedRangeBelow = 10;
constexpr int32_t kRefinedRangeAbove = 9;
constexpr int32_t kRefinedPeakBack = 10;        // weighted mean over peak - 10 .. peak + 9
constexpr int32_t kRefinedPeakAhead = 9;

// |a - b| folded into 0..120 for a - b in -239..239, indexed by a - b + 239.
struct FoldTable {
  uint8_t gap[2 * kFullTurn - 1];
  constexpr FoldTable() : gap() {
    for (int32_t d = -(kFullTurn - 1); d < kFullTurn; ++d) {
      const int32_t size = d < 0 ? -d : d;
      gap[d + kFullTurn - 1] = static_cast<uint8_t>(size >= kHalfTurn ? kFullTurn - size : size);
    }
  }
};
constexpr FoldTable kFold;

// |difference| of two directions folded into 0..120.
inline int32_t AngleGap(int32_t a, int32_t b) {
  int32_t d = a > b ? a - b : b - a;
  return d >= kHalfTurn ? kFullTurn - d : d;
}

// Score of one candidate correspondence, or 0 when it is not formed.
inline int32_t PairScore(const BucketEntry& a, const BucketEntry& b, int32_t dd, int32_t dk,
                         int32_t de, const int32_t* distancePart, const int32_t* anglePart,
                         const MatchParameters& p) {
  int64_t s;
  if (p.refined) {
    s = (p.distanceTolerance + p.angleTolerance) * kRefinedBasePerMille / kPerMille - Distance3Of(dd, dk, de);
  } else {
    s = distancePart[dd] + anglePart[dk] + anglePart[de] - kScoreOffsetPoints;
  }
  if (s <= 0) return 0;
  if (p.useType && a.firstType != 0 && a.secondType != 0 && b.firstType != 0 && b.secondType != 0 &&
      a.firstType == b.firstType && a.secondType == b.secondType) {
    s = (s * p.typeBoost + kHalfPerMille) / kPerMille;
  }
  if (p.useSpread && a.firstSpread != kNoSpread && a.secondSpread != kNoSpread &&
      b.firstSpread != kNoSpread && b.secondSpread != kNoSpread) {
    const int64_t tol = p.spreadTolerance;
    const int64_t f1 = tol - std::abs(a.firstSpread - b.firstSpread);
    const int64_t f2 = tol - std::abs(a.secondSpread - b.secondSpread);
    // A tolerance of 0 leaves no spread difference acceptable.
    s = (f1 <= 0 || f2 <= 0) ? 0 : s * f1 * f2 / (tol * tol);
    if (s == 0) return 0;
  }
  if (p.useDensity && a.firstDensity != kNoDensity && a.secondDensity != kNoDensity &&
      b.firstDensity != kNoDensity && b.secondDensity != kNoDensity) {
    int64_t e = std::abs(a.firstDensity - b.firstDensity) + std::abs(a.secondDensity - b.secondDensity) -
                p.densitySlack;
    if (e < 0) e = 0;
    const int64_t f = p.densityScale - e;
    s = f <= 0 ? 0 : s * f / p.densityScale;
    if (s == 0) return 0;
  }
  return static_cast<int32_t>(s > kMaxPairScore ? kMaxPairScore : s);
}

}  // namespace

int32_t BasePairScore(int32_t dd, int32_t dk, int32_t de, const MatchParameters& p) {
  if (p.refined) {
    return (p.distanceTolerance + p.angleTolerance) * kRefinedBasePerMille / kPerMille - Distance3Of(dd, dk, de);
  }
  const int32_t d1 = p.tolD + 1;
  const int32_t a1 = p.tolA + 1;
  return kDistancePoints * (d1 - dd) / d1 + kAnglePoints * (a1 - dk) / a1 + kAnglePoints * (a1 - de) / a1 -
         kScoreOffsetPoints;
}

int32_t FindCorrespondences(MatchWorkspace* w, const PreparedSet& probe, const PreparedSet& sample,
                            const MatchParameters& p, int64_t* total) {
  *total = 0;
  std::memset(w->rotationHistogram, 0, sizeof w->rotationHistogram);
  w->correspondences.Clear();
  const int32_t tolD = p.tolD;
  const int32_t tolA = p.tolA;
  if (tolD < 0 || tolA < 0) return kOk;  // refined mode with a zero tolerance: no window
  // Score parts by difference (tolD <= 255, tolA <= 120).
  int32_t distancePart[256];
  int32_t anglePart[kHalfTurn + 1];
  for (int32_t dd = 0; dd <= tolD; ++dd) distancePart[dd] = kDistancePoints * (tolD + 1 - dd) / (tolD + 1);
  for (int32_t da = 0; da <= tolA; ++da) anglePart[da] = kAnglePoints * (tolA + 1 - da) / (tolA + 1);

  const BucketEntry* probeEntries = probe.buckets.data();
  const BucketEntry* sampleEntries = sample.buckets.data();
  const int32_t* sampleStart = sample.bucketStart;
  for (int32_t k = 0; k < kAngleBuckets; ++k) {
    const int32_t aBegin = probe.bucketStart[k];
    const int32_t aEnd = probe.bucketStart[k + 1];
    if (aBegin == aEnd) continue;
    // The buckets k - tolA .. k + tolA lie back to back in the bucket
    // array, so the window is one run of entries, or two when it wraps past
    // 239. Walking them in order visits the buckets in window order and each
    // bucket in ascending distance, as a bucket-by-bucket search would; the
    // distance test replaces that search's early stop.
    const int32_t first = Wrap240(k - tolA);
    const int32_t last = first + 2 * tolA;
    int32_t runs[2][2] = {{sampleStart[first], sampleStart[last < kAngleBuckets ? last + 1 : kAngleBuckets]},
                          {0, last < kAngleBuckets ? 0 : sampleStart[last - kAngleBuckets + 1]}};
    for (int32_t ai = aBegin; ai < aEnd; ++ai) {
      const BucketEntry& a = probeEntries[ai];
      const int32_t aDistance = a.distance;
      const int32_t lowestDistance = aDistance - tolD;
      const int32_t distanceSpan = 2 * tolD;
      // gapRow[-x] = folded |a's second angle - x|.
      const uint8_t* gapRow = kFold.gap + kFullTurn - 1 + a.secondAngle;
      int32_t best = 0;
      for (const auto& run : runs) {
        for (int32_t bi = run[0]; bi < run[1]; ++bi) {
          const BucketEntry& b = sampleEntries[bi];
          // Most entries fail the distance or the angle test at random, so
          // both are folded into one sign test: one well-predicted branch.
          const int32_t x = b.distance - lowestDistance;  // fits when 0 <= x <= 2 tolD
          const int32_t de = gapRow[-static_cast<int32_t>(b.secondAngle)];
          if ((x | (distanceSpan - x) | (tolA - de)) < 0) continue;
          const int32_t dd = std::abs(b.distance - aDistance);
          const int32_t dk = AngleGap(b.firstAngle, k);
          const int32_t s = PairScore(a, b, dd, dk, de, distancePart, anglePart, p);
          if (s <= 0) continue;
          if (w->correspondences.count() >= kMaxCorrespondences ||
              !w->correspondences.Append(Correspondence{a.pair, b.pair, s}, kCorrespondenceGrowth)) {
            return kOutOfMemory;
          }
          w->rotationHistogram[Wrap240(a.firstDirection - b.firstDirection)] += s;
          w->rotationHistogram[Wrap240(a.secondDirection - b.secondDirection)] += s;
          if (s > best) best = s;
        }
      }
      *total += best;
    }
  }
  return kOk;
}

int32_t ChooseRotation(MatchWorkspace* w, const MatchParameters& p) {
  const int32_t* h = w->rotationHistogram;
  int32_t* smooth = w->smoothedRotation;
  int32_t window = 0;
  for (int32_t i = -kRotationSmoothRadius; i <= kRotationSmoothRadius; ++i) window += h[Wrap240(i)];
  for (int32_t k = 0; k < kAngleBuckets; ++k) {
    smooth[k] = window;
    window += h[Wrap240(k + kRotationSmoothRadius + 1)] - h[Wrap240(k - kRotationSmoothRadius)];
  }
  int32_t rot = 0;
  int32_t peak = smooth[0];
  for (int32_t k = 1; k < kAngleBuckets; ++k) {
    if (w->rotationMask[k] != 0 && smooth[k] > peak) {
      rot = k;
      peak = smooth[k];
    }
  }
  if (p.refined) {
    int64_t sum = 0;
    int64_t weight = 0;
    for (int32_t i = 0; i < kRefineRotationSpan; ++i) {
      int64_t v = smooth[Wrap240(rot - kRefineRotationBack + i)];
      if (v <= kRefineRotationFloor) continue;
      v -= peak / 2;
      if (v > 0) {
        sum += i * v;
        weight += v;
      }
    }
    // Without weight near the peak the rotation stays where it is.
    if (weight != 0) {
      const int32_t offset = static_cast<int32_t>((sum * kRefineRounding / weight + kRefineRounding / 2) / kRefineRounding);
      rot = Wrap240(rot + offset - kRefineRotationBack);
    }
  }
  return rot;
}

int32_t VoteShifts(MatchWorkspace* w, const PreparedSet& probe, const PreparedSet& sample,
                   const MatchParameters& p, int64_t* total, int32_t rangeX[2], int32_t rangeY[2]) {
  std::memset(w->shiftHistogramX, 0, sizeof w->shiftHistogramX);
  std::memset(w->shiftHistogramY, 0, sizeof w->shiftHistogramY);
  rangeX[0] = kShiftBins - 1;
  rangeX[1] = 0;
  rangeY[0] = kShiftBins - 1;
  rangeY[1] = 0;
  w->consistent.Clear();
  *total = 0;
  const Minutia* pm = probe.set.minutiae;
  const Minutia* sm = sample.set.minutiae;
  const int32_t count = w->correspondences.count();
  if (!w->consistent.Reserve(count, kCorrespondenceGrowth)) return kOutOfMemory;
  for (int32_t i = 0; i < count; ++i) {
    const Correspondence& c = w->correspondences[i];
    const MinutiaPair& a = probe.pairs[c.probePair];
    const MinutiaPair& b = sample.pairs[c.samplePair];
    int32_t orientationGap = std::abs(a.lineOrientation - b.lineOrientation);
    if (orientationGap > kQuarterTurnOrientation) orientationGap = kHalfTurn - orientationGap;
    if (orientationGap > p.tolA) continue;
    const int32_t t1x = pm[a.first].x - sm[b.first].x;
    const int32_t t1y = pm[a.first].y - sm[b.first].y;
    const int32_t t2x = pm[a.second].x - sm[b.second].x;
    const int32_t t2y = pm[a.second].y - sm[b.second].y;
    const bool agree = std::abs(t1x - t2x) <= p.tolD && std::abs(t1y - t2y) <= p.tolD;
    const bool inRange = std::abs(t1x) < kShiftOffset && std::abs(t1y) < kShiftOffset &&
                         std::abs(t2x) < kShiftOffset && std::abs(t2y) < kShiftOffset;
    if (agree && inRange) {
      const int32_t bx = (t1x + t2x) / 2 + kShiftOffset;
      const int32_t by = (t1y + t2y) / 2 + kShiftOffset;
      w->shiftHistogramX[bx] += c.score;
      w->shiftHistogramY[by] += c.score;
      if (bx < rangeX[0]) rangeX[0] = bx;
      if (bx > rangeX[1]) rangeX[1] = bx;
      if (by < rangeY[0]) rangeY[0] = by;
      if (by > rangeY[1]) rangeY[1] = by;
    } else if (!p.refined) {
      continue;
    }
    w->consistent[w->consistent.count()] = i;
    w->consistent.SetCount(w->consistent.count() + 1);
  }
  // Best score of each run of consecutive consistent correspondences with one probe pair.
  const int32_t n = w->consistent.count();
  int32_t runBest = 0;
  for (int32_t k = 0; k < n; ++k) {
    const Correspondence& c = w->correspondences[w->consistent[k]];
    if (k > 0 && c.probePair != w->correspondences[w->consistent[k - 1]].probePair) {
      *total += runBest;
      runBest = 0;
    }
    if (c.score > runBest) runBest = c.score;
  }
  *total += runBest;
  return kOk;
}

int32_t ChooseShift(const int32_t* h, const int32_t range[2], bool refined, int32_t* sums) {
  int32_t lo = range[0];
  int32_t hi = range[1];
  if (refined) {
    lo -= kRefinedRangeBelow;
    hi += kRefinedRangeAbove;
  }
  if (lo < kShiftLowestCentre) lo = kShiftLowestCentre;
  if (hi > kShiftHighestCentre) hi = kShiftHighestCentre;
  // Window c - 5 .. c + 5 (refined: c - 5 .. c + 4), limited to lo .. hi,
  // slid along the centres.
  const int32_t ahead = refined ? kShiftWindow - 1 : kShiftWindow;
  int32_t peak = kShiftOffset;
  int32_t best = 0;
  int32_t window = 0;
  for (int32_t b = lo; b <= hi && b <= lo + ahead; ++b) window += h[b];
  for (int32_t c = lo; c <= hi; ++c) {
    if (refined) sums[c] = window;
    if (window > best) {
      best = window;
      peak = c;
    }
    const int32_t leaving = c - kShiftWindow;
    const int32_t entering = c + ahead + 1;
    if (leaving >= lo) window -= h[leaving];
    if (entering <= hi) window += h[entering];
  }
  if (!refined || best == 0) return peak - kShiftOffset;
  // Refined: the weighted mean of the bins near the peak whose value (the
  // window sum inside lo .. hi, the raw bin outside) exceeds two thirds of
  // the greatest sum.
  int32_t from = peak - kRefinedPeakBack;
  int32_t to = peak + kRefinedPeakAhead;
  if (from < 0) from = 0;
  if (to > kShiftBins - 1) to = kShiftBins - 1;
  int64_t weighted = 0;
  int64_t weight = 0;
  for (int32_t c = from; c <= to; ++c) {
    const int64_t v = (c >= lo && c <= hi) ? sums[c] : h[c];
    if (3 * v > 2 * static_cast<int64_t>(best)) {
      weighted += c * v;
      weight += v;
    }
  }
  const int32_t mean = weight == 0 ? kShiftOffset : static_cast<int32_t>(weighted / weight);
  return mean - kShiftOffset;
}

int32_t FitCorrespondences(MatchWorkspace* w, const PreparedSet& probe, const PreparedSet& sample,
                           const MatchParameters& p) {
  w->kept.Clear();
  const int32_t n = w->consistent.count();
  if (!w->kept.Reserve(n, kCorrespondenceGrowth)) return kOutOfMemory;
  const Minutia* pm = probe.set.minutiae;
  const Minutia* sm = sample.set.minutiae;
  int32_t kept = 0;
  for (int32_t k = 0; k < n; ++k) {
    const Correspondence& c = w->correspondences[w->consistent[k]];
    const MinutiaPair& a = probe.pairs[c.probePair];
    const MinutiaPair& b = sample.pairs[c.samplePair];
    if (std::abs(pm[a.first].x - sm[b.first].x) <= p.tolD && std::abs(pm[a.first].y - sm[b.first].y) <= p.tolD &&
        std::abs(pm[a.second].x - sm[b.second].x) <= p.tolD &&
        std::abs(pm[a.second].y - sm[b.second].y) <= p.tolD) {
      w->kept[kept++] = w->consistent[k];
    }
  }
  w->kept.SetCount(kept);
  return kOk;
}

}  // namespace vorsensor
