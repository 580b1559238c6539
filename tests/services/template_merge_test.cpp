// The template merge: correspondence lists, the merge rules on hand-built
// sets and alignments, and the merge with the matcher on generated fingers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/result_codes.h"
#include "engine/template_record.h"
#include "matching/match_workspace.h"
#include "services/correspondence_lists.h"
#include "services/prepared_sample.h"
#include "services/template_merge.h"
#include "services/verification.h"
#include "template_helpers.h"

namespace vorsensor::testing {
namespace {

using Pairs = std::vector<std::pair<int32_t, int32_t>>;

CorrespondenceList ListOf(const Pairs& pairs) {
  CorrespondenceList list{};
  for (const auto& [a, b] : pairs) {
    EXPECT_TRUE(AppendCorrespondence(&list, static_cast<uint16_t>(a), static_cast<uint16_t>(b)));
  }
  return list;
}

Pairs PairsOf(const CorrespondenceList& list) {
  Pairs pairs;
  for (int32_t k = 0; k < list.count; ++k) pairs.emplace_back(list.first[k], list.second[k]);
  return pairs;
}

// ---- Setting aside ambiguous entries --------------------------------------

TEST(SetAsideAmbiguous, MovesSharersThenTheEntryThenChains) {
  struct Case {
    Pairs list;
    Pairs kept;
    Pairs ambiguous;
  };
  const Case cases[] = {
      {{{0, 0}, {1, 1}, {2, 2}}, {{0, 0}, {1, 1}, {2, 2}}, {}},
      // (0,2) shares the first index with (0,0); (4,2) shares only with (0,2).
      {{{0, 0}, {1, 1}, {0, 2}, {3, 3}, {4, 2}}, {{1, 1}, {3, 3}}, {{0, 2}, {0, 0}, {4, 2}}},
      // Two sharers of the entry at 0 go first, in list order, then the entry.
      {{{5, 1}, {5, 2}, {6, 1}, {7, 7}}, {{7, 7}}, {{5, 2}, {6, 1}, {5, 1}}},
      // A chain reached only through the walk of the ambiguous list.
      {{{1, 1}, {1, 2}, {3, 2}, {3, 4}, {5, 4}, {9, 9}}, {{9, 9}}, {{1, 2}, {1, 1}, {3, 4}, {3, 2}, {5, 4}}},
      // A duplicated entry is ambiguous with itself.
      {{{2, 3}, {2, 3}}, {}, {{2, 3}, {2, 3}}},
  };
  for (const Case& c : cases) {
    CorrespondenceList list = ListOf(c.list);
    CorrespondenceList ambiguous{};
    SetAsideAmbiguous(&list, &ambiguous);
    EXPECT_EQ(PairsOf(list), c.kept);
    EXPECT_EQ(PairsOf(ambiguous), c.ambiguous);
  }
}

// Reference: an entry is ambiguous exactly when it is in a group of two or
// more entries linked by shared first or second indices (union-find).
TEST(SetAsideAmbiguous, KeepsExactlyTheEntriesThatShareNoIndexTransitively) {
  TestRandom random(77);
  for (int32_t round = 0; round < 300; ++round) {
    const int32_t n = random.Range(0, 40);
    const int32_t span = random.Range(2, 60);
    Pairs pairs;
    for (int32_t k = 0; k < n; ++k) pairs.emplace_back(random.Range(0, span), random.Range(0, span));
    std::vector<int32_t> parent(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) parent[static_cast<size_t>(k)] = k;
    auto root = [&](int32_t k) {
      while (parent[static_cast<size_t>(k)] != k) k = parent[static_cast<size_t>(k)];
      return k;
    };
    for (int32_t a = 0; a < n; ++a) {
      for (int32_t b = a + 1; b < n; ++b) {
        if (pairs[a].first == pairs[b].first || pairs[a].second == pairs[b].second) parent[root(b)] = root(a);
      }
    }
    Pairs kept;
    Pairs ambiguous;
    for (int32_t a = 0; a < n; ++a) {
      int32_t groupSize = 0;
      for (int32_t b = 0; b < n; ++b) groupSize += root(b) == root(a) ? 1 : 0;
      (groupSize == 1 ? kept : ambiguous).push_back(pairs[a]);
    }
    CorrespondenceList list = ListOf(pairs);
    CorrespondenceList aside{};
    SetAsideAmbiguous(&list, &aside);
    EXPECT_EQ(PairsOf(list), kept) << "round " << round;  // kept entries stay in order
    Pairs movedSorted = PairsOf(aside);
    std::sort(movedSorted.begin(), movedSorted.end());
    std::sort(ambiguous.begin(), ambiguous.end());
    EXPECT_EQ(movedSorted, ambiguous) << "round " << round;
  }
}

TEST(UniteCorrespondences, CancelsAgreeingEntriesAppendsTheRestAndMirrors) {
  CorrespondenceList forward = ListOf({{0, 0}, {1, 1}, {2, 5}, {4, 4}});
  CorrespondenceList backward = ListOf({{0, 0}, {7, 3}, {4, 4}});
  CorrespondenceList forwardAmbiguous{};
  CorrespondenceList backwardAmbiguous{};
  UniteCorrespondences(&forward, &forwardAmbiguous, &backward, &backwardAmbiguous);
  EXPECT_EQ(PairsOf(backward), (Pairs{{0, 0}, {7, 3}, {4, 4}, {1, 1}, {5, 2}}));
  EXPECT_EQ(PairsOf(forward), (Pairs{{0, 0}, {3, 7}, {4, 4}, {1, 1}, {2, 5}}));
  EXPECT_EQ(backwardAmbiguous.count, 0);
  EXPECT_EQ(forwardAmbiguous.count, 0);
}

// Two full lists that share nothing: the united list keeps its first 1024
// entries and nothing is written past it (AddressSanitizer watches the heap
// copies).
TEST(UniteCorrespondences, KeepsTheFirstListLengthWhenTheDirectionsTogetherHoldMore) {
  auto forward = std::make_unique<CorrespondenceList>();
  auto backward = std::make_unique<CorrespondenceList>();
  auto forwardAmbiguous = std::make_unique<CorrespondenceList>();
  auto backwardAmbiguous = std::make_unique<CorrespondenceList>();
  forward->count = backward->count = 0;
  for (int32_t k = 0; k < kMaxCorrespondences; ++k) {
    AppendCorrespondence(backward.get(), static_cast<uint16_t>(k), static_cast<uint16_t>(k));
    AppendCorrespondence(forward.get(), static_cast<uint16_t>(k + 2000), static_cast<uint16_t>(k + 3000));
  }
  UniteCorrespondences(forward.get(), forwardAmbiguous.get(), backward.get(), backwardAmbiguous.get());
  EXPECT_EQ(backward->count + backwardAmbiguous->count, kMaxCorrespondences);
  EXPECT_EQ(forward->count, backward->count);
  EXPECT_EQ(backward->first[kMaxCorrespondences - 1], kMaxCorrespondences - 1);
}

// ---- The merge rules, with a scripted aligner -------------------------------

struct ScriptedAligner {
  std::array<int32_t, kMergeAlignmentCount> scores{60, 60, 60, 60, 60, 60};
  std::array<Pairs, kMergeAlignmentCount> pairs;
  int32_t shiftPerAlignment = 0;  // x shift of the aligned copy: (a + 1) * this
  int32_t calls = 0;

  static int32_t Align(void* context, int32_t alignment, const FeatureSet* /*probe*/, FeatureSet* sample,
                       CorrespondenceList* list) {
    auto* self = static_cast<ScriptedAligner*>(context);
    ++self->calls;
    for (int32_t m = 0; m < sample->minutiaCount; ++m) sample->minutiae[m].x += (alignment + 1) * self->shiftPerAlignment;
    *list = ListOf(self->pairs[static_cast<size_t>(alignment)]);
    return self->scores[static_cast<size_t>(alignment)];
  }
  MergeAligner Seam() { return MergeAligner{&Align, this}; }
};

Minutia M(int32_t x, int32_t y, int32_t type, int32_t direction, int32_t spread = 10, int32_t density = 100) {
  return Minutia{x, y, type, static_cast<uint8_t>(direction), static_cast<uint8_t>(spread),
                 static_cast<uint8_t>(density), 0};
}

// x, y, type, direction, spread and density of each minutia, for comparing lists.
using Rows = std::vector<std::array<int32_t, 6>>;
Rows RowsOf(const std::vector<Minutia>& list) {
  Rows rows;
  for (const Minutia& m : list) rows.push_back({m.x, m.y, m.type, m.direction, m.spread, m.density});
  return rows;
}

struct ThreeSets {
  std::unique_ptr<FeatureSet> sets[kMergeSetCount] = {NewFeatureSet(), NewFeatureSet(), NewFeatureSet()};
  std::unique_ptr<FeatureSet> merged = NewFeatureSet();
  const FeatureSet* views[kMergeSetCount] = {sets[0].get(), sets[1].get(), sets[2].get()};
  void Add(int32_t s, const Minutia& m) { sets[s]->minutiae[sets[s]->minutiaCount++] = m; }
  int32_t Merge(ScriptedAligner* aligner, int32_t threshold = 60) {
    return MergeFeatureSetsWith(views, merged.get(), threshold, aligner->Seam());
  }
  Rows Result() const { return RowsOf({merged->minutiae, merged->minutiae + merged->minutiaCount}); }
};

// Averages of two (sets 0 and 1 joined) and of three (all joined) members.
TEST(MergeRules, AveragesPositionsTypesDirectionsSpreadsAndDensities) {
  struct Case {
    std::vector<Minutia> members;
    Minutia average;
  };
  const Case cases[] = {
      {{M(10, 20, 1, 230, 10, 90), M(13, 25, 1, 10, 13, 95)}, M(11, 22, 1, 0, 11, 92)},
      {{M(0, 0, 1, 200), M(0, 0, 1, 10)}, M(0, 0, 1, 225)},
      {{M(0, 0, 1, 100), M(0, 0, 1, 110)}, M(0, 0, 1, 105)},
      {{M(0, 0, 1, 0), M(0, 0, 1, 119)}, M(0, 0, 1, 59)},    // 119 apart: plain mean
      {{M(0, 0, 1, 0), M(0, 0, 1, 120)}, M(0, 0, 1, 180)},   // 120 apart: circular mean
      {{M(0, 0, 1, 230), M(0, 0, 1, 10), M(0, 0, 1, 0)}, M(0, 0, 1, 0)},
      {{M(0, 0, 1, 239), M(0, 0, 1, 0), M(0, 0, 1, 1)}, M(0, 0, 1, 0)},
      // -65 / 3 truncates to -21: 219, not 218.
      {{M(0, 0, 1, 5), M(0, 0, 1, 200), M(0, 0, 1, 210)}, M(0, 0, 1, 219)},
      // Coordinates truncate towards zero, also below zero.
      {{M(-3, -5, 1, 0), M(0, 0, 1, 0)}, M(-1, -2, 1, 0)},
      {{M(1, 2, 1, 0), M(1, 2, 1, 0), M(2, 2, 1, 0)}, M(1, 2, 1, 0)},
      // Type votes.
      {{M(0, 0, 1, 0), M(0, 0, 1, 0), M(0, 0, 2, 0)}, M(0, 0, 1, 0)},
      {{M(0, 0, 1, 0), M(0, 0, 2, 0)}, M(0, 0, 1, 0)},
      {{M(0, 0, 2, 0), M(0, 0, 2, 0), M(0, 0, 1, 0)}, M(0, 0, 2, 0)},
      {{M(0, 0, 0, 0), M(0, 0, 2, 0)}, M(0, 0, 2, 0)},
      {{M(0, 0, 0, 0), M(0, 0, 0, 0)}, M(0, 0, 0, 0)},
      {{M(0, 0, 0, 0), M(0, 0, 0, 0), M(0, 0, 1, 0)}, M(0, 0, 1, 0)},
  };
  for (const Case& c : cases) {
    ThreeSets t;
    ScriptedAligner aligner;
    for (size_t s = 0; s < c.members.size(); ++s) t.Add(static_cast<int32_t>(s), c.members[s]);
    aligner.pairs[0] = {{0, 0}};  // 0 onto 1
    if (c.members.size() == 3) {
      aligner.pairs[1] = {{0, 0}};
      aligner.pairs[3] = {{0, 0}};
    }
    ASSERT_EQ(t.Merge(&aligner), 0);
    EXPECT_EQ(t.Result(), RowsOf({c.average})) << "first direction " << int{c.members[0].direction};
  }
}

TEST(MergeRules, IdenticalSetsMergeIntoThemselves) {
  TestRandom random(5);
  const auto finger = MakeFinger(random);
  ThreeSets t;
  ScriptedAligner aligner;
  for (int32_t s = 0; s < kMergeSetCount; ++s) CopyFeatureSet(t.sets[s].get(), finger.get());
  for (auto& pairs : aligner.pairs) {
    for (int32_t m = 0; m < finger->minutiaCount; ++m) pairs.emplace_back(m, m);
  }
  ASSERT_EQ(t.Merge(&aligner), 0);
  EXPECT_EQ(t.Result(), RowsOf({finger->minutiae, finger->minutiae + finger->minutiaCount}));
  EXPECT_EQ(t.merged->densityByte, finger->densityByte);
  EXPECT_EQ(t.merged->singularCount, finger->singularCount);
}

TEST(MergeRules, AnyAlignmentBelowTheThresholdFailsTheMerge) {
  for (int32_t failing = -1; failing < kMergeAlignmentCount; ++failing) {
    ThreeSets t;
    ScriptedAligner aligner;
    for (int32_t s = 0; s < kMergeSetCount; ++s) t.Add(s, M(5, 5, 1, 0));
    aligner.pairs[0] = {{0, 0}};
    if (failing >= 0) aligner.scores[static_cast<size_t>(failing)] = 59;
    t.merged->minutiaCount = 7;  // the merged set is emptied in any case
    const int32_t r = t.Merge(&aligner);
    if (failing < 0) {
      EXPECT_EQ(r, 0);  // every score exactly at the threshold
      EXPECT_EQ(t.merged->minutiaCount, 1);
    } else {
      EXPECT_EQ(r, kMergeFailed) << "alignment " << failing;
      EXPECT_EQ(aligner.calls, failing + 1) << "stops at once";
      EXPECT_EQ(t.merged->minutiaCount, 0);
    }
  }
}

TEST(MergeRules, RefusesSetsOverTheLabelArraysAndForeignIndices) {
  for (int32_t count : {kMergeMaxMinutiae, kMergeMaxMinutiae + 1}) {
    ThreeSets t;
    ScriptedAligner aligner;
    for (int32_t m = 0; m < count; ++m) t.Add(1, M(m, m, 1, 0));
    t.Add(0, M(0, 0, 1, 0));
    t.Add(2, M(0, 0, 1, 0));
    EXPECT_EQ(t.Merge(&aligner), count > kMergeMaxMinutiae ? kTooManyMinutiaeToMerge : 0);
  }
  ThreeSets t;
  ScriptedAligner aligner;
  t.Add(0, M(0, 0, 1, 0));
  t.Add(1, M(0, 0, 1, 0));
  t.Add(2, M(0, 0, 1, 0));
  aligner.pairs[3] = {{0, 1}};  // set 2 has no minutia 1
  EXPECT_EQ(t.Merge(&aligner), kOutOfRange);
}

// Base choice: sums of the one-to-one counts of the alignments from each set;
// with the lists united, set b's sum is the count with the other two sets.
TEST(MergeRules, ChoosesTheBestConnectedBaseAndTheLowerIndexOnATie) {
  struct Case {
    int32_t n01, n02, n12;
    int32_t base;
  };
  const Case cases[] = {{0, 0, 0, 0}, {2, 2, 2, 0}, {2, 1, 1, 0}, {1, 1, 3, 1}, {1, 2, 3, 2}, {3, 1, 2, 1}};
  for (const Case& c : cases) {
    ThreeSets t;
    ScriptedAligner aligner;
    for (int32_t s = 0; s < kMergeSetCount; ++s) {
      for (int32_t m = 0; m < 9; ++m) t.Add(s, M(10 * m, s, 1, 0));
    }
    // Disjoint minutiae per pair of sets, one direction only: the uniting
    // step completes the other.
    for (int32_t k = 0; k < c.n01; ++k) aligner.pairs[0].emplace_back(k, k);
    for (int32_t k = 0; k < c.n02; ++k) aligner.pairs[1].emplace_back(3 + k, 3 + k);
    for (int32_t k = 0; k < c.n12; ++k) aligner.pairs[3].emplace_back(6 + k, 6 + k);
    EXPECT_EQ(t.Merge(&aligner), c.base) << c.n01 << " " << c.n02 << " " << c.n12;
  }
}

// Ambiguity spread over the three lists, one cluster taken from the set with
// most of its minutiae, the averages in the base's frame.
TEST(MergeRules, ClustersAndAveragesInTheBaseFrame) {
  ThreeSets t;
  ScriptedAligner aligner;
  aligner.shiftPerAlignment = 10;  // the aligned copy of alignment a is shifted by 10 (a + 1)
  for (int32_t s = 0; s < kMergeSetCount; ++s) {
    for (int32_t m = 0; m < 4; ++m) t.Add(s, M(100 * s + 20 * m, 3 * m, 1, 40));
  }
  aligner.pairs[0] = {{0, 0}, {0, 1}, {2, 2}};  // set 0's minutia 0 meets two of set 1
  aligner.pairs[1] = {{0, 0}, {2, 2}, {3, 3}};
  aligner.pairs[3] = {{2, 2}};
  // Sums: base 0 has 1 + 3, set 1 has 1 + 1, set 2 has 3 + 1: base 0 (tie with 2).
  ASSERT_EQ(t.Merge(&aligner), 0);
  const FeatureSet& s0 = *t.sets[0];
  auto inP = [&](int32_t m) {  // set 1 in the frame of alignment 0 (shift 10)
    Minutia x = t.sets[1]->minutiae[m];
    x.x += 10;
    return x;
  };
  auto inQ = [&](int32_t m) {  // set 2 in the frame of alignment 1 (shift 20)
    Minutia x = t.sets[2]->minutiae[m];
    x.x += 20;
    return x;
  };
  const Minutia a3 = M((s0.minutiae[2].x + inP(2).x + inQ(2).x) / 3, 6, 1, 40);
  const Minutia a2 = M((s0.minutiae[3].x + inQ(3).x) / 2, 9, 1, 40);
  // The cluster {0 of set 0, 0 and 1 of set 1, 0 of set 2}: set 1 gives both.
  EXPECT_EQ(t.Result(), RowsOf({inP(0), inP(1), a3, a2}));
}

TEST(MergeRules, ClusterTiesGoToTheLowerSetAndAllAmbiguousListsGiveBaseZero) {
  ThreeSets t;
  ScriptedAligner aligner;
  for (int32_t s = 0; s < kMergeSetCount; ++s) {
    for (int32_t m = 0; m < 2; ++m) t.Add(s, M(50 * s + m, m, 1, 0));
  }
  aligner.pairs[5] = {{0, 0}, {0, 1}, {1, 1}};  // set 2 onto set 1: two and two minutiae
  ASSERT_EQ(t.Merge(&aligner), 0);
  // Base 0: the list between sets 1 and 2 is R; the cluster's tie goes to set 1
  // (in the frame of alignment 0).
  EXPECT_EQ(t.Result(), RowsOf({t.sets[1]->minutiae[0], t.sets[1]->minutiae[1]}));
}

// More clusters than one-byte labels can number: 381 two-minutia clusters from
// duplicated entries, each kept apart.
TEST(MergeRules, KeepsClustersApartPastTwoHundredFiftyFive) {
  ThreeSets t;
  ScriptedAligner aligner;
  for (int32_t s = 0; s < kMergeSetCount; ++s) {
    for (int32_t m = 0; m < kMergeMaxMinutiae; ++m) t.Add(s, M(1000 * s + m, m, 1, 0));
  }
  constexpr int32_t kHalf = kMergeMaxMinutiae / 2;
  for (int32_t m = 0; m < kHalf; ++m) {
    for (int32_t copy = 0; copy < 2; ++copy) {
      aligner.pairs[0].emplace_back(m, m);                  // set 0 .. set 1
      aligner.pairs[1].emplace_back(kHalf + m, m);          // set 0 .. set 2
      aligner.pairs[3].emplace_back(kHalf + m, kHalf + m);  // set 1 .. set 2
    }
  }
  ASSERT_EQ(t.Merge(&aligner), 0);
  std::vector<Minutia> want;
  for (int32_t m = 0; m < kMergeMaxMinutiae; ++m) want.push_back(t.sets[0]->minutiae[m]);
  for (int32_t m = kHalf; m < kMergeMaxMinutiae; ++m) want.push_back(t.sets[1]->minutiae[m]);
  EXPECT_EQ(t.Result(), RowsOf(want));
}

// ---- With the matcher ------------------------------------------------------

class MergeWithMatcher : public ::testing::Test {
 protected:
  void SetUp() override { SetDefaultConfiguration(&config_); }
  EngineConfiguration config_{};
};

TEST_F(MergeWithMatcher, TemplatesOfOneFingerMergeAndOfDifferentFingersDoNot) {
  TestRandom random(8);
  const auto finger = MakeFinger(random);
  const auto other = MakeFinger(random);
  std::vector<RecordBytes> records;
  for (int32_t k = 0; k < 3; ++k) records.push_back(RecordOf(*MakeImpression(*finger, random, 4 * k - 4, 5 * k, -3 * k)));
  const uint8_t* same[3] = {records[0].data(), records[1].data(), records[2].data()};
  std::array<uint8_t, kRecordWorkBufferSize> output{};
  int32_t length = -1;
  const int32_t base = MergeTemplates(3, same, kRecordBytes, output.data(), output.size(), &length, &config_);
  ASSERT_GE(base, 0);
  auto merged = NewFeatureSet();
  ASSERT_EQ(ReadTemplateRecord(output.data(), static_cast<size_t>(length), merged.get()), length);
  EXPECT_GT(merged->minutiaCount, 20);

  const RecordBytes stranger = RecordOf(*other);
  const uint8_t* mixed[3] = {records[0].data(), records[1].data(), stranger.data()};
  EXPECT_EQ(MergeTemplates(3, mixed, kRecordBytes, output.data(), output.size(), &length, &config_), kMergeFailed);
  EXPECT_EQ(ReadTemplateRecord(output.data(), static_cast<size_t>(length), merged.get()), length);
  EXPECT_EQ(merged->minutiaCount, 0);  // the empty merged set is written

  EXPECT_EQ(MergeTemplates(2, same, kRecordBytes, output.data(), output.size(), &length, &config_), kOutOfRange);
  EXPECT_EQ(MergeTemplates(3, same, kRecordBytes, output.data(), output.size(), nullptr, &config_), kMissingArgument);
  const RecordBytes malformed = [] {
    RecordBytes r{};
    r.fill(0xFF);
    return r;
  }();
  const uint8_t* bad[3] = {records[0].data(), malformed.data(), records[2].data()};
  EXPECT_EQ(MergeTemplates(3, bad, kRecordBytes, output.data(), output.size(), &length, &config_), kMalformedRecord);
}

// Three copies of a dense lattice: every alignment joins each minutia with
// itself and with its right and lower neighbours (as an alignment of like,
// evenly spaced minutiae does), 730 entries. The two directions of a pair
// cancel only the self entries, so uniting them gives 1206 entries: the
// merge keeps the first 1024 and never writes past a list (AddressSanitizer
// watches the heap scratch).
TEST(MergeRules, ThreeCopiesOfADenseLatticeOverfillTheUnitedListSafely) {
  constexpr int32_t kColumns = 15;
  ThreeSets t;
  ScriptedAligner aligner;
  for (int32_t s = 0; s < kMergeSetCount; ++s) {
    for (int32_t m = 0; m < kMergeMaxMinutiae; ++m) t.Add(s, M(20 + 16 * (m % kColumns), 20 + 16 * (m / kColumns), 1, 30));
  }
  Pairs lattice;
  for (int32_t m = 0; m < kMergeMaxMinutiae; ++m) {
    lattice.emplace_back(m, m);
    if (m % kColumns + 1 < kColumns && m + 1 < kMergeMaxMinutiae) lattice.emplace_back(m, m + 1);
    if (m + kColumns < kMergeMaxMinutiae) lattice.emplace_back(m, m + kColumns);
  }
  ASSERT_EQ(lattice.size(), 730u);
  ASSERT_GT(2 * lattice.size() - kMergeMaxMinutiae, static_cast<size_t>(kMaxCorrespondences));
  for (auto& pairs : aligner.pairs) pairs = lattice;
  const int32_t base = t.Merge(&aligner);
  EXPECT_EQ(base, 0);
  EXPECT_GT(t.merged->minutiaCount, 0);
  EXPECT_LE(t.merged->minutiaCount, kMergeSetCount * kMergeMaxMinutiae);
}

// The comparison's threshold sits exactly on the raw alignment score.
TEST_F(MergeWithMatcher, CompareForMergeMatchesAtTheThresholdExactly) {
  TestRandom random(31);
  const FingerTrio trio = MakeFingerTrio(random, 8, 6, -4);
  const std::vector<uint8_t> a = RecordBytesOf(*trio.finger);
  const std::vector<uint8_t> b = RecordBytesOf(*trio.impression);
  MatchWorkspacePtr workspace(CreateMatchWorkspace());
  auto copy = NewFeatureSet();
  CopyFeatureSet(copy.get(), trio.impression.get());
  const int32_t score = AlignSample(workspace.get(), trio.finger.get(), copy.get(), 120, 0, &config_, nullptr, 0);
  ASSERT_GT(score, 1);
  for (int32_t threshold : {score - 1, score, score + 1}) {
    config_.enrolThreshold = static_cast<uint32_t>(threshold);
    int32_t matched = -1;
    EXPECT_EQ(CompareForMerge(a.data(), a.size(), b.data(), b.size(), &matched, &config_),
              static_cast<int32_t>(b.size()));
    EXPECT_EQ(matched, threshold <= score ? 1 : 0) << "threshold " << threshold << " score " << score;
  }
  int32_t matched = -1;
  const std::vector<uint8_t> truncated(b.begin(), b.begin() + 4);
  EXPECT_EQ(CompareForMerge(a.data(), a.size(), truncated.data(), truncated.size(), &matched, &config_),
            kRecordTruncated);
  EXPECT_EQ(matched, 0);
}

TEST_F(MergeWithMatcher, RefusesWhileTheEngineHoldsALoadedSample) {
  TestRandom random(3);
  const RecordBytes record = RecordOf(*MakeFinger(random));
  ASSERT_GE(LoadSample(record.data(), &config_), 0);
  int32_t matched = -1;
  EXPECT_EQ(CompareForMerge(record.data(), record.size(), record.data(), record.size(), &matched, &config_),
            kSampleInUse);
  const uint8_t* three[3] = {record.data(), record.data(), record.data()};
  std::array<uint8_t, kRecordWorkBufferSize> output{};
  int32_t length = 0;
  EXPECT_EQ(MergeTemplates(3, three, record.size(), output.data(), output.size(), &length, &config_), kSampleInUse);
  EXPECT_EQ(UnloadSample(&config_), 0);
  EXPECT_EQ(MergeTemplates(3, three, record.size(), output.data(), output.size(), &length, &config_), 0);
}

}  // namespace
}  // namespace vorsensor::testing
