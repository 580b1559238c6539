#include "matching/pair_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "feature_set_helpers.h"
#include "geometry/geometry.h"
#include "matcher_test_support.h"

namespace vorsensor {
namespace {

using testing::NewFeatureSet;

std::unique_ptr<FeatureSet> SetOf(std::initializer_list<Minutia> minutiae) {
  auto set = NewFeatureSet();
  for (const Minutia& m : minutiae) set->minutiae[set->minutiaCount++] = m;
  return set;
}

int32_t PairsOf(const FeatureSet& set, PairDirections directions, int32_t least = 20, int32_t greatest = 60) {
  auto w = testing::NewWorkspace();
  CopyFeatureSet(&w->probe.set, &set);
  MatchParameters p = testing::DefaultParameters();
  p.pairMinDistance = least;
  EXPECT_EQ(PrepareSet(w.get(), &w->probe, directions, greatest, p), 0);
  return w->probe.pairs.count();
}

// Pair lengths are DistanceOf (odd); both bounds are inclusive.
TEST(PairTable, LeastAndGreatestPairDistance) {
  const struct {
    int32_t dx, dy, least, greatest, pairs;
  } cases[] = {{19, 0, 20, 60, 0},  {20, 0, 20, 60, 1},  {0, 21, 20, 60, 1},  {20, 0, 21, 60, 1}, {20, 0, 22, 60, 0},
               {59, 0, 20, 59, 1},  {60, 0, 20, 60, 0},  {60, 0, 20, 61, 1},  {61, 0, 20, 60, 0}};
  for (const auto& c : cases) {
    auto set = SetOf({{50, 50, 1, 0, 255, 255, 0}, {50 + c.dx, 50 + c.dy, 1, 0, 255, 255, 0}});
    EXPECT_EQ(PairsOf(*set, PairDirections::kOne, c.least, c.greatest), c.pairs)
        << c.dx << "," << c.dy << " in " << c.least << ".." << c.greatest;
  }
}

TEST(PairTable, OrderRecordsAndBuckets) {
  auto w = testing::NewWorkspace();
  const MatchParameters p = testing::DefaultParameters();
  // A, B, C: AB = AC = 31, BC = 43.
  auto set = SetOf({{100, 100, 1, 0, 10, 255, 0}, {130, 100, 2, 60, 255, 255, 0}, {100, 130, 0, 200, 255, 90, 0}});
  set->densityByte = 255;
  CopyFeatureSet(&w->probe.set, set.get());
  CopyFeatureSet(&w->sample.set, set.get());
  ASSERT_EQ(PrepareSet(w.get(), &w->probe, PairDirections::kBoth, 60, p), 0);
  ASSERT_EQ(PrepareSet(w.get(), &w->sample, PairDirections::kOne, 60, p), 0);

  // Within one distance the last-enumerated pair comes first: AC, AB, BC; the
  // probe follows each pair by its reversed pair. Rows: first, second,
  // distance, line orientation, first and second angle. AC: line direction
  // 60, angles 60 - 0 and 180 - 200 -> 220; AB: line 0, angles 0 and 120 - 60;
  // BC: line 90, angles 90 - 60 and 210 - 200; CA: line 180, 180 - 200 and 60 - 0.
  using Row = std::array<int32_t, 6>;
  const auto rows = [](const PreparedSet& s) {
    std::vector<Row> r;
    for (int32_t i = 0; i < s.pairs.count(); ++i) {
      const MinutiaPair& p = s.pairs[i];
      r.push_back({p.first, p.second, p.distance, p.lineOrientation, p.firstAngle, p.secondAngle});
    }
    return r;
  };
  EXPECT_EQ(rows(w->sample), (std::vector<Row>{{0, 2, 31, 60, 60, 220}, {0, 1, 31, 0, 0, 60}, {1, 2, 43, 90, 30, 10}}));
  EXPECT_EQ(rows(w->probe), (std::vector<Row>{{0, 2, 31, 60, 60, 220},
                                              {2, 0, 31, 60, 220, 60},
                                              {0, 1, 31, 0, 0, 60},
                                              {1, 0, 31, 0, 60, 0},
                                              {1, 2, 43, 90, 30, 10},
                                              {2, 1, 43, 90, 10, 30}}));
  EXPECT_EQ(w->sample.largestDistance, 43);
  const PreparedSet& pr = w->probe;
  // Bucket 60 holds AC (record 0) and BA (record 3), in table order.
  ASSERT_EQ(pr.bucketStart[61] - pr.bucketStart[60], 2);
  EXPECT_EQ(pr.buckets[pr.bucketStart[60]].pair, 0);
  EXPECT_EQ(pr.buckets[pr.bucketStart[60] + 1].pair, 3);
  EXPECT_EQ(pr.bucketStart[240], 6);

  EXPECT_EQ(pr.centreX, 115);
  EXPECT_EQ(pr.centreY, 115);
  EXPECT_FALSE(pr.gridPresent);  // the other flags: TraitFlagsNeedAtLeastHalfTheMinutiae
}

// A set counts as typed (or as carrying spreads, densities) when at least half
// of its minutiae do; the density byte is present below 255.
TEST(PairTable, TraitFlagsNeedAtLeastHalfTheMinutiae) {
  struct Case {
    int32_t count, typed, spreads, densities;
    uint8_t densityByte;
  };
  const Case cases[] = {{4, 2, 2, 2, 254}, {4, 1, 1, 1, 255}, {2, 1, 1, 1, 0}, {3, 1, 2, 1, 255}, {1, 0, 0, 0, 254}};
  for (const Case& c : cases) {
    auto set = NewFeatureSet();
    for (int32_t i = 0; i < c.count; ++i) {
      set->minutiae[set->minutiaCount++] =
          Minutia{30 * i, 7 * i, i < c.typed ? 1 + i % 2 : 0, 0,
                  static_cast<uint8_t>(i < c.spreads ? 40 : 255), static_cast<uint8_t>(i < c.densities ? 90 : 255), 0};
    }
    set->densityByte = c.densityByte;
    auto w = testing::NewWorkspace();
    CopyFeatureSet(&w->probe.set, set.get());
    ASSERT_EQ(PrepareSet(w.get(), &w->probe, PairDirections::kBoth, 60, testing::DefaultParameters()), 0);
    EXPECT_EQ(w->probe.typed, 2 * c.typed >= c.count) << c.count << " " << c.typed;
    EXPECT_EQ(w->probe.spreadPresent, 2 * c.spreads >= c.count) << c.count << " " << c.spreads;
    EXPECT_EQ(w->probe.densityPresent, 2 * c.densities >= c.count) << c.count << " " << c.densities;
    EXPECT_EQ(w->probe.densityBytePresent, c.densityByte < 255);
  }
}

TEST(PairTable, LargestDistanceAndSampleLimit) {
  auto w = testing::NewWorkspace();
  MatchParameters p = testing::DefaultParameters();
  auto set = SetOf({{0, 0, 1, 0, 255, 255, 0}, {10, 0, 1, 0, 255, 255, 0}});
  CopyFeatureSet(&w->probe.set, set.get());
  ASSERT_EQ(PrepareSet(w.get(), &w->probe, PairDirections::kBoth, 60, p), 0);
  EXPECT_EQ(w->probe.largestDistance, 20);  // no pair: the least distance
  EXPECT_EQ(SampleDistanceLimit(w->probe, p), 32);
  p.refined = true;
  ASSERT_EQ(PrepareSet(w.get(), &w->probe, PairDirections::kBoth, 60, p), 0);
  EXPECT_EQ(w->probe.largestDistance, 0);
  EXPECT_EQ(w->probe.centreX, 5);
}

TEST(PairTable, RefinedRangesAndLimits) {
  auto w = testing::NewWorkspace();
  testing::TestRandom random(99);
  auto finger = testing::MakeFingerSet(random);
  MatchParameters p = testing::DefaultParameters();
  CopyFeatureSet(&w->probe.set, finger.get());
  ASSERT_EQ(PrepareSet(w.get(), &w->probe, PairDirections::kBoth, 60, p), 0);
  const int32_t records = w->probe.pairs.count();
  ASSERT_GT(records, 2 * 150);
  p.refined = true;
  p.probePairLimit = 150;
  p.samplePairLimit = 40;
  ASSERT_EQ(PrepareSet(w.get(), &w->probe, PairDirections::kBoth, 60, p), 0);
  EXPECT_EQ(w->probe.pairs.count(), 150);
  EXPECT_EQ(w->probe.largestDistance, w->probe.pairs[149].distance + 1);
  for (int32_t r = 0; r < 150; ++r) EXPECT_LE(w->probe.pairs[r].distance, 59);
  CopyFeatureSet(&w->sample.set, finger.get());
  ASSERT_EQ(PrepareSet(w.get(), &w->sample, PairDirections::kOne, 60, p), 0);
  EXPECT_EQ(w->sample.pairs.count(), 40);
  for (int32_t r = 0; r < 40; ++r) EXPECT_GE(w->sample.pairs[r].distance, 21);
}

// Far-off coordinates take the plain pair listing instead of the four-lane
// one, and rows out of order take the whole partner range: a turn-free shift
// or a row-order shuffle of the same minutiae must keep the same pairs.
TEST(PairTable, ListingPathsAgree) {
  testing::TestRandom random(7);
  auto finger = testing::MakeFingerSet(random);
  const MatchParameters p = testing::DefaultParameters();
  auto w = testing::NewWorkspace();
  CopyFeatureSet(&w->sample.set, finger.get());
  ASSERT_EQ(PrepareSet(w.get(), &w->sample, PairDirections::kOne, 60, p), 0);
  const PreparedSet& near = w->sample;
  ASSERT_GT(near.pairs.count(), 100);

  auto other = testing::NewWorkspace();
  constexpr int32_t kFarOff = 40000;
  for (int32_t i = 0; i < finger->minutiaCount; ++i) finger->minutiae[i].x += kFarOff;
  CopyFeatureSet(&other->sample.set, finger.get());
  ASSERT_EQ(PrepareSet(other.get(), &other->sample, PairDirections::kOne, 60, p), 0);
  const PreparedSet& far = other->sample;
  ASSERT_EQ(far.pairs.count(), near.pairs.count());
  for (int32_t r = 0; r < near.pairs.count(); ++r) {
    EXPECT_EQ(far.pairs[r].first, near.pairs[r].first);
    EXPECT_EQ(far.pairs[r].second, near.pairs[r].second);
    EXPECT_EQ(far.pairs[r].firstAngle, near.pairs[r].firstAngle);
    EXPECT_EQ(far.buckets[r].pair, near.buckets[r].pair);
  }

  // Back in place, the last minutia moved to the top row: the distances of
  // its pairs change, so compare the pair count with a plain count.
  for (int32_t i = 0; i < finger->minutiaCount; ++i) finger->minutiae[i].x -= kFarOff;
  finger->minutiae[finger->minutiaCount - 1].y = -1;
  CopyFeatureSet(&other->sample.set, finger.get());
  ASSERT_EQ(PrepareSet(other.get(), &other->sample, PairDirections::kOne, 60, p), 0);
  int32_t inRange = 0;
  for (int32_t i = 0; i < finger->minutiaCount; ++i) {
    for (int32_t j = i + 1; j < finger->minutiaCount; ++j) {
      const Minutia& a = finger->minutiae[i];
      const Minutia& b = finger->minutiae[j];
      const int32_t d = DistanceOf(a.x, a.y, b.x, b.y);
      inRange += d >= p.pairMinDistance && d <= 60 ? 1 : 0;
    }
  }
  EXPECT_EQ(other->sample.pairs.count(), inRange);
}

}  // namespace
}  // namespace vorsensor
