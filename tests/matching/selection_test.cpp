#include "matching/selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "support/random.h"

#include "matcher_test_support.h"

namespace vorsensor {
namespace {

// Loads the correspondences as the kept list (in order) and selects.
std::vector<int32_t> Select(MatchWorkspace* w, const std::vector<Correspondence>& list, int32_t mode) {
  w->correspondences.Clear();
  w->kept.Clear();
  int32_t pairs = 0;
  for (const Correspondence& c : list) {
    w->correspondences.Append(c, kCorrespondenceGrowth);
    w->kept.Append(w->kept.count(), kCorrespondenceGrowth);
    pairs = std::max({pairs, c.probePair + 1, c.samplePair + 1});
  }
  EXPECT_EQ(SelectCorrespondences(w, mode, pairs, pairs), 0);
  return std::vector<int32_t>(w->selection.data(), w->selection.data() + w->selection.count());
}

TEST(Selection, HandWorkedLists) {
  const struct {
    std::vector<Correspondence> list;
    int32_t mode;
    std::vector<int32_t> selected;
  } cases[] = {
      {{{0, 0, 10}, {0, 1, 12}, {1, 2, 5}, {0, 3, 7}, {0, 4, 7}}, 0, {0, 1, 2, 3, 4}},
      // Runs of consecutive entries: {0, 1}, {2}, {3, 4}; first on ties.
      {{{0, 0, 10}, {0, 1, 12}, {1, 2, 5}, {0, 3, 7}, {0, 4, 7}}, 1, {1, 2, 3}},
      // A conflict group sharing a probe pair keeps the higher score.
      {{{3, 0, 10}, {3, 1, 20}}, 2, {1}},
      // Sharing a sample pair works the same way; unrelated ones stay alone.
      {{{0, 5, 20}, {1, 6, 8}, {2, 5, 20}}, 2, {0, 1}},
      // A small group yields one member even when its probe pairs differ.
      {{{0, 0, 4}, {1, 0, 9}, {1, 1, 6}}, 2, {1}},
      // A chain p0-s1-p1-s2-p2: three distinct probe and sample pairs, key
      // side probe; the best of p0, of p1 and of p2.
      {{{0, 0, 5}, {0, 1, 9}, {1, 1, 7}, {1, 2, 8}, {2, 2, 4}}, 2, {1, 3, 4}},
      // Fewer distinct sample pairs: the sample side is the key. Entry 3 joins
      // only in the second scan, through entry 4's probe pair; the yield
      // follows group order.
      {{{0, 0, 5}, {1, 0, 9}, {2, 0, 7}, {3, 1, 8}, {3, 0, 6}}, 2, {1, 3}},
  };
  auto w = testing::NewWorkspace();
  for (size_t k = 0; k < std::size(cases); ++k) {
    EXPECT_EQ(Select(w.get(), cases[k].list, cases[k].mode), cases[k].selected) << "case " << k;
  }
}

TEST(Selection, GroupsStopAt255Members) {
  auto w = testing::NewWorkspace();
  std::vector<Correspondence> list;
  for (int32_t i = 0; i < 300; ++i) list.push_back({0, i, 1});
  list[254].score = 200;
  list[260].score = 180;
  // One probe pair shared by all: the first group takes 255 members, the
  // rest form a second group.
  EXPECT_EQ(Select(w.get(), list, 2), (std::vector<int32_t>{254, 260}));
}

// Conflict groups exactly as described: repeated full scans, then the passes.
std::vector<int32_t> SlowConflictGroups(const std::vector<Correspondence>& list) {
  const size_t n = list.size();
  std::vector<bool> taken(n, false);
  std::vector<int32_t> yielded;
  for (size_t i = 0; i < n; ++i) {
    if (taken[i]) continue;
    std::vector<size_t> group{i};
    taken[i] = true;
    for (bool added = true; added && group.size() < 255;) {
      added = false;
      for (size_t j = 0; j < n && group.size() < 255; ++j) {
        if (taken[j]) continue;
        bool joins = false;
        for (size_t m : group) {
          joins = joins || list[m].probePair == list[j].probePair || list[m].samplePair == list[j].samplePair;
        }
        if (joins) {
          group.push_back(j);
          taken[j] = true;
          added = true;
        }
      }
    }
    if (group.size() <= 3) {
      size_t best = group[0];
      for (size_t m : group) best = list[m].score > list[best].score ? m : best;
      yielded.push_back(static_cast<int32_t>(best));
      continue;
    }
    auto distinct = [&](bool probe) {
      int32_t d = 0;
      for (size_t a = 0; a < group.size(); ++a) {
        bool seen = false;
        for (size_t b = 0; b < a; ++b) {
          seen = seen || (probe ? list[group[a]].probePair == list[group[b]].probePair
                                : list[group[a]].samplePair == list[group[b]].samplePair);
        }
        d += seen ? 0 : 1;
      }
      return d;
    };
    const int32_t dP = distinct(true);
    const int32_t dS = distinct(false);
    const bool probeKey = dP <= dS;
    std::vector<int32_t> scores;
    for (size_t m : group) scores.push_back(list[m].score);
    auto key = [&](size_t g) { return probeKey ? list[group[g]].probePair : list[group[g]].samplePair; };
    for (int32_t pass = 0; pass < (probeKey ? dP : dS); ++pass) {
      int32_t choice = -1;
      for (size_t g = 0; g < group.size(); ++g) {
        if (scores[g] == 0) continue;
        if (choice < 0 || (key(g) == key(static_cast<size_t>(choice)) && scores[g] > scores[static_cast<size_t>(choice)])) {
          choice = static_cast<int32_t>(g);
        }
      }
      if (choice < 0) break;
      const int32_t k = key(static_cast<size_t>(choice));
      for (size_t g = 0; g < group.size(); ++g) {
        if (key(g) == k) scores[g] = 0;
      }
      yielded.push_back(static_cast<int32_t>(group[static_cast<size_t>(choice)]));
    }
  }
  return yielded;
}

TEST(Selection, ConflictGroupsEqualTheRepeatedScanOnRandomLists) {
  auto w = testing::NewWorkspace();
  testing::TestRandom random(31);
  for (int32_t round = 0; round < 60; ++round) {
    const int32_t n = random.Range(1, 400);
    const int32_t probePairs = random.Range(1, 120);
    const int32_t samplePairs = random.Range(1, 120);
    std::vector<Correspondence> list;
    for (int32_t i = 0; i < n; ++i) {
      list.push_back({random.Range(0, probePairs - 1), random.Range(0, samplePairs - 1), random.Range(1, 60)});
    }
    SCOPED_TRACE(round);
    EXPECT_EQ(Select(w.get(), list, 2), SlowConflictGroups(list));
  }
}

}  // namespace
}  // namespace vorsensor
