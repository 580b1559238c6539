// Workspace arrays filled entry by entry, and a crafted set that makes the
// correspondence list very long.
#include <gtest/gtest.h>

#include "matching/matcher.h"
#include "matching/match_state.h"
#include "tests/matching/matcher_test_support.h"

namespace vorsensor {
namespace {

TEST(GrowableArray, GrowsByDoublingInWholeStepsAndKeepsItsEntries) {
  GrowableArray<int32_t> a;
  constexpr int32_t kEntries = 300000;
  int32_t enlargements = 0;
  for (int32_t i = 0; i < kEntries; ++i) {
    const int32_t before = a.capacity();
    ASSERT_TRUE(a.Append(i, kCorrespondenceGrowth));
    if (a.capacity() != before) {
      ++enlargements;
      EXPECT_EQ(a.capacity() % kCorrespondenceGrowth, 0) << a.capacity();
      EXPECT_GE(a.capacity(), 2 * before);
    }
  }
  // 500, 1000, 2000, ... 512000: ten enlargements; one step at a time took 600.
  EXPECT_EQ(enlargements, 11);
  for (int32_t i = 0; i < kEntries; ++i) ASSERT_EQ(a[i], i);
  // A request past the largest array empties it and leaves no capacity.
  EXPECT_FALSE(a.Reserve(int64_t{kMaxArrayEntries} + 1, kCorrespondenceGrowth));
  EXPECT_EQ(a.capacity(), 0);
  EXPECT_EQ(a.count(), 0);
}

// A lattice of like minutiae 16 pixels apart: every pair of the probe has
// hundreds of twins, and the lists run to hundreds of thousands of entries
// (this took about a minute while the lists grew one step at a time). A set
// laid on itself still aligns with no turn; its votes for shift 0 fill the
// eleven-bin window of every centre from -5 to 5 alike, so the first of them
// wins.
TEST(AlignSample, LatticeOfLikeMinutiaeAlignsOntoItself) {
  auto probe = std::make_unique<FeatureSet>();
  ClearFeatureSet(probe.get());
  constexpr int32_t kCount = 254;
  constexpr int32_t kColumns = 16;
  constexpr int32_t kSpacing = 16;
  probe->minutiaCount = kCount;
  for (int32_t i = 0; i < kCount; ++i) {
    probe->minutiae[i] = Minutia{20 + (i % kColumns) * kSpacing, 20 + (i / kColumns) * kSpacing,
                                 kMinutiaEnding, 0, kNoSpread, kNoDensity, 0};
  }
  auto sample = std::make_unique<FeatureSet>(*probe);
  const EngineConfiguration config = testing::DefaultConfig();
  auto w = testing::NewWorkspace();
  MatchDetails d{kDetailsShortSize, 0, 0, 0, 0};
  EXPECT_GT(AlignSample(w.get(), probe.get(), sample.get(), 120, 0, &config, &d, sizeof d), 0);
  EXPECT_EQ(d.rotation, 0);
  EXPECT_EQ(d.shiftX, -5);
  EXPECT_EQ(d.shiftY, -5);
}

}  // namespace
}  // namespace vorsensor
