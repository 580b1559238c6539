#include "matching/selection.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(Selection, AllAndBestPerProbePairRun) {
  auto w = testing::NewWorkspace();
  const std::vector<Correspondence> list = {{0, 0, 10}, {0, 1, 12}, {1, 2, 5}, {0, 3, 7}, {0, 4, 7}};
  EXPECT_EQ(Select(w.get(), list, 0), (std::vector<int32_t>{0, 1, 2, 3, 4}));
  // Runs of consecutive entries: {0, 1}, {2}, {3, 4}; first on ties.
  EXPECT_EQ(Select(w.get(), list, 1), (std::vector<int32_t>{1, 2, 3}));
}

TEST(Selection, ConflictGroupSharingAProbePairKeepsTheHigherScore) {
  auto w = testing::NewWorkspace();
  EXPECT_EQ(Select(w.get(), {{3, 0, 10}, {3, 1, 20}}, 2), std::vector<int32_t>{1});
  // Sharing a sample pair works the same way; unrelated ones stay alone.
  EXPECT_EQ(Select(w.get(), {{0, 5, 20}, {1, 6, 8}, {2, 5, 20}}, 2), (std::vector<int32_t>{0, 1}));
  // A small group yields one member even when its probe pairs differ.
  EXPECT_EQ(Select(w.get(), {{0, 0, 4}, {1, 0, 9}, {1, 1, 6}}, 2), std::vector<int32_t>{1});
}

TEST(Selection, LargeGroupYieldsOnePerDistinctKey) {
  auto w = testing::NewWorkspace();
  // A chain p0-s1-p1-s2-p2: three distinct probe and sample pairs, key side
  // probe; the best of p0, of p1 and of p2.
  EXPECT_EQ(Select(w.get(), {{0, 0, 5}, {0, 1, 9}, {1, 1, 7}, {1, 2, 8}, {2, 2, 4}}, 2),
            (std::vector<int32_t>{1, 3, 4}));
  // Fewer distinct sample pairs: the sample side is the key. Entry 3 joins
  // only in the second scan, through entry 4's probe pair; the yield follows
  // group order.
  EXPECT_EQ(Select(w.get(), {{0, 0, 5}, {1, 0, 9}, {2, 0, 7}, {3, 1, 8}, {3, 0, 6}}, 2),
            (std::vector<int32_t>{1, 3}));
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

}  // namespace
}  // namespace vorsensor
