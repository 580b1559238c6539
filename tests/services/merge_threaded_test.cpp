// A merge on one thread and identifications on another: the merge keeps its
// working memory to itself, so every merge gives the same record and every
// search the same answer.
#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/template_record.h"
#include "services/match_templates.h"
#include "services/template_merge.h"
#include "template_helpers.h"

namespace vorsensor::testing {
namespace {

TEST(MergeThreaded, MergesBesideIdentificationsAreUndisturbed) {
  ASSERT_GE(InitEngine(), 0);
  TestRandom random(1234);
  const auto finger = MakeFinger(random);
  std::vector<RecordBytes> records;
  for (int32_t k = 0; k < 3; ++k) records.push_back(RecordOf(*MakeImpression(*finger, random, 2 * k, k, -k)));
  const uint8_t* three[3] = {records[0].data(), records[1].data(), records[2].data()};
  std::array<uint8_t, kRecordWorkBufferSize> first{};
  int32_t firstLength = 0;
  ASSERT_GE(MergeTemplates(3, three, kRecordBytes, first.data(), first.size(), &firstLength), 0);

  const SealedBytes sample = Seal(RecordOf(*MakeImpression(*finger, random, 5, 3, 3)));
  std::vector<SealedBytes> gallery;
  for (int32_t k = 0; k < 4; ++k) gallery.push_back(Seal(RecordOf(*MakeFinger(random))));
  gallery.push_back(Seal(records[1]));
  std::vector<const uint8_t*> references;
  for (const SealedBytes& s : gallery) references.push_back(s.data());

  constexpr int32_t kRounds = 30;
  int32_t mergeDifferences = 0;
  int32_t searchDifferences = 0;
  std::thread merger([&] {
    for (int32_t round = 0; round < kRounds; ++round) {
      std::array<uint8_t, kRecordWorkBufferSize> output{};
      int32_t length = 0;
      const int32_t r = MergeTemplates(3, three, kRecordBytes, output.data(), output.size(), &length);
      if (r < 0 || length != firstLength || output != first) ++mergeDifferences;
    }
  });
  std::thread identifier([&] {
    for (int32_t round = 0; round < kRounds; ++round) {
      int32_t index = -1;
      int32_t status = kTemplatesNoMatch;
      MatchTemplates(sample.data(), references.data(), static_cast<int32_t>(references.size()), &index, &status);
      if (status != kTemplatesMatchFound || index != 4) ++searchDifferences;
    }
  });
  merger.join();
  identifier.join();
  EXPECT_EQ(mergeDifferences, 0);
  EXPECT_EQ(searchDifferences, 0);
  ReleaseEngine();
}

}  // namespace
}  // namespace vorsensor::testing
