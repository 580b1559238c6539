#include "matching/candidate_filter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "support/random.h"

namespace vorsensor {
namespace {

using testing::TestRandom;

constexpr uint64_t kRecord = uint64_t{7} << kCandidateShift;

// The entries a filter lists, as sample indices.
std::vector<uint32_t> Indices(const std::vector<uint64_t>& list, const uint64_t* end) {
  std::vector<uint32_t> out;
  for (const uint64_t* p = list.data(); p != end; ++p) {
    EXPECT_EQ(*p >> kCandidateShift, kRecord >> kCandidateShift);
    out.push_back(static_cast<uint32_t>(*p & kCandidateLow));
  }
  return out;
}

// The filter's rule written out from its definition.
std::vector<uint32_t> ByDefinition(const std::vector<uint8_t>& distance, const std::vector<uint8_t>& angle,
                                   int32_t begin, int32_t end, const FilterProbe& probe) {
  std::vector<uint32_t> out;
  for (int32_t b = begin; b < end; ++b) {
    int32_t gap = std::abs(angle[b] - probe.secondAngle);
    if (gap > kHalfTurn) gap = kFullTurn - gap;
    if (std::abs(distance[b] - probe.distance) <= probe.tolD && gap <= probe.tolA) out.push_back(b);
  }
  return out;
}

// Random runs and probes, tolerances from 0 to their greatest values (angle
// gaps on both sides of the wrap at 240 and on the tolerance itself) and
// distances at both ends of the byte range: the plain filter and the
// search's filter (the vector one where built) list the same entries.
TEST(CandidateFilter, VersionsAgreeWithTheDefinition) {
  TestRandom random(4242);
  constexpr int32_t kEntries = 200;
  std::vector<uint8_t> distance(kEntries + kFilterPadding);
  std::vector<uint8_t> angle(kEntries + kFilterPadding);
  std::vector<uint64_t> plainList(kEntries + kListSlack);
  std::vector<uint64_t> usedList(kEntries + kListSlack);
  for (int32_t round = 0; round < 3000; ++round) {
    const bool narrow = round % 2 == 0;  // realistic values: many entries pass
    for (int32_t i = 0; i < kEntries + kFilterPadding; ++i) {
      distance[i] = static_cast<uint8_t>(narrow ? random.Range(20, 72) : random.Range(0, 255));
      angle[i] = static_cast<uint8_t>(random.Range(0, kFullTurn - 1));
    }
    FilterProbe probe;
    probe.distance = narrow ? random.Range(20, 60) : random.Range(0, 255);
    probe.secondAngle = random.Range(0, kFullTurn - 1);
    const int32_t tolChoice = round % 7;
    probe.tolD = tolChoice == 0 ? 0 : (tolChoice == 1 ? 255 : random.Range(0, narrow ? 20 : 255));
    probe.tolA = tolChoice == 2 ? 0 : (tolChoice == 3 ? kHalfTurn : random.Range(0, narrow ? 16 : kHalfTurn));
    const int32_t begin = random.Range(0, kEntries);
    const int32_t end = random.Range(begin, kEntries);
    const std::vector<uint32_t> expected = ByDefinition(distance, angle, begin, end, probe);
    const uint64_t* plainEnd = ListCandidatesPlain(distance.data(), angle.data(), begin, end, probe, kRecord,
                                                   plainList.data());
    const uint64_t* usedEnd =
        ListCandidates(distance.data(), angle.data(), begin, end, probe, kRecord, usedList.data());
    ASSERT_EQ(Indices(plainList, plainEnd), expected) << "round " << round;
    ASSERT_EQ(Indices(usedList, usedEnd), expected) << "round " << round;
  }
}

}  // namespace
}  // namespace vorsensor
