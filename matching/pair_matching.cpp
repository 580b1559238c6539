// Pair correspondences, the rotation and shift votes and the fit test.
#include "matching/pair_matching.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/result_codes.h"
#include "matching/candidate_filter.h"
#include "matching/exact_divide.h"
#include "geometry/geometry.h"
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

// value brought into 0..239 for the difference of two direction bytes
// (-255..255; bytes above 239 count modulo a full turn), by table instead of
// a division.
constexpr int32_t kMaxDirectionByte = 255;
struct WrapTable {
  uint8_t wrapped[2 * kMaxDirectionByte + 1];
  constexpr WrapTable() : wrapped() {
    for (int32_t d = -kMaxDirectionByte; d <= kMaxDirectionByte; ++d) {
      wrapped[d + kMaxDirectionByte] = static_cast<uint8_t>(((d % kFullTurn) + kFullTurn) % kFullTurn);
    }
  }
};
constexpr WrapTable kWrap;

inline int32_t WrapDirectionGap(int32_t d) { return kWrap.wrapped[d + kMaxDirectionByte]; }

// `chosen` when `condition` holds, else `other`, by masks: the compiler
// would otherwise branch round the work that computes `chosen`.
inline int64_t SelectIf(bool condition, int64_t chosen, int64_t other) {
  const int64_t mask = -static_cast<int64_t>(condition);
  return (chosen & mask) | (other & ~mask);
}

// max(0, v) by a sign mask. With std::max the compiler branches round the
// products a zero factor makes zero, and whether a factor is zero is random.
constexpr int32_t kSignShift = 63;
inline int64_t AtLeastZero(int64_t v) { return v & ~(v >> kSignShift); }

// The kEntry... flags whose factors the parameters ask for.
uint8_t FactorMask(const MatchParameters& p) {
  return static_cast<uint8_t>((p.useType ? kEntryTyped : 0) | (p.useSpread ? kEntrySpread : 0) |
                              (p.useDensity ? kEntryDensity : 0));
}

// What the pair score needs besides the two entries, computed once per search.
constexpr int32_t kByteValues = 256;  // spread and density are bytes
struct ScoreTables {
  int32_t distancePart[256];           // by dd (tolD <= 255)
  int32_t anglePart[kHalfTurn + 1];   // by dk or de (tolA <= 120)
  // The spread factor by one minutia's spread difference, and the density
  // factor by the sum of both minutiae's density differences.
  int32_t spreadFactor[kByteValues];
  int32_t densityFactor[2 * kByteValues - 1];
  // The type-boosted score by base score, 0 .. the greatest base score
  // (at most 30, or 225 in refined mode).
  int32_t boosted[kMaxPairScore + 1];
  int32_t refinedBase;                 // refined mode: score before Distance3Of
  uint8_t factors;                     // FactorMask
  ExactDivisor spreadDivisor;          // spreadTolerance squared, at least 1
  ExactDivisor densityDivisor;         // densityScale, at least 1
};

ScoreTables MakeScoreTables(const MatchParameters& p) {
  ScoreTables t;
  for (int32_t dd = 0; dd <= p.tolD; ++dd) t.distancePart[dd] = kDistancePoints * (p.tolD + 1 - dd) / (p.tolD + 1);
  for (int32_t da = 0; da <= p.tolA; ++da) t.anglePart[da] = kAnglePoints * (p.tolA + 1 - da) / (p.tolA + 1);
  t.refinedBase = (p.distanceTolerance + p.angleTolerance) * kRefinedBasePerMille / kPerMille;
  const int32_t greatestBase = p.refined ? t.refinedBase : t.distancePart[0] + 2 * t.anglePart[0] - kScoreOffsetPoints;
  for (int32_t base = 0; base <= greatestBase; ++base) {
    t.boosted[base] = static_cast<int32_t>((int64_t{base} * p.typeBoost + kHalfPerMille) / kPerMille);
  }
  t.factors = FactorMask(p);
  for (int32_t d = 0; d < kByteValues; ++d) t.spreadFactor[d] = std::max(0, p.spreadTolerance - d);
  for (int32_t sum = 0; sum < 2 * kByteValues - 1; ++sum) {
    t.densityFactor[sum] = std::max(0, p.densityScale - std::max(0, sum - p.densitySlack));
  }
  const int64_t tol = p.spreadTolerance;
  t.spreadDivisor = MakeExactDivisor(tol > 0 ? tol * tol : 1);
  t.densityDivisor = MakeExactDivisor(p.densityScale > 0 ? p.densityScale : 1);
  return t;
}

// Score of a candidate correspondence whose differences dd, dk, de lie
// within the tolerances, or 0 when it is not formed. Candidates are formed
// or not at random, so every factor is computed and selected without
// data-dependent branches: a mispredicted branch costs more than the work.
// The divisors are kept non-zero; a factor whose divisor was 0 is 0 itself.
inline int32_t PairScore(const BucketEntry& a, const BucketEntry& b, int32_t dd, int32_t dk, int32_t de,
                         const ScoreTables& t, const MatchParameters& p) {
  const int64_t base = p.refined ? t.refinedBase - Distance3Of(dd, dk, de)
                                 : t.distancePart[dd] + t.anglePart[dk] + t.anglePart[de] - kScoreOffsetPoints;
  int64_t s = AtLeastZero(base);
  const uint8_t shared = a.flags & b.flags & t.factors;
  // Types: both pairs typed and their types equal, minutia by minutia.
  const bool typesAgree =
      ((shared & kEntryTyped) != 0) & (a.firstType == b.firstType) & (a.secondType == b.secondType);
  s = SelectIf(typesAgree, t.boosted[s], s);
  // Spread: falls to 0 as either spread difference reaches the tolerance.
  const int64_t f1 = t.spreadFactor[std::abs(a.firstSpread - b.firstSpread)];
  const int64_t f2 = t.spreadFactor[std::abs(a.secondSpread - b.secondSpread)];
  const int64_t spreadScaled = DivideExact(s * f1 * f2, t.spreadDivisor);
  s = SelectIf((shared & kEntrySpread) != 0, spreadScaled, s);
  // Density: the summed differences beyond the slack cost up to the scale.
  const int64_t f = t.densityFactor[std::abs(a.firstDensity - b.firstDensity) +
                                    std::abs(a.secondDensity - b.secondDensity)];
  const int64_t densityScaled = DivideExact(s * f, t.densityDivisor);
  s = SelectIf((shared & kEntryDensity) != 0, densityScaled, s);
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

namespace {

// Zeroes the bins lo .. hi of a shift histogram (none when lo > hi).
void ClearVotedBins(int32_t* histogram, const int32_t range[2]) {
  if (range[0] <= range[1]) {
    std::memset(histogram + range[0], 0, static_cast<size_t>(range[1] - range[0] + 1) * sizeof(int32_t));
  }
}

// Stage 1 in three passes over the probe pairs, each a long run of simple
// work: list the candidate (probe entry, sample entry) combinations that pass
// the window filter, score them all, then keep the formed ones in order.
// Doing each step for one probe pair at a time would end each short loop in a
// mispredicted branch, which costs more than the work itself.

// Least room of the candidate list; it holds whole windows, and is scored
// and emptied when the next window might not fit.
constexpr int32_t kCandidateChunk = 2048;

struct StageOne {
  const PreparedSet& probe;
  const PreparedSet& sample;
  const MatchParameters& p;
  const ScoreTables& tables;
  MatchWorkspace* w;
  int32_t count;        // correspondences listed
  int32_t lastRecord;   // probe entry of the running best, -1 before the first
  int32_t best;         // best score of that probe entry so far
  int64_t total;        // sum of the best scores of the probe entries done
};

// Scores the `n` listed candidates, adds their rotation votes, and appends
// the formed ones to the correspondence list in order. kOk or kOutOfMemory.
int32_t ScoreCandidates(StageOne* st, int32_t n) {
  MatchWorkspace* w = st->w;
  int32_t count = st->count;
  if (!w->correspondences.Reserve(static_cast<int64_t>(count) + n, kCorrespondenceGrowth)) return kOutOfMemory;
  Correspondence* out = w->correspondences.data();
  const uint64_t* listed = w->passed.data();
  const BucketEntry* probeEntries = st->probe.buckets.data();
  const BucketEntry* sampleEntries = st->sample.buckets.data();
  int32_t* histogram = w->rotationHistogram;
  int32_t lastRecord = st->lastRecord;
  int32_t best = st->best;
  int64_t total = st->total;
  for (int32_t j = 0; j < n; ++j) {
    const int32_t record = static_cast<int32_t>(listed[j] >> kCandidateShift);
    const BucketEntry& a = probeEntries[record];
    const BucketEntry& b = sampleEntries[listed[j] & kCandidateLow];
    const int32_t dd = std::abs(b.distance - a.distance);
    const int32_t dk = kFold.gap[kFullTurn - 1 + b.firstAngle - a.firstAngle];
    const int32_t de = kFold.gap[kFullTurn - 1 + b.secondAngle - a.secondAngle];
    const int32_t s = PairScore(a, b, dd, dk, de, st->tables, st->p);
    // A vote of 0 for one not formed changes nothing.
    histogram[WrapDirectionGap(a.firstDirection - b.firstDirection)] += s;
    histogram[WrapDirectionGap(a.secondDirection - b.secondDirection)] += s;
    // Written always, kept when formed (the next one overwrites it otherwise).
    out[count] = Correspondence{a.pair, b.pair, s};
    count += s > 0 ? 1 : 0;
    // total1 sums each probe entry's best score. Runs are short and end at
    // random, so the run's end is applied with masks, not a branch.
    const int32_t sameRecord = record == lastRecord ? -1 : 0;  // all ones while the run goes on
    total += best & ~sameRecord;
    const int32_t running = best & sameRecord;
    best = s > running ? s : running;
    lastRecord = record;
  }
  st->count = count;
  st->lastRecord = lastRecord;
  st->best = best;
  st->total = total;
  if (count > kMaxCorrespondences) return kOutOfMemory;
  w->correspondences.SetCount(count);
  return kOk;
}

#if VS_FILTER_SSE2
// The filter keys of the probe's entries for these tolerances: those the
// workspace keeps when they were made for this set and these tolerances
// (a search compares one probe with many samples), else made now. Null
// when out of memory.
const uint32_t* ProbeFilterKeys(MatchWorkspace* w, const PreparedSet& probe, int32_t tolD, int32_t tolA) {
  if (w->filterKeySet == &probe && w->filterKeyTolD == tolD && w->filterKeyTolA == tolA) return w->filterKeys.data();
  w->filterKeySet = nullptr;
  const int32_t count = probe.buckets.count();
  if (!w->filterKeys.Reserve(count > 0 ? count : 1, kPairGrowth)) return nullptr;  // room for one: never null
  uint32_t* keys = w->filterKeys.data();
  for (int32_t ai = 0; ai < count; ++ai) {
    const BucketEntry& a = probe.buckets[ai];
    keys[ai] = FilterKeyOf(FilterProbe{a.distance, a.secondAngle, tolD, tolA});
  }
  w->filterKeys.SetCount(count);
  w->filterKeySet = &probe;
  w->filterKeyTolD = tolD;
  w->filterKeyTolA = tolA;
  return keys;
}
#endif

}  // namespace

int32_t FindCorrespondences(MatchWorkspace* w, const PreparedSet& probe, const PreparedSet& sample,
                            const MatchParameters& p, int64_t* total) {
  *total = 0;
  std::memset(w->rotationHistogram, 0, sizeof w->rotationHistogram);
  w->correspondences.Clear();
  const int32_t tolD = p.tolD;
  const int32_t tolA = p.tolA;
  if (tolD < 0 || tolA < 0) return kOk;  // refined mode with a zero tolerance: no window
  const ScoreTables tables = MakeScoreTables(p);
  // A window holds each sample entry at most twice (see below).
  const int32_t window = 2 * sample.buckets.count() + 1;
  const int32_t room = window > kCandidateChunk ? window : kCandidateChunk;
  if (!w->passed.Reserve(room + kListSlack, kCorrespondenceGrowth)) return kOutOfMemory;
  StageOne st{probe, sample, p, tables, w, 0, -1, 0, 0};
  uint64_t* const listStart = w->passed.data();
  uint64_t* const listLimit = listStart + (room - window);  // a window still fits below this
  uint64_t* listed = listStart;
  const uint8_t* sampleDistance = sample.bucketDistance.data();
  const uint8_t* sampleSecondAngle = sample.bucketSecondAngle.data();
  // The sample window of each probe bucket k: the buckets k - tolA ..
  // k + tolA lie back to back in the bucket array, so the window is one run
  // of entries, or two when it wraps past 239 (a window of the full 241
  // units holds its first bucket in both). Walking them in order visits the
  // buckets in window order and each bucket in table order, as a
  // bucket-by-bucket search would; the distance test replaces that search's
  // early stop.
  const int32_t* sampleStart = sample.bucketStart;
  SampleWindow* windows = w->sampleWindows;
  for (int32_t k = 0; k < kAngleBuckets; ++k) {
    const int32_t first = Wrap240(k - tolA);
    const int32_t last = first + 2 * tolA;
    windows[k].begin = sampleStart[first];
    windows[k].end = sampleStart[last < kAngleBuckets ? last + 1 : kAngleBuckets];
    windows[k].wrappedEnd = last < kAngleBuckets ? 0 : sampleStart[last - kAngleBuckets + 1];
  }
  // The probe entries in bucket order, in one loop (a loop per bucket would
  // end in a mispredicted branch every few entries).
  const BucketEntry* probeEntries = probe.buckets.data();
  const int32_t probeCount = probe.buckets.count();
#if VS_FILTER_SSE2
  const uint32_t* keys = ProbeFilterKeys(w, probe, tolD, tolA);
  if (keys == nullptr) return kOutOfMemory;
#endif
  for (int32_t ai = 0; ai < probeCount; ++ai) {
    if (listed > listLimit) {
      const int32_t r = ScoreCandidates(&st, static_cast<int32_t>(listed - listStart));
      if (r < 0) return r;
      listed = listStart;
    }
    // The first angle lies within tolA by the window; the filter tests the
    // distance and the second angle.
    const BucketEntry& a = probeEntries[ai];
    const SampleWindow& win = windows[a.firstAngle];
    const uint64_t record = static_cast<uint64_t>(ai) << kCandidateShift;
#if VS_FILTER_SSE2
    listed = ListCandidatesKeyed(sampleDistance, sampleSecondAngle, win.begin, win.end, keys[ai], tolA, record, listed);
    listed = ListCandidatesKeyed(sampleDistance, sampleSecondAngle, 0, win.wrappedEnd, keys[ai], tolA, record, listed);
#else
    const FilterProbe filter{a.distance, a.secondAngle, tolD, tolA};
    listed = ListCandidates(sampleDistance, sampleSecondAngle, win.begin, win.end, filter, record, listed);
    listed = ListCandidates(sampleDistance, sampleSecondAngle, 0, win.wrappedEnd, filter, record, listed);
#endif
  }
  const int32_t r = ScoreCandidates(&st, static_cast<int32_t>(listed - listStart));
  if (r < 0) return r;
  *total = st.total + st.best;
  return kOk;
}

int32_t ChooseRotation(MatchWorkspace* w, const MatchParameters& p) {
  const int32_t* h = w->rotationHistogram;
  int32_t* smooth = w->smoothedRotation;
  int32_t window = 0;
  for (int32_t i = -kRotationSmoothRadius; i <= kRotationSmoothRadius; ++i) window += h[Wrap240(i)];
  for (int32_t k = 0; k < kAngleBuckets; ++k) {
    smooth[k] = window;
    // The bins entering and leaving lie at most one turn off (no division needed).
    const int32_t entering = k + kRotationSmoothRadius + 1;
    const int32_t leaving = k - kRotationSmoothRadius;
    window += h[entering >= kAngleBuckets ? entering - kAngleBuckets : entering] -
              h[leaving < 0 ? leaving + kAngleBuckets : leaving];
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
  // The histograms are zero outside the bins the last vote touched (a new
  // workspace is all zero), so only those are cleared.
  ClearVotedBins(w->shiftHistogramX, w->votedRangeX);
  ClearVotedBins(w->shiftHistogramY, w->votedRangeY);
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
  w->votedRangeX[0] = rangeX[0];
  w->votedRangeX[1] = rangeX[1];
  w->votedRangeY[0] = rangeY[0];
  w->votedRangeY[1] = rangeY[1];
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
