// The verification and identification services on records and sealed
// templates: VerifyRecords, the loaded sample, MatchTemplates and BestScore.
#include <gtest/gtest.h>

#include <iterator>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/result_codes.h"
#include "services/best_score.h"
#include "services/match_templates.h"
#include "services/verification.h"
#include "template_helpers.h"

namespace vorsensor::testing {
namespace {

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDefaultConfiguration(&config_);
    TestRandom random(4711);
    const FingerTrio trio = MakeFingerTrio(random, 6, 9, -7);
    finger_ = RecordOf(*trio.finger);
    impression_ = RecordOf(*trio.impression);
    other_ = RecordOf(*trio.other);
    malformed_.fill(0xFF);  // flags above 31
  }
  void TearDown() override {
    if (config_.sampleLoaded != 0) {
      UnloadSample(&config_);
    }
  }

  // MatchTemplates on sealed copies of the records, with the caller's
  // starting values index 0 and status 1.
  struct Answer {
    int32_t ran;
    int32_t index;
    int32_t status;
  };
  Answer Match(const RecordBytes& sample, const std::vector<const RecordBytes*>& references,
               EngineConfiguration* engine) {
    const SealedBytes sealedSample = Seal(sample);
    std::vector<SealedBytes> sealed;
    for (const RecordBytes* r : references) {
      sealed.push_back(Seal(*r));
    }
    std::vector<const uint8_t*> list;
    for (const SealedBytes& s : sealed) {
      list.push_back(s.data());
    }
    Answer answer{0, 0, kTemplatesNoMatch};
    answer.ran = MatchTemplates(sealedSample.data(), list.empty() ? nullptr : list.data(),
                                static_cast<int32_t>(list.size()), &answer.index, &answer.status, engine);
    return answer;
  }

  EngineConfiguration config_{};
  RecordBytes finger_{};
  RecordBytes impression_{};
  RecordBytes other_{};
  RecordBytes malformed_{};
};

TEST_F(ServicesTest, VerifyRecordsAnswersMatchNoMatchAndReaderErrors) {
  EXPECT_EQ(VerifyRecords(finger_.data(), impression_.data(), nullptr, &config_), 0);
  EXPECT_EQ(VerifyRecords(impression_.data(), finger_.data(), nullptr, &config_), 0);
  EXPECT_EQ(VerifyRecords(finger_.data(), other_.data(), nullptr, &config_), -1);
  EXPECT_EQ(VerifyRecords(finger_.data(), malformed_.data(), nullptr, &config_), kMalformedRecord);
  EXPECT_EQ(VerifyRecords(malformed_.data(), finger_.data(), nullptr, &config_), kMalformedRecord);
  // The short details receive the score of the comparison.
  MatchDetails details{};
  details.size = kDetailsShortSize;
  EXPECT_EQ(VerifyRecords(finger_.data(), finger_.data(), &details, &config_), 0);
  EXPECT_GE(details.score, 48);
  details.size = 21;
  EXPECT_EQ(VerifyRecords(finger_.data(), finger_.data(), &details, &config_), kOutOfRange);
}

// Verification and enrolment have a rotation tolerance and a threshold each,
// equal by default; every service here must read the verification ones, and
// a score equal to the threshold matches.
TEST_F(ServicesTest, ServicesReadTheVerificationToleranceAndThresholdNotTheEnrolmentOnes) {
  TestRandom random(99);
  const FingerTrio turned = MakeFingerTrio(random, 40, 5, -5);  // a sixth of a turn
  const RecordBytes finger = RecordOf(*turned.finger);
  const RecordBytes impression = RecordOf(*turned.impression);
  const uint32_t genuine = static_cast<uint32_t>(BestScore(finger.data(), impression.data(), &config_));
  ASSERT_GE(genuine, 48u);
  const struct {
    uint32_t verifyTolerance, enrolTolerance, verifyThreshold, enrolThreshold;
    bool match;
  } cases[] = {{120, 0, 48, 255, true},
               {0, 120, 48, 0, false},
               {120, 120, genuine, genuine + 1, true},
               {120, 120, genuine + 1, 0, false}};
  for (const auto& c : cases) {
    config_.verifyRotationTolerance = c.verifyTolerance;
    config_.enrolRotationTolerance = c.enrolTolerance;
    config_.verifyThreshold = c.verifyThreshold;
    config_.enrolThreshold = c.enrolThreshold;
    SCOPED_TRACE(::testing::Message() << c.verifyTolerance << " " << c.enrolTolerance << " " << c.verifyThreshold
                                      << " " << c.enrolThreshold);
    EXPECT_EQ(VerifyRecords(finger.data(), impression.data(), nullptr, &config_), c.match ? 0 : -1);
    EXPECT_EQ(Match(finger, {&impression}, &config_).status, c.match ? kTemplatesMatchFound : kTemplatesNoMatch);
    EXPECT_EQ(Match(finger, {&other_, &impression}, &config_).status,
              c.match ? kTemplatesMatchFound : kTemplatesNoMatch);
    // The best score has no threshold; rotation 40 is outside a verification tolerance of 0.
    const int32_t score = BestScore(finger.data(), impression.data(), &config_);
    if (c.verifyTolerance == 0) {
      EXPECT_LT(score, 48);
    } else {
      EXPECT_EQ(score, static_cast<int32_t>(genuine));
    }
  }
}

TEST_F(ServicesTest, LoadedSampleLifecycle) {
  EXPECT_EQ(MatchLoadedSample(finger_.data(), nullptr, &config_), kSampleInUse);
  EXPECT_EQ(UnloadSample(&config_), kSampleInUse);
  // A record the reader rejects leaves nothing loaded.
  EXPECT_EQ(LoadSample(malformed_.data(), &config_), kMalformedRecord);
  EXPECT_EQ(config_.sampleLoaded, 0u);
  EXPECT_EQ(config_.loadedSample, nullptr);

  ASSERT_EQ(LoadSample(finger_.data(), &config_), 0);
  EXPECT_EQ(config_.sampleLoaded, 1u);
  EXPECT_EQ(LoadSample(other_.data(), &config_), kSampleInUse);
  EXPECT_EQ(VerifyRecords(finger_.data(), impression_.data(), nullptr, &config_), kSampleInUse);
  EXPECT_EQ(MatchLoadedSample(impression_.data(), nullptr, &config_), 0);
  EXPECT_EQ(MatchLoadedSample(other_.data(), nullptr, &config_), -1);
  EXPECT_EQ(MatchLoadedSample(malformed_.data(), nullptr, &config_), kMalformedRecord);
  // The probe survives the comparisons.
  EXPECT_EQ(MatchLoadedSample(impression_.data(), nullptr, &config_), 0);

  EXPECT_EQ(UnloadSample(&config_), 0);
  EXPECT_EQ(config_.sampleLoaded, 0u);
  EXPECT_EQ(config_.loadedSample, nullptr);
  EXPECT_EQ(UnloadSample(&config_), kSampleInUse);
  EXPECT_EQ(VerifyRecords(finger_.data(), impression_.data(), nullptr, &config_), 0);
}

TEST_F(ServicesTest, StoppedEngineIsRefused) {
  if (EngineConfig() != nullptr) {
    GTEST_SKIP() << "the engine is started by another test";
  }
  EXPECT_EQ(VerifyRecords(finger_.data(), finger_.data(), nullptr, nullptr), kEngineStopped);
  EXPECT_EQ(LoadSample(finger_.data(), nullptr), kEngineStopped);
  EXPECT_EQ(MatchLoadedSample(finger_.data(), nullptr, nullptr), kEngineStopped);
  EXPECT_EQ(UnloadSample(nullptr), kEngineStopped);
  EXPECT_EQ(BestScore(finger_.data(), finger_.data(), nullptr), kEngineStopped);
  // Verification: no match; search: the sample cannot be prepared.
  const Answer one = Match(finger_, {&finger_}, nullptr);
  EXPECT_EQ(one.ran, 1);
  EXPECT_EQ(one.status, kTemplatesNoMatch);
  const Answer two = Match(finger_, {&finger_, &finger_}, nullptr);
  EXPECT_EQ(two.ran, 0);
  EXPECT_EQ(two.status, kTemplatesSampleUnusable);
}

TEST_F(ServicesTest, TheEnginesOwnConfigurationServesNullEngine) {
  ASSERT_GE(InitEngine(), 0);
  EXPECT_EQ(VerifyRecords(impression_.data(), finger_.data(), nullptr, nullptr), 0);
  ASSERT_EQ(LoadSample(finger_.data(), nullptr), 0);
  EXPECT_EQ(MatchLoadedSample(impression_.data(), nullptr, nullptr), 0);
  // A sample left loaded is released with the engine (checked by the leak checker).
  ReleaseEngine();
}

// One reference is a verification: a sample the reader rejects is simply no
// match. More are a search: it passes over references the reader rejects and
// stops with kTemplatesSampleUnusable on such a sample. An empty list keeps
// the caller's status; the sample is still prepared.
TEST_F(ServicesTest, MatchTemplatesVerificationAndSearchPaths) {
  const struct {
    const RecordBytes* sample;
    std::vector<const RecordBytes*> references;
    Answer answer;
  } cases[] = {
      {&impression_, {&finger_}, {1, 0, kTemplatesMatchFound}},
      {&impression_, {&other_}, {1, 0, kTemplatesNoMatch}},
      {&malformed_, {&finger_}, {1, 0, kTemplatesNoMatch}},
      {&malformed_, {&finger_, &finger_}, {0, 0, kTemplatesSampleUnusable}},
      {&impression_, {&other_, &finger_, &finger_}, {1, 1, kTemplatesMatchFound}},
      {&impression_, {&malformed_, &other_, &finger_}, {1, 2, kTemplatesMatchFound}},
      {&impression_, {&other_, &malformed_}, {1, 0, kTemplatesNoMatch}},
      {&impression_, {}, {1, 0, kTemplatesNoMatch}},
      {&malformed_, {}, {0, 0, kTemplatesSampleUnusable}},
  };
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Answer got = Match(*cases[k].sample, cases[k].references, &config_);
    EXPECT_EQ(got.ran, cases[k].answer.ran) << "case " << k;
    EXPECT_EQ(got.index, cases[k].answer.index) << "case " << k;
    EXPECT_EQ(got.status, cases[k].answer.status) << "case " << k;
  }
  // The search leaves no sample loaded behind.
  EXPECT_EQ(config_.sampleLoaded, 0u);
  EXPECT_EQ(config_.loadedSample, nullptr);
}

TEST_F(ServicesTest, SearchDoesNotNeedTheEnginesLoadedSample) {
  // Another user holds the loaded sample: verification refuses as it must,
  // the search keeps its prepared sample to itself and still answers.
  ASSERT_EQ(LoadSample(other_.data(), &config_), 0);
  EXPECT_EQ(Match(impression_, {&finger_}, &config_).status, kTemplatesNoMatch);
  const Answer search = Match(impression_, {&other_, &finger_}, &config_);
  EXPECT_EQ(search.status, kTemplatesMatchFound);
  EXPECT_EQ(search.index, 1);
  EXPECT_EQ(MatchLoadedSample(other_.data(), nullptr, &config_), 0);
}

TEST_F(ServicesTest, BestScoreIsGraded) {
  const int32_t same = BestScore(finger_.data(), finger_.data(), &config_);
  const int32_t genuine = BestScore(finger_.data(), impression_.data(), &config_);
  const int32_t impostor = BestScore(finger_.data(), other_.data(), &config_);
  EXPECT_GE(genuine, 48);
  EXPECT_GT(same, genuine);
  EXPECT_LT(impostor, 48);
  EXPECT_GE(impostor, 0);
  EXPECT_EQ(BestScore(finger_.data(), malformed_.data(), &config_), kMalformedRecord);
  EXPECT_EQ(BestScore(nullptr, finger_.data(), &config_), kMissingArgument);
  // The sealed form gives the same score.
  const SealedBytes a = Seal(finger_);
  const SealedBytes b = Seal(impression_);
  EXPECT_EQ(BestScoreOfTemplates(a.data(), b.data(), &config_), genuine);
}

}  // namespace
}  // namespace vorsensor::testing
