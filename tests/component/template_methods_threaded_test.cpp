// The parallel identification on template texts gives Identify's answer, and
// Verify runs on two threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "component/template_methods.h"
#include "engine/engine_configuration.h"
#include "services/template_helpers.h"

namespace vorsensor {
namespace {

using testing::MakeFinger;
using testing::MakeImpression;
using testing::TestRandom;
using testing::TextOf;

TEST(TemplateMethodsThreaded, ParallelIdentifyGivesIdentifysAnswer) {
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  TestRandom random(77);
  const auto finger = MakeFinger(random);
  const std::string probe = TextOf(*finger);
  for (int round = 0; round < 4; ++round) {
    const int32_t size = random.Range(20, 60);
    const int32_t genuineAt = round == 0 ? -1 : random.Range(0, size - 1);
    std::vector<std::string> texts;
    for (int32_t k = 0; k < size; ++k) {
      texts.push_back(k >= genuineAt && genuineAt >= 0 && random.Range(0, 2) == 0
                          ? TextOf(*MakeImpression(*finger, random, random.Range(-6, 6), 3, -4))
                          : TextOf(*MakeFinger(random)));
    }
    if (genuineAt >= 0) {
      texts[static_cast<size_t>(genuineAt)] = TextOf(*MakeImpression(*finger, random, 2, -9, 6));
    }
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    const int32_t sequential = Identify(probe, views, &config);
    EXPECT_EQ(sequential, genuineAt);
    EXPECT_EQ(IdentifyParallel(probe, views, 2, &config), sequential);
    EXPECT_EQ(IdentifyParallel(probe, views, 5, &config), sequential);
  }
}

TEST(TemplateMethodsThreaded, VerifyOnTwoThreads) {
  ASSERT_GE(InitEngine(), 0);
  TestRandom random(12);
  const auto finger = MakeFinger(random);
  const std::string a = TextOf(*finger);
  const std::string b = TextOf(*MakeImpression(*finger, random, 3, 8, 8));
  const std::string c = TextOf(*MakeFinger(random));
  std::atomic<int> wrong{0};
  auto worker = [&](const std::string& x, const std::string& y, int32_t expected) {
    for (int i = 0; i < 20; ++i) {
      if (Verify(x, y) != expected) ++wrong;
    }
  };
  std::thread t1(worker, std::cref(a), std::cref(b), 1);
  std::thread t2(worker, std::cref(a), std::cref(c), 0);
  t1.join();
  t2.join();
  EXPECT_EQ(wrong.load(), 0);
  ReleaseEngine();
}

}  // namespace
}  // namespace vorsensor
