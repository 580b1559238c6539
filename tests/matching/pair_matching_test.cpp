#include "matching/pair_matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <utility>
#include <vector>

#include "feature_set_helpers.h"
#include "matcher_test_support.h"
#include "geometry/geometry.h"

namespace vorsensor {
namespace {

using testing::FingerShape;
using testing::MakeFingerSet;
using testing::MakeImpressionSet;
using testing::NewFeatureSet;
using testing::TestRandom;

int32_t Fold(int32_t d) {
  d = std::abs(d);
  return d > 120 ? 240 - d : d;
}

// One correspondence of the slow search with the position a bucket-by-bucket
// search gives it: probe bucket, probe record, offset of the sample record's
// bucket in the window k - tolA .. k + tolA, sample record.
struct SlowHit {
  std::tuple<int32_t, int32_t, int32_t, int32_t> order;
  Correspondence c;
};

// Every probe record against every sample record, the score written out
// plainly from its definition.
std::vector<Correspondence> SlowSearch(const MatchWorkspace& w, const MatchParameters& p, int32_t histogram[240],
                                       int64_t* total) {
  std::vector<SlowHit> hits;
  *total = 0;
  for (int32_t k = 0; k < 240; ++k) histogram[k] = 0;
  const FeatureSet& ps = w.probe.set;
  const FeatureSet& ss = w.sample.set;
  for (int32_t ra = 0; ra < w.probe.pairs.count(); ++ra) {
    const MinutiaPair& a = w.probe.pairs[ra];
    int32_t best = 0;
    for (int32_t rb = 0; rb < w.sample.pairs.count(); ++rb) {
      const MinutiaPair& b = w.sample.pairs[rb];
      const int32_t dd = std::abs(a.distance - b.distance);
      const int32_t dk = Fold(a.firstAngle - b.firstAngle);
      const int32_t de = Fold(a.secondAngle - b.secondAngle);
      if (dd > p.tolD || dk > p.tolA || de > p.tolA) continue;
      int64_t s;
      if (p.refined) {
        s = (p.distanceTolerance + p.angleTolerance) * 600 / 1000 - Distance3Of(dd, dk, de);
      } else {
        s = 20 * (p.tolD + 1 - dd) / (p.tolD + 1) + 10 * (p.tolA + 1 - dk) / (p.tolA + 1) +
            10 * (p.tolA + 1 - de) / (p.tolA + 1) - 10;
      }
      if (s <= 0) continue;
      const Minutia& a1 = ps.minutiae[a.first];
      const Minutia& a2 = ps.minutiae[a.second];
      const Minutia& b1 = ss.minutiae[b.first];
      const Minutia& b2 = ss.minutiae[b.second];
      if (p.useType && a1.type && a2.type && b1.type && b2.type && a1.type == b1.type && a2.type == b2.type) {
        s = (s * p.typeBoost + 500) / 1000;
      }
      if (p.useSpread && a1.spread != 255 && a2.spread != 255 && b1.spread != 255 && b2.spread != 255) {
        const int64_t f1 = std::max(0, p.spreadTolerance - std::abs(a1.spread - b1.spread));
        const int64_t f2 = std::max(0, p.spreadTolerance - std::abs(a2.spread - b2.spread));
        s = s * f1 * f2 / (p.spreadTolerance * p.spreadTolerance);
        if (s == 0) continue;
      }
      if (p.useDensity && a1.density != 255 && a2.density != 255 && b1.density != 255 && b2.density != 255) {
        const int32_t e = std::max(0, std::abs(a1.density - b1.density) + std::abs(a2.density - b2.density) - p.densitySlack);
        const int64_t f = std::max(0, p.densityScale - e);
        s = s * f / p.densityScale;
        if (s == 0) continue;
      }
      best = std::max<int32_t>(best, static_cast<int32_t>(s));
      // A window of 241 buckets (tolA 120) meets its first bucket twice.
      for (int32_t offset = Wrap240(b.firstAngle - a.firstAngle + p.tolA); offset <= 2 * p.tolA; offset += 240) {
        histogram[Wrap240(a1.direction - b1.direction)] += static_cast<int32_t>(s);
        histogram[Wrap240(a2.direction - b2.direction)] += static_cast<int32_t>(s);
        hits.push_back({{a.firstAngle, ra, offset, rb}, Correspondence{ra, rb, static_cast<int32_t>(s)}});
      }
    }
    *total += best;
  }
  std::stable_sort(hits.begin(), hits.end(), [](const SlowHit& x, const SlowHit& y) { return x.order < y.order; });
  std::vector<Correspondence> list;
  for (const SlowHit& h : hits) list.push_back(h.c);
  return list;
}

void ExpectSameAsSlowSearch(MatchWorkspace* w, const FeatureSet& probe, const FeatureSet& sample,
                            const MatchParameters& p) {
  ASSERT_TRUE(testing::PrepareSlots(w, probe, sample, p));
  int64_t total = 0;
  ASSERT_EQ(FindCorrespondences(w, w->probe, w->sample, p, &total), 0);
  int32_t histogram[240];
  int64_t slowTotal = 0;
  const std::vector<Correspondence> slow = SlowSearch(*w, p, histogram, &slowTotal);
  ASSERT_EQ(w->correspondences.count(), static_cast<int32_t>(slow.size()));
  for (size_t i = 0; i < slow.size(); ++i) {
    const Correspondence& c = w->correspondences[static_cast<int32_t>(i)];
    ASSERT_EQ(c.probePair, slow[i].probePair) << "at " << i;
    ASSERT_EQ(c.samplePair, slow[i].samplePair) << "at " << i;
    ASSERT_EQ(c.score, slow[i].score) << "at " << i;
  }
  for (int32_t k = 0; k < 240; ++k) ASSERT_EQ(w->rotationHistogram[k], histogram[k]) << "bin " << k;
  EXPECT_EQ(total, slowTotal);
}

TEST(CorrespondenceSearch, BucketedSearchEqualsExhaustiveSearchOnRandomSets) {
  auto w = testing::NewWorkspace();
  TestRandom random(4711);
  for (int32_t round = 0; round < 32; ++round) {
    MatchParameters p = testing::DefaultParameters();
    FingerShape shape;
    shape.typed = round % 4 != 1;
    shape.spreads = round % 5 != 2;
    shape.densities = round % 3 != 0;
    if (round % 6 == 3) {
      p.tolD = 11;
      p.tolA = 5;
    }
    // Wide angle windows: many index cells, and at 120 the whole turn.
    const int32_t wideTolerances[] = {1, 15, 23, 60, 111, 112, 119, 120};
    if (round >= 24) p.tolA = wideTolerances[round - 24];
    if (round % 8 == 5) {  // refined variant with its own tolerances
      p.refined = true;
      p.tolD = p.distanceTolerance - 1;
      p.tolA = p.angleTolerance - 1;
    }
    auto probe = MakeFingerSet(random, shape);
    testing::ImpressionChange change;
    change.rotation = random.Range(-20, 20);
    change.shiftX = random.Range(-25, 25);
    change.shiftY = random.Range(-25, 25);
    // Half the rounds compare impressions of one finger, half two fingers.
    auto sample = round % 2 == 0 ? MakeImpressionSet(*probe, random, change) : MakeFingerSet(random, shape);
    SCOPED_TRACE(round);
    ExpectSameAsSlowSearch(w.get(), *probe, *sample, p);
    EXPECT_GT(w->correspondences.count(), 0);
  }
}

// Two-minutia sets: one pair each, horizontal, same directions.
std::unique_ptr<FeatureSet> Pair(int32_t length, uint8_t spread1 = 255, uint8_t spread2 = 255) {
  auto set = NewFeatureSet();
  set->minutiaCount = 2;
  set->minutiae[0] = Minutia{100, 100, 0, 30, spread1, 255, 0};
  set->minutiae[1] = Minutia{100 + length, 100, 0, 75, spread2, 255, 0};
  return set;
}

// Scores of the correspondences formed between the single pairs of two sets.
std::vector<int32_t> PairScores(MatchWorkspace* w, const FeatureSet& probe, const FeatureSet& sample,
                                const MatchParameters& p) {
  CopyFeatureSet(&w->probe.set, &probe);
  CopyFeatureSet(&w->sample.set, &sample);
  EXPECT_EQ(PrepareSet(w, &w->probe, PairDirections::kBoth, 60, p), 0);
  EXPECT_EQ(PrepareSet(w, &w->sample, PairDirections::kOne, 60, p), 0);
  int64_t total = 0;
  EXPECT_EQ(FindCorrespondences(w, w->probe, w->sample, p, &total), 0);
  std::vector<int32_t> scores;
  for (int32_t i = 0; i < w->correspondences.count(); ++i) scores.push_back(w->correspondences[i].score);
  return scores;
}

// Hand-worked single pairs. Distances are odd, so differences are even: 31
// against 43 differs by 12 = tolD, dk = de = 0: 20 x 1 / 13 + 10 + 10 - 10 = 11.
// Identical geometry gives 30 before the spread factor: spreads 29 apart on
// one minutia give 30 x 1 x 30 / 900 = 1, 30 or more remove it, and a
// missing spread on any minutia skips the factor.
TEST(CorrespondenceSearch, DistanceToleranceAndSpreadCutOff) {
  struct Side {
    int32_t length;
    uint8_t spread1, spread2;
  };
  const struct {
    int32_t tolD;
    Side probe, sample;
    std::vector<int32_t> scores;
  } cases[] = {
      {12, {31, 255, 255}, {43, 255, 255}, {11}},
      {11, {31, 255, 255}, {43, 255, 255}, {}},  // the same difference is tolD + 1
      {11, {43, 255, 255}, {31, 255, 255}, {}},  // sample longer or shorter makes no difference
      {12, {43, 255, 255}, {31, 255, 255}, {11}},
      {12, {41, 10, 20}, {41, 10, 20}, {30}},
      {12, {41, 10, 20}, {41, 39, 20}, {1}},
      {12, {41, 10, 20}, {41, 40, 20}, {}},
      {12, {41, 10, 20}, {41, 10, 50}, {}},
      {12, {41, 10, 20}, {41, 255, 90}, {30}},
  };
  auto w = testing::NewWorkspace();
  for (const auto& c : cases) {
    MatchParameters p = testing::DefaultParameters();
    p.tolD = p.distanceTolerance = c.tolD;
    EXPECT_EQ(PairScores(w.get(), *Pair(c.probe.length, c.probe.spread1, c.probe.spread2),
                         *Pair(c.sample.length, c.sample.spread1, c.sample.spread2), p),
              c.scores)
        << c.tolD << ": " << c.probe.length << " against " << c.sample.length << ", spreads "
        << int{c.sample.spread1} << " " << int{c.sample.spread2};
  }
  EXPECT_EQ(BasePairScore(12, 0, 0, testing::DefaultParameters()), 11);
}

// The smoothed vote sums' first maximum among the allowed rotations; no votes give 0.
TEST(RotationChoice, FirstMaximumOfTheSmoothedVotesWithinTheMask) {
  const struct {
    std::vector<std::pair<int32_t, int32_t>> votes;  // bin, weight
    int32_t tolerance, rotation;
  } cases[] = {
      {{}, 120, 0},
      // One voted bin: the sums are equal for 206..214; the first maximum wins.
      {{{210, 100}}, 120, 206},
      // Votes spread symmetrically round the true rotation pick it.
      {{{206, 1}, {207, 2}, {208, 4}, {209, 8}, {210, 16}, {211, 8}, {212, 4}, {213, 2}, {214, 1}}, 120, 210},
      {{{100, 50}, {20, 10}}, 120, 96},
      {{{100, 50}, {20, 10}}, 30, 16},  // 0..30 and 210..239 only
      {{{100, 50}, {20, 10}}, -5, 0},   // clamped to 0: only rotation 0
  };
  const MatchParameters p = testing::DefaultParameters();
  for (const auto& c : cases) {
    auto w = testing::NewWorkspace();
    SetRotationMask(w.get(), c.tolerance);
    for (const auto& [bin, weight] : c.votes) w->rotationHistogram[bin] = weight;
    EXPECT_EQ(ChooseRotation(w.get(), p), c.rotation) << c.votes.size() << " votes, tolerance " << c.tolerance;
  }
}

// Rotation k is allowed when it is within the tolerance t of 0 either way,
// t itself included; tolerances clamp to 0..120.
TEST(RotationChoice, MaskIncludesTheToleranceItself) {
  auto w = testing::NewWorkspace();
  for (const int32_t t : {-5, 0, 1, 30, 119, 120, 121, 500}) {
    SetRotationMask(w.get(), t);
    const int32_t c = t < 0 ? 0 : (t > 120 ? 120 : t);
    for (int32_t k = 0; k < 240; ++k) ASSERT_EQ(w->rotationMask[k] != 0, k <= c || k >= 240 - c) << t << " " << k;
  }
}

// One probe pair (minutiae 0 and 1) set against one sample pair with a single
// correspondence of score 10, for the stages after the correspondence search.
struct OneCorrespondence {
  testing::WorkspacePtr w = testing::NewWorkspace();
  OneCorrespondence(int32_t probeLine, int32_t sampleLine, const int32_t probeXY[4], const int32_t sampleXY[4]) {
    for (PreparedSet* slot : {&w->probe, &w->sample}) {
      const int32_t* xy = slot == &w->probe ? probeXY : sampleXY;
      slot->set.minutiaCount = 2;
      slot->set.minutiae[0] = Minutia{xy[0], xy[1], 1, 0, 255, 255, 0};
      slot->set.minutiae[1] = Minutia{xy[2], xy[3], 1, 0, 255, 255, 0};
      slot->pairs.Clear();
      EXPECT_TRUE(slot->pairs.Append(MinutiaPair{51, 0, 1, slot == &w->probe ? probeLine : sampleLine, 0, 0}, 8));
    }
    w->correspondences.Clear();
    EXPECT_TRUE(w->correspondences.Append(Correspondence{0, 0, 10}, 8));
  }
  // VoteShifts: whether the correspondence voted, and at which x and y bins.
  bool Votes(const MatchParameters& p, int32_t* binX = nullptr, int32_t* binY = nullptr) {
    int64_t total = 0;
    int32_t rangeX[2], rangeY[2];
    EXPECT_EQ(VoteShifts(w.get(), w->probe, w->sample, p, &total, rangeX, rangeY), 0);
    if (binX != nullptr) *binX = rangeX[0] - kShiftOffset;
    if (binY != nullptr) *binY = rangeY[0] - kShiftOffset;
    return rangeX[0] == rangeX[1] && w->shiftHistogramX[rangeX[0]] == 10 && total == 10;
  }
};

// A correspondence votes for a shift when the two line orientations differ
// by at most tolA (folded at a quarter turn) and the shifts of its two
// minutiae agree within tolD on each axis, both limits included; the vote
// goes to their mean, truncated.
TEST(ShiftVote, OrientationGapAndShiftAgreementAtTheTolerances) {
  const MatchParameters p = testing::DefaultParameters();
  ASSERT_LT(p.tolA, 55);
  ASSERT_EQ(p.tolD, 12);
  const int32_t probe[4] = {100, 100, 150, 100};
  const struct {
    int32_t probeLine, sampleLine, dx, dy;
    bool votes;
    int32_t binX, binY;
  } cases[] = {
      {10, 10 + p.tolA, 0, 0, true, 0, 0},
      {10, 11 + p.tolA, 0, 0, false, 0, 0},
      {10 + p.tolA, 10, 0, 0, true, 0, 0},
      {5, 125 - p.tolA, 0, 0, true, 0, 0},   // 120 - tolA apart folds to tolA
      {5, 124 - p.tolA, 0, 0, false, 0, 0},  // folds to tolA + 1
      {30, 30, 12, 0, true, 6, 0},           // second shift (12, 0) against (0, 0): mean 6
      {30, 30, -12, 0, true, -6, 0},
      {30, 30, 0, 12, true, 0, 6},
      {30, 30, 0, -12, true, 0, -6},
      {30, 30, 13, 0, false, 0, 0},
      {30, 30, 0, -13, false, 0, 0},
  };
  for (const auto& c : cases) {
    const int32_t sample[4] = {100, 100, 150 - c.dx, 100 - c.dy};
    OneCorrespondence one(c.probeLine, c.sampleLine, probe, sample);
    int32_t binX = 0, binY = 0;
    ASSERT_EQ(one.Votes(p, &binX, &binY), c.votes) << c.probeLine << " " << c.sampleLine << " " << c.dx << " " << c.dy;
    EXPECT_EQ(one.w->consistent.count(), c.votes ? 1 : 0);
    if (c.votes) {
      EXPECT_EQ(binX, c.binX);
      EXPECT_EQ(binY, c.binY);
    }
  }
}

// After the shift a correspondence is kept when each of its four coordinate
// pairs lies within tolD, tolD itself included.
TEST(FitCorrespondences, EachCoordinateAtTheDistanceTolerance) {
  const MatchParameters p = testing::DefaultParameters();
  const int32_t probe[4] = {100, 100, 150, 100};
  for (int32_t coordinate = 0; coordinate < 4; ++coordinate) {
    for (const int32_t offset : {p.tolD, -p.tolD, p.tolD + 1, -p.tolD - 1}) {
      int32_t sample[4] = {100, 100, 150, 100};
      sample[coordinate] += offset;
      OneCorrespondence one(30, 30, probe, sample);
      ASSERT_TRUE(one.w->consistent.Append(0, 8));
      ASSERT_EQ(FitCorrespondences(one.w.get(), one.w->probe, one.w->sample, p), 0);
      EXPECT_EQ(one.w->kept.count(), std::abs(offset) <= p.tolD ? 1 : 0) << coordinate << " " << offset;
    }
  }
}

// The shift is the centre of the first heaviest window over the voted range,
// 0 without votes. Refined, it is the weighted mean of the window sums near
// the first peak that exceed two thirds of it: bins 0 (weight 20) and 3
// (weight w) give sums 20 at centres -4..-2, 20 + w at -1..5 (the peak) and w
// at 6..8; w = 40 sits exactly on two thirds of 60 and stays out (mean of
// -1..5: 2), w = 41 is above two thirds of 61 and pulls the mean to
// (61 x 7 x 2 + 41 x 3 x 7) / 550 = 3.1, truncated to 3.
TEST(ShiftChoice, HeaviestWindowAndRefinedMean) {
  const struct {
    std::vector<std::pair<int32_t, int32_t>> votes;  // shift, weight
    bool refined;
    int32_t shift;
  } cases[] = {
      {{}, false, 0},
      {{{7, 30}}, false, 7},             // one voted bin gives its exact shift
      {{{7, 30}, {-3, 30}}, false, 2},   // both within one window: the centre whose window holds both
      {{{7, 30}, {-3, 30}, {40, 100}}, false, 40 - 5},  // a heavier bin far away wins
      {{{0, 20}, {3, 40}}, true, 2},
      {{{0, 20}, {3, 41}}, true, 3},
  };
  for (const auto& c : cases) {
    std::vector<int32_t> h(kShiftBins, 0), sums(kShiftBins, 0);
    int32_t range[2] = {kShiftBins - 1, 0};
    for (const auto& [shift, weight] : c.votes) {
      h[kShiftOffset + shift] = weight;
      range[0] = std::min(range[0], kShiftOffset + shift);
      range[1] = std::max(range[1], kShiftOffset + shift);
    }
    EXPECT_EQ(ChooseShift(h.data(), range, c.refined, sums.data()), c.shift) << c.votes.size() << " votes";
  }
}

}  // namespace
}  // namespace vorsensor
