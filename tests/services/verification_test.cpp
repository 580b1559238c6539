// The verification and identification services on records and sealed
// templates: VerifyRecords, the loaded sample, MatchTemplates and BestScore.
#include <gtest/gtest.h>

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

TEST_F(ServicesTest, ThresholdIsReachedNotExceeded) {
  const int32_t score = BestScore(finger_.data(), impression_.data(), &config_);
  ASSERT_GE(score, 48);
  for (const int32_t threshold : {score, score + 1}) {
    config_.verifyThreshold = static_cast<uint32_t>(threshold);
    const bool match = threshold == score;
    EXPECT_EQ(VerifyRecords(finger_.data(), impression_.data(), nullptr, &config_), match ? 0 : -1);
    EXPECT_EQ(Match(finger_, {&impression_}, &config_).status, match ? kTemplatesMatchFound : kTemplatesNoMatch);
    EXPECT_EQ(Match(finger_, {&other_, &impression_}, &config_).status,
              match ? kTemplatesMatchFound : kTemplatesNoMatch);
  }
}

// Verification and enrolment have a rotation tolerance and a threshold each,
// equal by default; every service here must read the verification ones.
TEST_F(ServicesTest, ServicesReadTheVerificationToleranceAndThresholdNotTheEnrolmentOnes) {
  TestRandom random(99);
  const FingerTrio turned = MakeFingerTrio(random, 40, 5, -5);  // a sixth of a turn
  const RecordBytes finger = RecordOf(*turned.finger);
  const RecordBytes impression = RecordOf(*turned.impression);
  struct Case {
    uint32_t verifyTolerance, enrolTolerance, verifyThreshold, enrolThreshold;
    bool match;
  };
  const uint32_t genuine = static_cast<uint32_t>(BestScore(finger.data(), impression.data(), &config_));
  const Case cases[] = {{120, 0, 48, 255, true}, {0, 120, 48, 0, false}, {120, 120, genuine + 1, 0, false}};
  int32_t scores[3];
  for (int i = 0; i < 3; ++i) {
    const Case& c = cases[i];
    config_.verifyRotationTolerance = c.verifyTolerance;
    config_.enrolRotationTolerance = c.enrolTolerance;
    config_.verifyThreshold = c.verifyThreshold;
    config_.enrolThreshold = c.enrolThreshold;
    EXPECT_EQ(VerifyRecords(finger.data(), impression.data(), nullptr, &config_), c.match ? 0 : -1) << i;
    EXPECT_EQ(Match(finger, {&impression}, &config_).status, c.match ? kTemplatesMatchFound : kTemplatesNoMatch) << i;
    EXPECT_EQ(Match(finger, {&other_, &impression}, &config_).status,
              c.match ? kTemplatesMatchFound : kTemplatesNoMatch)
        << i;
    scores[i] = BestScore(finger.data(), impression.data(), &config_);
  }
  EXPECT_GE(scores[0], 48);
  EXPECT_LT(scores[1], 48);  // rotation 40 is outside a verification tolerance of 0
  EXPECT_EQ(scores[0], static_cast<int32_t>(genuine));
  EXPECT_EQ(scores[2], scores[0]);  // the best score has no threshold
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

TEST_F(ServicesTest, MatchTemplatesVerificationPath) {
  const Answer genuine = Match(impression_, {&finger_}, &config_);
  EXPECT_EQ(genuine.ran, 1);
  EXPECT_EQ(genuine.status, kTemplatesMatchFound);
  EXPECT_EQ(genuine.index, 0);
  const Answer impostor = Match(impression_, {&other_}, &config_);
  EXPECT_EQ(impostor.ran, 1);
  EXPECT_EQ(impostor.status, kTemplatesNoMatch);
  // One reference never prepares the sample as a search would: a sample the
  // reader rejects is simply no match, where the search stops with -2.
  const Answer badSample = Match(malformed_, {&finger_}, &config_);
  EXPECT_EQ(badSample.ran, 1);
  EXPECT_EQ(badSample.status, kTemplatesNoMatch);
  const Answer badSearch = Match(malformed_, {&finger_, &finger_}, &config_);
  EXPECT_EQ(badSearch.ran, 0);
  EXPECT_EQ(badSearch.status, kTemplatesSampleUnusable);
}

TEST_F(ServicesTest, MatchTemplatesSearchPath) {
  const Answer first = Match(impression_, {&other_, &finger_, &finger_}, &config_);
  EXPECT_EQ(first.ran, 1);
  EXPECT_EQ(first.status, kTemplatesMatchFound);
  EXPECT_EQ(first.index, 1);
  // A reference the reader rejects is passed over and the search goes on.
  const Answer skipped = Match(impression_, {&malformed_, &other_, &finger_}, &config_);
  EXPECT_EQ(skipped.status, kTemplatesMatchFound);
  EXPECT_EQ(skipped.index, 2);
  const Answer none = Match(impression_, {&other_, &malformed_}, &config_);
  EXPECT_EQ(none.ran, 1);
  EXPECT_EQ(none.status, kTemplatesNoMatch);
  EXPECT_EQ(none.index, 0);
  // An empty list keeps the caller's status; the sample is still prepared.
  const Answer empty = Match(impression_, {}, &config_);
  EXPECT_EQ(empty.ran, 1);
  EXPECT_EQ(empty.status, kTemplatesNoMatch);
  EXPECT_EQ(Match(malformed_, {}, &config_).status, kTemplatesSampleUnusable);
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
