#include "matching/matcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/result_codes.h"
#include "feature_set_helpers.h"
#include "matcher_test_support.h"
#include "matching/alignment.h"

namespace vorsensor {
namespace {

using testing::MakeFingerSet;
using testing::MakeImpressionSet;
using testing::NewFeatureSet;
using testing::RecordBytesOf;
using testing::TestRandom;

EngineConfiguration RawConfig() {
  EngineConfiguration config = testing::DefaultConfig();
  config.rawScore = 1;
  return config;
}

int32_t RawScore(const FeatureSet& probe, const FeatureSet& sample, const EngineConfiguration& config,
                 void* details = nullptr, size_t capacity = 0) {
  auto w = testing::NewWorkspace();
  const std::vector<uint8_t> a = RecordBytesOf(probe);
  const std::vector<uint8_t> b = RecordBytesOf(sample);
  return MatchPair(w.get(), a.data(), a.size(), b.data(), b.size(), 120, 0, &config, details, capacity);
}

TEST(MatchPair, StageOneBelowThresholdLeavesRotationAndShiftZero) {
  TestRandom random(6);
  auto finger = MakeFingerSet(random);
  testing::ImpressionChange change;
  change.rotation = 30;
  change.shiftX = 12;
  const std::vector<uint8_t> a = RecordBytesOf(*finger);
  const std::vector<uint8_t> b = RecordBytesOf(*MakeImpressionSet(*finger, random, change));
  const EngineConfiguration config = testing::DefaultConfig();
  auto w = testing::NewWorkspace();
  MatchDetails d{kDetailsShortSize, 77, 77, 77, 77};
  EXPECT_EQ(MatchPair(w.get(), a.data(), a.size(), b.data(), b.size(), 120, 1000000, &config, &d, sizeof d), -1);
  EXPECT_EQ(d.score, 0);
  EXPECT_EQ(d.rotation, 0);
  EXPECT_EQ(d.shiftX, 0);
  EXPECT_EQ(d.shiftY, 0);
  // The same pair at threshold 0 does get turned back and shifted.
  EXPECT_EQ(MatchPair(w.get(), a.data(), a.size(), b.data(), b.size(), 120, 0, &config, &d, sizeof d), 0);
  EXPECT_NEAR(d.rotation, 240 - 30, 3);
  EXPECT_NE(d.shiftX, 0);
}

TEST(MatchSample, ThresholdAnswerAtTheScore) {
  TestRandom random(7);
  auto finger = MakeFingerSet(random);
  testing::ImpressionChange change;
  change.rotation = 12;
  change.shiftX = 9;
  auto impression = MakeImpressionSet(*finger, random, change);
  EngineConfiguration config = RawConfig();
  const int32_t score = RawScore(*finger, *impression, config);
  ASSERT_GT(score, 48);
  auto w = testing::NewWorkspace();
  const std::vector<uint8_t> a = RecordBytesOf(*finger);
  const std::vector<uint8_t> b = RecordBytesOf(*impression);
  ASSERT_EQ(PrepareProbe(w.get(), a.data(), a.size(), 120, &config), 0);
  // With the raw score a threshold above the score cuts it to 0.
  EXPECT_EQ(MatchSample(w.get(), b.data(), b.size(), score, &config, nullptr, 0), score);
  EXPECT_EQ(MatchSample(w.get(), b.data(), b.size(), score + 1, &config, nullptr, 0), 0);
  config.rawScore = 0;
  EXPECT_EQ(MatchSample(w.get(), b.data(), b.size(), score, &config, nullptr, 0), 0);
  EXPECT_EQ(MatchSample(w.get(), b.data(), b.size(), score + 1, &config, nullptr, 0), -1);
  // Another finger does not reach the service threshold.
  auto other = MakeFingerSet(random);
  const std::vector<uint8_t> c = RecordBytesOf(*other);
  EXPECT_EQ(MatchSample(w.get(), c.data(), c.size(), 48, &config, nullptr, 0), -1);
}

// A workspace keeps what it can reuse between comparisons against one
// probe (the window filter keys of its pairs): a new probe, other
// tolerances and symmetric mode (which prepares the sample as a probe) must
// score every pair as a fresh workspace does.
TEST(MatchSample, ReusedWorkspaceScoresAsAFreshOne) {
  TestRandom random(21);
  auto w = testing::NewWorkspace();
  for (int32_t round = 0; round < 3; ++round) {
    auto finger = MakeFingerSet(random);
    const std::vector<uint8_t> probe = RecordBytesOf(*finger);
    const EngineConfiguration standard = RawConfig();
    ASSERT_EQ(PrepareProbe(w.get(), probe.data(), probe.size(), 120, &standard), 0);
    for (int32_t k = 0; k < 6; ++k) {
      auto sample = k % 2 == 0 ? MakeImpressionSet(*finger, random) : MakeFingerSet(random);
      // The first and last comparisons of each probe use the standard
      // tolerances, so a new probe follows a comparison with the same ones.
      EngineConfiguration config = standard;
      if (k != 0 && k != 5) {
        config.distanceTolerance = static_cast<uint32_t>(random.Range(6, 14));
        config.angleTolerance = static_cast<uint32_t>(random.Range(6, 14));
      }
      config.symmetricMode = k == 4 ? 1 : 0;
      const std::vector<uint8_t> b = RecordBytesOf(*sample);
      EXPECT_EQ(MatchSample(w.get(), b.data(), b.size(), 0, &config, nullptr, 0), RawScore(*finger, *sample, config))
          << round << " " << k;
    }
  }
}

TEST(MatchDetailsRecord, SizesValidationAndWhatEachReceives) {
  TestRandom random(8);
  auto finger = MakeFingerSet(random);
  auto impression = MakeImpressionSet(*finger, random);
  const EngineConfiguration config = RawConfig();
  // Size 21 and sizes beyond the buffer are refused.
  uint8_t bytes[64];
  std::memset(bytes, 0xAB, sizeof bytes);
  const uint32_t size21 = 21;
  std::memcpy(bytes, &size21, 4);
  EXPECT_EQ(RawScore(*finger, *impression, config, bytes, sizeof bytes), kOutOfRange);
  MatchDetails small{kDetailsIndexedSize, 0, 0, 0, 0};
  EXPECT_EQ(RawScore(*finger, *impression, config, &small, sizeof small), kOutOfRange);
  EXPECT_EQ(RawScore(*finger, *impression, config, bytes, 3), kOutOfRange);

  // Size 20 fills only its five fields.
  const uint32_t size20 = kDetailsShortSize;
  std::memset(bytes, 0xAB, sizeof bytes);
  std::memcpy(bytes + 1, &size20, 4);  // unaligned on purpose
  const int32_t score = RawScore(*finger, *impression, config, bytes + 1, sizeof bytes - 1);
  ASSERT_GT(score, 0);
  int32_t written;
  std::memcpy(&written, bytes + 1 + 4, 4);
  EXPECT_EQ(written, score);
  for (size_t i = 21; i < sizeof bytes; ++i) ASSERT_EQ(bytes[i], 0xAB) << i;

  // Size 4120 adds index lists of distinct (probe, sample) pairs.
  std::unique_ptr<MatchDetailsIndexed> indexed(new MatchDetailsIndexed());
  indexed->head.size = kDetailsIndexedSize;
  EXPECT_EQ(RawScore(*finger, *impression, config, indexed.get(), sizeof *indexed), score);
  ASSERT_GT(indexed->pairCount, 10u);
  ASSERT_LE(indexed->pairCount, 1024u);
  for (uint32_t i = 0; i < indexed->pairCount; ++i) {
    EXPECT_LT(indexed->probeIndices[i], finger->minutiaCount);
    EXPECT_LT(indexed->sampleIndices[i], impression->minutiaCount);
    for (uint32_t j = 0; j < i; ++j) {
      EXPECT_FALSE(indexed->probeIndices[i] == indexed->probeIndices[j] &&
                   indexed->sampleIndices[i] == indexed->sampleIndices[j]);
    }
  }
  // The full record gives the same score and lists.
  std::unique_ptr<MatchDetailsFull> full(new MatchDetailsFull());
  full->indexed.head.size = kDetailsFullSize;
  EXPECT_EQ(RawScore(*finger, *impression, config, full.get(), sizeof *full), score);
  EXPECT_EQ(full->indexed.pairCount, indexed->pairCount);
  EXPECT_GT(full->entryCount, 0u);
}

TEST(AlignSample, ReturnsTheSampleTurnedAndShiftedOntoTheProbe) {
  TestRandom random(11);
  auto finger = MakeFingerSet(random);
  testing::ImpressionChange change;
  change.rotation = 25;
  change.shiftX = 20;
  change.shiftY = -15;
  auto sample = MakeImpressionSet(*finger, random, change);
  const EngineConfiguration config = testing::DefaultConfig();
  auto w = testing::NewWorkspace();
  MatchDetails d{kDetailsShortSize, 0, 0, 0, 0};
  const int32_t score = AlignSample(w.get(), finger.get(), sample.get(), 120, 60, &config, &d, sizeof d);
  EXPECT_GE(score, 60);
  EXPECT_EQ(d.score, 0);  // AlignSample leaves the score field alone
  EXPECT_NEAR(d.rotation, 240 - 25, 3);
  // The aligned copy aligns again with a rotation and shift near 0.
  const int32_t again = AlignSample(w.get(), finger.get(), sample.get(), 120, 60, &config, &d, sizeof d);
  EXPECT_GE(again, 60);
  EXPECT_TRUE(d.rotation <= 2 || d.rotation >= 238) << d.rotation;
  EXPECT_LE(std::abs(d.shiftX), 3);
  EXPECT_LE(std::abs(d.shiftY), 3);
}

TEST(AlignSample, RefusesSetsOutsideTheirLists) {
  const EngineConfiguration config = testing::DefaultConfig();
  auto w = testing::NewWorkspace();
  auto good = NewFeatureSet();
  auto bad = NewFeatureSet();
  bad->minutiaCount = kMaxMinutiae + 1;
  EXPECT_EQ(AlignSample(w.get(), good.get(), bad.get(), 120, 0, &config, nullptr, 0), kOutOfRange);
  bad->minutiaCount = 1;
  bad->minutiae[0].x = 1 << 30;
  EXPECT_EQ(AlignSample(w.get(), bad.get(), good.get(), 120, 0, &config, nullptr, 0), kOutOfRange);
  bad->minutiae[0].x = 0;
  bad->gridWidth = -1;
  EXPECT_EQ(AlignSample(w.get(), good.get(), bad.get(), 120, 0, &config, nullptr, 0), kOutOfRange);
  EXPECT_EQ(AlignSample(w.get(), nullptr, good.get(), 120, 0, &config, nullptr, 0), kMissingArgument);
  // Empty sets have no pairs: score 0, not an error.
  EXPECT_EQ(AlignSample(w.get(), good.get(), good.get(), 120, 0, &config, nullptr, 0), 0);
}

TEST(MatchSample, SymmetricModeAveragesBothDirections) {
  TestRandom random(12);
  auto finger = MakeFingerSet(random);
  auto impression = MakeImpressionSet(*finger, random);
  EngineConfiguration config = RawConfig();
  const int32_t forward = RawScore(*finger, *impression, config);
  const int32_t backward = RawScore(*impression, *finger, config);
  ASSERT_NE(forward, backward);
  config.symmetricMode = 1;
  EXPECT_EQ(RawScore(*finger, *impression, config), (forward + backward) / 2);
  // Mode 2 averages only inside [symmetricLow, symmetricHigh], both bounds included.
  config.symmetricMode = 2;
  const int32_t both = (forward + backward) / 2;
  const struct {
    int32_t low, high, expected;
  } bands[] = {{forward, forward + 9, both}, {forward - 9, forward, both}, {forward + 1, 500, forward},
               {0, forward - 1, forward}};
  for (const auto& band : bands) {
    config.symmetricLow = static_cast<uint32_t>(band.low);
    config.symmetricHigh = static_cast<uint32_t>(band.high);
    EXPECT_EQ(RawScore(*finger, *impression, config), band.expected) << band.low << ".." << band.high;
  }
}

TEST(MatchSample, ScaleSearchFindsAStretchedSample) {
  TestRandom random(13);
  auto finger = MakeFingerSet(random);
  auto stretched = MakeImpressionSet(*finger, random);
  StretchSample(stretched.get(), 125, 100);
  EngineConfiguration config = RawConfig();
  const int32_t plain = RawScore(*finger, *stretched, config);
  config.scaleSearch = 1;
  MatchDetails d{kDetailsShortSize, 0, 0, 0, 0};
  const int32_t searched = RawScore(*finger, *stretched, config, &d, sizeof d);
  EXPECT_GT(searched, plain);
  EXPECT_EQ(d.score, searched);
  config.scaleStep = 0;
  EXPECT_EQ(RawScore(*finger, *stretched, config), kOutOfRange);
}

TEST(StretchSample, ScalesPositionsAndDirections) {
  auto set = NewFeatureSet();
  set->minutiaCount = 2;
  set->minutiae[0] = Minutia{10, -10, 1, 30, 255, 255, 0};
  set->minutiae[1] = Minutia{-15, 3, 1, 250, 255, 255, 0};  // direction byte beyond a turn
  StretchSample(set.get(), 150, 50);
  EXPECT_EQ(set->minutiae[0].x, 15);
  EXPECT_EQ(set->minutiae[0].y, -5);
  EXPECT_EQ(set->minutiae[1].x, -23);  // -22.5 rounds away from zero
  EXPECT_EQ(set->minutiae[1].y, 2);    // 1.5 rounds away from zero
  // 30 units (45 degrees) stretched 1.5 : 0.5 gives atan(1/3) = 12 units.
  EXPECT_EQ(set->minutiae[0].direction, 12);
  EXPECT_LT(set->minutiae[1].direction, 240);
}

// Turning by 20 units (30 degrees) about the centre (100, 50) uses the tables'
// cos = 8660 and sin = -5000 of entry 220, each coordinate rounded half away
// from zero: (3, 0) goes to (2.598, 1.5) -> (3, 2), (-3, 0) to (-3, -2), and
// (0, 1) to (-0.5, 0.866) -> (-1, 1); directions gain 20 modulo a full turn.
TEST(TurnSample, RoundsEachCoordinateHalfAwayFromZero) {
  auto w = testing::NewWorkspace();
  PreparedSet& slot = w->sample;
  slot.pairs.Clear();
  slot.centreX = 100;
  slot.centreY = 50;
  slot.set.minutiaCount = 3;
  slot.set.minutiae[0] = Minutia{103, 50, 1, 0, 255, 255, 0};
  slot.set.minutiae[1] = Minutia{97, 50, 1, 230, 255, 255, 0};
  slot.set.minutiae[2] = Minutia{100, 51, 1, 60, 255, 255, 0};
  slot.set.singularCount = 1;
  slot.set.singular[0].x = 103;
  slot.set.singular[0].y = 50;
  TurnSample(&slot, 20, false, w->gridScratch);
  const int32_t expected[3][3] = {{103, 52, 20}, {97, 48, 10}, {99, 51, 80}};
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(slot.set.minutiae[i].x, expected[i][0]) << i;
    EXPECT_EQ(slot.set.minutiae[i].y, expected[i][1]) << i;
    EXPECT_EQ(slot.set.minutiae[i].direction, expected[i][2]) << i;
  }
  EXPECT_EQ(slot.set.singular[0].x, 103);
  EXPECT_EQ(slot.set.singular[0].y, 52);
}

TEST(MatchSample, WorkspaceDoesNotGrowBetweenComparisons) {
  TestRandom random(14);
  auto probe = MakeFingerSet(random);
  std::vector<std::vector<uint8_t>> samples;
  for (int32_t i = 0; i < 40; ++i) {
    samples.push_back(RecordBytesOf(*(i % 2 == 0 ? MakeImpressionSet(*probe, random) : MakeFingerSet(random))));
  }
  const EngineConfiguration config = testing::DefaultConfig();
  auto w = testing::NewWorkspace();
  const std::vector<uint8_t> a = RecordBytesOf(*probe);
  ASSERT_EQ(PrepareProbe(w.get(), a.data(), a.size(), 120, &config), 0);
  for (const auto& s : samples) MatchSample(w.get(), s.data(), s.size(), 48, &config, nullptr, 0);
  const size_t warmed = MatchWorkspaceBytes(w.get());
  for (int32_t round = 0; round < 5; ++round) {
    for (const auto& s : samples) ASSERT_GE(MatchSample(w.get(), s.data(), s.size(), 48, &config, nullptr, 0), -1);
  }
  EXPECT_EQ(MatchWorkspaceBytes(w.get()), warmed);
}

// Random record bytes are the fuzz targets' work; here only the probe state.
TEST(MatchSample, NeedsAPreparedProbe) {
  TestRandom random(15);
  auto probe = MakeFingerSet(random);
  const EngineConfiguration config = testing::DefaultConfig();
  auto w = testing::NewWorkspace();
  const std::vector<uint8_t> a = RecordBytesOf(*probe);
  EXPECT_EQ(MatchSample(w.get(), a.data(), a.size(), 48, &config, nullptr, 0), kMissingArgument);
  ASSERT_EQ(PrepareProbe(w.get(), a.data(), a.size(), 120, &config), 0);
  EXPECT_EQ(MatchSample(w.get(), a.data(), a.size(), 48, &config, nullptr, 0), 0);
  // A malformed probe leaves no probe prepared.
  const uint8_t bad[7] = {0xFF, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(PrepareProbe(w.get(), bad, sizeof bad, 120, &config), kMalformedRecord);
  EXPECT_EQ(MatchSample(w.get(), a.data(), a.size(), 48, &config, nullptr, 0), kMissingArgument);
}

}  // namespace
}  // namespace vorsensor
