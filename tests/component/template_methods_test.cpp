// Verify and Identify on template texts: answers on genuine and impostor
// templates, and garbage texts that must neither crash nor match.
#include "component/template_methods.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_configuration.h"
#include "services/template_helpers.h"

namespace vorsensor::testing {
namespace {

class TemplateMethodsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDefaultConfiguration(&config_);
    TestRandom random(31337);
    const FingerTrio trio = MakeFingerTrio(random, -7, -12, 5);
    finger_ = TextOf(*trio.finger);
    impression_ = TextOf(*trio.impression);
    other_ = TextOf(*trio.other);
    third_ = TextOf(*MakeFinger(random));
  }

  // Texts that are not sealed templates of this component: wrong lengths,
  // characters that are not hexadecimal digits, and hexadecimal digits of
  // random bytes (1000 of them among others).
  static std::vector<std::string> GarbageTexts() {
    std::vector<std::string> texts = {"", "0", "0A", "-1-1-1-1", std::string(5000, 'F'), std::string(1000, 'Z'),
                                      std::string(1000, ' '), std::string(1000, '0')};
    std::string mixed;
    for (int i = 0; i < 250; ++i) mixed += "G7x-";
    texts.push_back(mixed);
    TestRandom random(8);
    for (int i = 0; i < 40; ++i) {
      const size_t count = i % 2 == 0 ? 500 : static_cast<size_t>(random.Range(1, 1100));
      std::vector<uint8_t> bytes(count);
      for (uint8_t& b : bytes) b = random.Byte();
      texts.push_back(HexOf(bytes.data(), bytes.size()));
    }
    return texts;
  }

  EngineConfiguration config_{};
  std::string finger_;
  std::string impression_;
  std::string other_;
  std::string third_;
};

TEST_F(TemplateMethodsTest, VerifyAnswers) {
  EXPECT_EQ(Verify(finger_, impression_, &config_), 1);
  EXPECT_EQ(Verify(impression_, finger_, &config_), 1);
  EXPECT_EQ(Verify(finger_, finger_, &config_), 1);
  EXPECT_EQ(Verify(finger_, other_, &config_), 0);
  // The decoder accepts lower-case digits.
  std::string lower = impression_;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Verify(finger_, lower, &config_), 1);
}

TEST_F(TemplateMethodsTest, IdentifyAnswers) {
  EXPECT_EQ(Identify(impression_, {other_, finger_, finger_}, &config_), 1);
  EXPECT_EQ(Identify(impression_, {finger_}, &config_), 0);
  EXPECT_EQ(Identify(impression_, {other_}, &config_), -1);
  EXPECT_EQ(Identify(impression_, {other_, third_}, &config_), -1);
  EXPECT_EQ(Identify(impression_, {}, &config_), -1);
  EXPECT_EQ(Identify(impression_, {"", "12", other_, impression_}, &config_), 3);
  // The parallel search on texts gives the same answers.
  EXPECT_EQ(IdentifyParallel(impression_, {other_, finger_, finger_}, 2, &config_), 1);
  EXPECT_EQ(IdentifyParallel(impression_, {other_, third_}, 2, &config_), -1);
  EXPECT_EQ(IdentifyParallel(impression_, {}, 2, &config_), -1);
}

TEST_F(TemplateMethodsTest, BestScoreTakesVerifysRoles) {
  const int32_t genuine = BestScoreOfTexts(finger_, impression_, &config_);
  EXPECT_GE(genuine, 48);
  EXPECT_LT(BestScoreOfTexts(finger_, other_, &config_), 48);
  EXPECT_LT(BestScoreOfTexts("", finger_, &config_), 0);
}

TEST_F(TemplateMethodsTest, GarbageNeverMatches) {
  for (const std::string& garbage : GarbageTexts()) {
    SCOPED_TRACE(garbage.substr(0, 40));
    EXPECT_EQ(Verify(garbage, finger_, &config_), 0);
    EXPECT_EQ(Verify(finger_, garbage, &config_), 0);
    EXPECT_EQ(Verify(garbage, garbage, &config_), 0);
    EXPECT_EQ(Identify(garbage, {finger_, other_}, &config_), -1);
    EXPECT_EQ(Identify(finger_, {garbage}, &config_), -1);
    EXPECT_EQ(Identify(finger_, {garbage, garbage, other_}, &config_), -1);
  }
}

TEST_F(TemplateMethodsTest, StoppedEngineNeverMatches) {
  if (EngineConfig() != nullptr) {
    GTEST_SKIP() << "the engine is started by another test";
  }
  EXPECT_EQ(Verify(finger_, finger_), 0);
  EXPECT_EQ(Identify(finger_, {finger_}), -1);
  EXPECT_EQ(Identify(finger_, {other_, finger_}), -1);
}

}  // namespace
}  // namespace vorsensor::testing
