// Engine start/stop by reference count, the configuration defaults and the
// release of a sample left loaded when the engine stops.
#include "engine/engine_configuration.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/result_codes.h"
#include "engine_test_helpers.h"
#include "engine/scanner_profiles.h"

namespace vorsensor {
namespace {

// Each test starts and ends with the engine stopped and no releaser.
class EngineStateTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(EngineConfig(), nullptr) << "engine left started by an earlier test"; }
  void TearDown() override {
    while (ReleaseEngine() > 0) {
    }
    SetLoadedSampleReleaser(nullptr);
  }
};

MatchWorkspace* released = nullptr;
int releaseCalls = 0;
void RecordRelease(MatchWorkspace* sample) {
  released = sample;
  ++releaseCalls;
}

TEST_F(EngineStateTest, StartsAndStopsByReferenceCount) {
  EXPECT_EQ(ReleaseEngine(), kEngineStopped);
  EXPECT_EQ(EngineConfig(), nullptr);
  EXPECT_EQ(ResolveConfiguration(nullptr), nullptr);
  EXPECT_EQ(SelectScannerProfile(0, nullptr), kEngineStopped);
  EXPECT_EQ(SetProfileMode(kProfileModeStandard, nullptr), kEngineStopped);

  EXPECT_EQ(InitEngine(), 0);
  EngineConfiguration* config = EngineConfig();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(InitEngine(), 1);
  EXPECT_EQ(EngineConfig(), config);  // the second start shares the first one's configuration
  EXPECT_EQ(ResolveConfiguration(nullptr), config);

  EXPECT_EQ(ReleaseEngine(), 1);
  EXPECT_EQ(EngineConfig(), config);
  EXPECT_EQ(ReleaseEngine(), 0);
  EXPECT_EQ(EngineConfig(), nullptr);
  EXPECT_EQ(ReleaseEngine(), kEngineStopped);

  EngineConfiguration own = testing::DefaultConfiguration();
  EXPECT_EQ(ResolveConfiguration(&own), &own);  // a given configuration works without a start
}

TEST_F(EngineStateTest, EveryStartAfterAFullStopHasTheDefaults) {
  ASSERT_EQ(InitEngine(), 0);
  // Change fields of every group, stop, start again.
  ASSERT_EQ(SelectScannerProfile(100000, nullptr), kOk);
  ASSERT_EQ(SetProfileMode(kProfileModeWide, nullptr), kOk);
  EngineConfig()->verifyThreshold = 1;
  EngineConfig()->exportBlockMap = 1;
  EngineConfig()->useBlockMap = 1;
  ASSERT_EQ(ReleaseEngine(), 0);
  ASSERT_EQ(InitEngine(), 0);
  EngineConfiguration expected = testing::DefaultConfiguration();
  EngineConfiguration* restarted = EngineConfig();
  EXPECT_EQ(std::memcmp(restarted, &expected, sizeof expected), 0);
}

TEST_F(EngineStateTest, LastStopReleasesTheLoadedSample) {
  int token = 0;
  MatchWorkspace* sample = reinterpret_cast<MatchWorkspace*>(&token);
  released = nullptr;
  releaseCalls = 0;
  SetLoadedSampleReleaser(&RecordRelease);

  ASSERT_EQ(InitEngine(), 0);
  ASSERT_EQ(InitEngine(), 1);
  EngineConfig()->loadedSample = sample;
  EngineConfig()->sampleLoaded = 1;
  EXPECT_EQ(ReleaseEngine(), 1);
  EXPECT_EQ(releaseCalls, 0);  // still in use by the other start
  EXPECT_EQ(ReleaseEngine(), 0);
  EXPECT_EQ(releaseCalls, 1);
  EXPECT_EQ(released, sample);

  // No sample loaded: nothing to release.
  ASSERT_EQ(InitEngine(), 0);
  EXPECT_EQ(ReleaseEngine(), 0);
  EXPECT_EQ(releaseCalls, 1);

  // No releaser registered: the stop still succeeds.
  SetLoadedSampleReleaser(nullptr);
  ASSERT_EQ(InitEngine(), 0);
  EngineConfig()->loadedSample = sample;
  EXPECT_EQ(ReleaseEngine(), 0);
  EXPECT_EQ(releaseCalls, 1);
}

}  // namespace
}  // namespace vorsensor

namespace vorsensor {
namespace {

// Every scanner profile in both modes passes; each refused combination is
// refused exactly from its limit on, and only while the stage it hampers runs.
TEST(CheckExtractionParameters, ProfilesPassAndEachLimitHolds) {
  for (const ScannerProfile& profile : kScannerProfiles) {
    for (uint32_t mode : {kProfileModeWide, kProfileModeStandard}) {
      EngineConfiguration c = testing::DefaultConfiguration();
      ASSERT_EQ(SelectScannerProfile(profile.id, &c), kOk);
      ASSERT_EQ(SetProfileMode(mode, &c), kOk);
      EXPECT_EQ(CheckExtractionParameters(c), kOk) << profile.id;
    }
  }
  EngineConfiguration defaults = testing::DefaultConfiguration();
  struct Case {
    const char* what;
    void (*change)(EngineConfiguration&);
    int32_t expected;
  };
  const Case cases[] = {
      {"base + range 7", [](EngineConfiguration& c) { c.refinePassesBase = 3, c.refinePassesRange = 4; }, kOk},
      {"base + range 8", [](EngineConfiguration& c) { c.refinePassesBase = 4, c.refinePassesRange = 4; },
       kInvalidConfiguration},
      {"range 8", [](EngineConfiguration& c) { c.refinePassesRange = 8; }, kInvalidConfiguration},
      {"base + range wrapping 32 bits",
       [](EngineConfiguration& c) { c.refinePassesBase = 0xFFFFFFFFu, c.refinePassesRange = 1; },
       kInvalidConfiguration},
      {"smoothing radius 5", [](EngineConfiguration& c) { c.ridgeSmoothRadius = 5; }, kOk},
      {"smoothing radius 4", [](EngineConfiguration& c) { c.ridgeSmoothRadius = 4; }, kInvalidConfiguration},
      {"smoothing radius 4 without passes",
       [](EngineConfiguration& c) { c.ridgeSmoothRadius = 4, c.ridgeSmoothPasses = 0; }, kOk},
      {"variation high = low + 1", [](EngineConfiguration& c) { c.refineVariationHigh = 21; }, kOk},
      {"variation high = low", [](EngineConfiguration& c) { c.refineVariationHigh = 20; }, kInvalidConfiguration},
      {"variation high below low", [](EngineConfiguration& c) { c.refineVariationHigh = 10; },
       kInvalidConfiguration},
      {"variation high = low, gradient refresh",
       [](EngineConfiguration& c) { c.refineVariationHigh = 20, c.refineMethod = 0; }, kOk},
      {"variation high = low, no refresh",
       [](EngineConfiguration& c) { c.refineVariationHigh = 20, c.refinePassesRange = 0; }, kOk},
  };
  for (const Case& k : cases) {
    EngineConfiguration c = defaults;
    k.change(c);
    EXPECT_EQ(CheckExtractionParameters(c), k.expected) << k.what;
  }
}

}  // namespace
}  // namespace vorsensor
