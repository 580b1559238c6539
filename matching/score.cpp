// The staged comparison of a sample with a prepared probe.
#include "matching/score.h"

#include <cstdint>
#include <cstdlib>

#include "engine/result_codes.h"
#include "matching/alignment.h"
#include "matching/grid_similarity.h"
#include "matching/pair_matching.h"
#include "matching/pair_tables.h"
#include "matching/selection.h"

namespace vorsensor {
namespace {

constexpr int32_t kPerMille = 1000;
constexpr int32_t kHalfPerMille = 500;
constexpr int32_t kQualityScale = 255;
constexpr int32_t kQualityFullAbove = 240;  // factors above this count as full

int32_t Saturate(int64_t value) {
  return static_cast<int32_t>(value > INT32_MAX ? INT32_MAX : value);
}

uint8_t ByteGap(uint8_t a, uint8_t b) { return static_cast<uint8_t>(a > b ? a - b : b - a); }

// Index lists and entries of the details for the selected correspondences.
void DescribeSelection(const MatchWorkspace& w, const PreparedSet& probe, const PreparedSet& sample,
                       DetailsWriter* details) {
  if (!details->indexed()) return;
  const int32_t n = w.selection.count();
  for (int32_t k = 0; k < n; ++k) {
    const Correspondence& c = w.correspondences[w.selection[k]];
    const MinutiaPair& a = probe.pairs[c.probePair];
    const MinutiaPair& b = sample.pairs[c.samplePair];
    details->AddIndexPair(static_cast<uint16_t>(a.first), static_cast<uint16_t>(b.first));
    details->AddIndexPair(static_cast<uint16_t>(a.second), static_cast<uint16_t>(b.second));
    if (!details->full()) continue;
    const Minutia& pa = probe.set.minutiae[a.first];
    const Minutia& pb = probe.set.minutiae[a.second];
    const Minutia& sa = sample.set.minutiae[b.first];
    const Minutia& sb = sample.set.minutiae[b.second];
    MatchDetailsEntry entry{};
    entry.probeFirst = static_cast<uint16_t>(a.first);
    entry.probeSecond = static_cast<uint16_t>(a.second);
    entry.sampleFirst = static_cast<uint16_t>(b.first);
    entry.sampleSecond = static_cast<uint16_t>(b.second);
    entry.score = static_cast<uint8_t>(c.score);
    entry.firstTypesEqual = pa.type == sa.type ? 1 : 0;
    entry.secondTypesEqual = pb.type == sb.type ? 1 : 0;
    entry.firstSpreadDifference = ByteGap(pa.spread, sa.spread);
    entry.secondSpreadDifference = ByteGap(pb.spread, sb.spread);
    entry.firstDensityDifference = ByteGap(pa.density, sa.density);
    entry.secondDensityDifference = ByteGap(pb.density, sb.density);
    details->AddEntry(entry);
  }
}

}  // namespace

Normalisers ComputeNormalisers(const PreparedSet& probe, const PreparedSet& sample, const MatchParameters& p) {
  Normalisers n{kPerMille, kPerMille};
  if (!p.useNormalisers) return n;
  const int32_t typed = p.useType && probe.typed && sample.typed ? 1 : 0;
  const int32_t spread = p.useSpread && probe.spreadPresent && sample.spreadPresent ? 1 : 0;
  const int32_t density = p.useDensity && probe.densityPresent && sample.densityPresent ? 1 : 0;
  const int32_t grid = p.useBlockMap && probe.gridPresent && sample.gridPresent ? 1 : 0;
  const int32_t densityByte = p.useQuality && probe.densityBytePresent && sample.densityBytePresent ? 1 : 0;
  n.feature = p.featureNormalisers[typed * 4 + spread * 2 + density];
  n.context = p.contextNormalisers[grid * 2 + densityByte];
  return n;
}

int64_t NormaliseSum(int64_t total, int32_t nP, int32_t nS, int32_t featureNormaliser, const MatchParameters& p) {
  const int64_t c = p.normPairs;
  int64_t scaled;
  if (p.refined) {
    scaled = nP > 2 * c ? 2 * total * 2 * c / nP : 2 * total;
  } else {
    scaled = (nP > 2 * c ? total * 2 * c / nP : total) + (nS > c ? total * c / nS : total);
  }
  return (featureNormaliser * scaled + kHalfPerMille) / kPerMille;
}

int32_t ScoreSample(MatchWorkspace* w, PreparedSet* probe, PreparedSet* sample, int32_t threshold,
                    const MatchParameters& p, DetailsBuffer detailsBuffer) {
  int32_t r = PrepareSet(w, sample, PairDirections::kOne, SampleDistanceLimit(*probe, p), p);
  if (r < 0) return r;
  const Normalisers norm = ComputeNormalisers(*probe, *sample, p);
  DetailsWriter details;
  r = details.Open(detailsBuffer);
  if (r < 0) return r;
  const int32_t nP = probe->pairs.count();
  const int32_t nS = sample->pairs.count();

  // Stage 1: pair correspondences and the rotation vote.
  int64_t total = 0;
  r = FindCorrespondences(w, *probe, *sample, p, &total);
  if (r < 0) return r;
  if (NormaliseSum(total, nP, nS, norm.feature, p) < threshold) return 0;
  const int32_t rotation = ChooseRotation(w, p);
  details.SetRotation(rotation);
  const bool useGrid = p.useBlockMap || details.full();
  TurnSample(sample, rotation, useGrid, w->gridScratch);

  // Stage 2: the shift vote over the turned sample.
  int32_t rangeX[2];
  int32_t rangeY[2];
  r = VoteShifts(w, *probe, *sample, p, &total, rangeX, rangeY);
  if (r < 0) return r;
  if (NormaliseSum(total, nP, nS, norm.feature, p) < threshold) return 0;
  const int32_t shiftX = ChooseShift(w->shiftHistogramX, rangeX, p.refined, w->shiftSums);
  const int32_t shiftY = ChooseShift(w->shiftHistogramY, rangeY, p.refined, w->shiftSums);
  ShiftSample(&sample->set, shiftX, shiftY, w->gridScratch);
  details.SetShift(shiftX, shiftY);

  // Fit, selection and the final score.
  r = FitCorrespondences(w, *probe, *sample, p);
  if (r < 0) return r;
  r = SelectCorrespondences(w, p.selectionMode, nP, nS);
  if (r < 0) return r;
  int64_t sum = 0;
  for (int32_t k = 0; k < w->selection.count(); ++k) sum += w->correspondences[w->selection[k]].score;
  int64_t score = NormaliseSum(sum, nP, nS, norm.feature, p);
  DescribeSelection(*w, *probe, *sample, &details);
  if (useGrid) {
    const GridAgreement grid = GridSimilarity(probe->set, sample->set);
    details.SetGridSimilarity(Saturate(static_cast<int64_t>(grid.similarity) * kPerMille / grid.denominator));
    if (p.useBlockMap) score = score * grid.similarity / grid.denominator;
  }
  if (p.useQuality || details.full()) {
    const uint8_t q = ByteGap(probe->set.densityByte, sample->set.densityByte);
    details.SetDensityByteDifference(q);
    if (p.useQuality) {
      int32_t f = kQualityScale - q;
      if (f > kQualityFullAbove) f = kQualityScale;
      score = score * f / kQualityScale;
    }
  }
  const int32_t result = Saturate((norm.context * score + kHalfPerMille) / kPerMille);
  return result < threshold ? 0 : result;
}

int32_t ScoreSymmetric(MatchWorkspace* w, int32_t threshold, const MatchParameters& p, DetailsBuffer details) {
  if (p.symmetricMode == 1 || p.symmetricMode == 2) CopyFeatureSet(&w->spare.set, &w->sample.set);
  const int32_t first = ScoreSample(w, &w->probe, &w->sample, threshold, p, details);
  if (first < 0) return first;
  const bool both = p.symmetricMode == 1 ||
                    (p.symmetricMode == 2 && p.symmetricLow <= first && first <= p.symmetricHigh);
  if (!both) return first;
  // The reverse direction: the sample prepared as a probe, the probe scored against it.
  const int32_t r = PrepareSet(w, &w->spare, PairDirections::kBoth, p.pairMaxDistance, p);
  if (r < 0) return r;
  CopyFeatureSet(&w->sample.set, &w->probe.set);
  const int32_t second = ScoreSample(w, &w->spare, &w->sample, threshold, p, details);
  if (second < 0) return second;
  return static_cast<int32_t>((static_cast<int64_t>(first) + second) / 2);
}

}  // namespace vorsensor
