// Many threads starting and stopping the engine at once keep one consistent
// start count and one configuration at a time.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/result_codes.h"

namespace vorsensor {
namespace {

TEST(EngineStateThreaded, ConcurrentStartsAndStopsStayConsistent) {
  ASSERT_EQ(EngineConfig(), nullptr);
  constexpr int kThreads = 8;
  std::atomic<int> creations{0}, destructions{0}, failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 400; ++i) {
        const int32_t before = InitEngine();
        if (before < 0 || before >= kThreads) ++failures;
        if (before == 0) ++creations;
        // While this start is held the configuration exists and holds the defaults.
        const EngineConfiguration* config = EngineConfig();
        if (config == nullptr || config->verifyThreshold != 48 || config->profileMode != 256) ++failures;
        const int32_t after = ReleaseEngine();
        if (after < 0 || after >= kThreads) ++failures;
        if (after == 0) ++destructions;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GE(creations.load(), 1);
  EXPECT_EQ(creations.load(), destructions.load());  // every configuration made was freed once
  EXPECT_EQ(ReleaseEngine(), kEngineStopped);

  // A start held by this thread keeps one configuration alive throughout.
  ASSERT_EQ(InitEngine(), 0);
  EngineConfiguration* held = EngineConfig();
  threads.clear();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 500; ++i) {
        if (InitEngine() >= 0) ReleaseEngine();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(EngineConfig(), held);
  EXPECT_EQ(ReleaseEngine(), 0);
}

}  // namespace
}  // namespace vorsensor
