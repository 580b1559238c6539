// The services from several threads at once, and the parallel search against
// the sequential one. Runs under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/result_codes.h"
#include "services/match_templates.h"
#include "services/parallel_identify.h"
#include "services/verification.h"
#include "template_helpers.h"

namespace vorsensor::testing {
namespace {

constexpr int kRounds = 20;

class EngineStarted : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(InitEngine(), 0);
    TestRandom random(99);
    const FingerTrio trio = MakeFingerTrio(random, -5, 4, 11);
    finger_ = RecordOf(*trio.finger);
    impression_ = RecordOf(*trio.impression);
    other_ = RecordOf(*trio.other);
  }
  void TearDown() override { ReleaseEngine(); }

  RecordBytes finger_{};
  RecordBytes impression_{};
  RecordBytes other_{};
};

// MatchTemplates' answer as Identify gives it.
int32_t Search(const SealedBytes& sample, const std::vector<const uint8_t*>& list,
               EngineConfiguration* engine = nullptr) {
  int32_t index = 0;
  int32_t status = kTemplatesNoMatch;
  MatchTemplates(sample.data(), list.data(), static_cast<int32_t>(list.size()), &index, &status, engine);
  return status == kTemplatesMatchFound ? index : -1;
}

TEST_F(EngineStarted, VerificationsAndSearchesOnTwoThreads) {
  const SealedBytes finger = Seal(finger_);
  const SealedBytes impression = Seal(impression_);
  const SealedBytes other = Seal(other_);
  std::atomic<int> wrong{0};
  // Verification and search on the engine's own configuration, each thread
  // with answers of its own that another thread's comparison must not change.
  auto worker = [&](const SealedBytes& sample, const std::vector<const uint8_t*>& one,
                    const std::vector<const uint8_t*>& many, int32_t oneAnswer, int32_t manyAnswer) {
    for (int i = 0; i < kRounds; ++i) {
      if (Search(sample, one) != oneAnswer || Search(sample, many) != manyAnswer) {
        ++wrong;
      }
    }
  };
  std::thread a(worker, std::cref(impression), std::vector<const uint8_t*>{finger.data()},
                std::vector<const uint8_t*>{other.data(), finger.data()}, 0, 1);
  std::thread b(worker, std::cref(other), std::vector<const uint8_t*>{finger.data()},
                std::vector<const uint8_t*>{finger.data(), impression.data(), other.data()}, -1, 2);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(EngineStarted, LoadedSampleUsersAreSerialised) {
  // Two threads load, use and unload the engine's one sample. Each step is
  // either refused with kSampleInUse or gives the right answer, and a match
  // never runs on a freed or half-prepared workspace.
  std::atomic<int> wrong{0};
  std::atomic<int> loads{0};
  auto worker = [&](const RecordBytes& probe, const RecordBytes& genuine) {
    for (int i = 0; i < kRounds; ++i) {
      const int32_t loaded = LoadSample(probe.data(), nullptr);
      if (loaded == kSampleInUse) {
        continue;
      }
      ++loads;
      if (loaded != 0) {
        ++wrong;
        continue;
      }
      // The other thread may not unload a sample it did not load: it sees
      // kSampleInUse from LoadSample and keeps away from UnloadSample.
      if (MatchLoadedSample(genuine.data(), nullptr, nullptr) != 0) {
        ++wrong;
      }
      if (VerifyRecords(probe.data(), genuine.data(), nullptr, nullptr) != kSampleInUse) {
        ++wrong;
      }
      if (UnloadSample(nullptr) != 0) {
        ++wrong;
      }
    }
  };
  std::thread a(worker, std::cref(finger_), std::cref(impression_));
  std::thread b(worker, std::cref(impression_), std::cref(finger_));
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(loads.load(), 0);
}

TEST(ParallelIdentify, GivesTheSequentialAnswer) {
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  TestRandom random(2024);
  const auto finger = MakeFinger(random);
  const SealedBytes probe = Seal(RecordOf(*finger));
  RecordBytes malformed{};
  malformed.fill(0xFF);  // flags above 31
  // Galleries of other fingers with impressions of the probe's finger (and
  // unreadable records) at the given positions.
  const std::vector<std::vector<int32_t>> layouts = {{}, {0}, {37}, {70, 71}, {12, 50, 69}};
  for (const auto& layout : layouts) {
    std::vector<SealedBytes> gallery;
    for (int32_t k = 0; k < 72; ++k) {
      gallery.push_back(Seal(k % 9 == 4 ? malformed : RecordOf(*MakeFinger(random))));
    }
    for (const int32_t p : layout) {
      gallery[static_cast<size_t>(p)] = Seal(RecordOf(*MakeImpression(*finger, random, random.Range(-8, 8), 6, -9)));
    }
    std::vector<const uint8_t*> list;
    for (const SealedBytes& s : gallery) list.push_back(s.data());
    const int32_t expected = layout.empty() ? -1 : layout.front();
    EXPECT_EQ(Search(probe, list, &config), expected);
    const SealedTemplateSource source = [&gallery](int32_t k, uint8_t* sealed) {
      std::copy(gallery[static_cast<size_t>(k)].begin(), gallery[static_cast<size_t>(k)].end(), sealed);
      return true;
    };
    for (const int32_t threads : {1, 2, 3, 0}) {
      int32_t index = -7;
      int32_t status = kTemplatesNoMatch;
      ASSERT_EQ(IdentifyParallel(probe.data(), 72, source, threads, &index, &status, &config), 1);
      EXPECT_EQ(status == kTemplatesMatchFound ? index : -1, expected) << "threads " << threads;
    }
    // A sample that cannot be prepared stops the search, as in MatchTemplates.
    int32_t index = 0;
    int32_t status = kTemplatesNoMatch;
    EXPECT_EQ(IdentifyParallel(Seal(malformed).data(), 72, source, 2, &index, &status, &config), 0);
    EXPECT_EQ(status, kTemplatesSampleUnusable);
  }
}

}  // namespace
}  // namespace vorsensor::testing
