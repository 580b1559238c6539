// Scanner profile selection and profile modes on private configurations.
#include "engine/scanner_profiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "engine/engine_configuration.h"
#include "engine/result_codes.h"

namespace vorsensor {
namespace {

void ExpectHalf(const EngineConfiguration& c, const ProfileHalf& half, bool pairDistanceFromHalf) {
  if (pairDistanceFromHalf) {
    EXPECT_EQ(c.pairMaxDistance, static_cast<uint32_t>(half.pairMaxDistance));
  }
  for (int i = 0; i < kFeatureNormaliserCount; ++i) {
    EXPECT_EQ(c.featureNormalisers[i], static_cast<uint32_t>(half.featureNormalisers[i])) << i;
  }
  for (int i = 0; i < kContextNormaliserCount; ++i) {
    EXPECT_EQ(c.contextNormalisers[i], static_cast<uint32_t>(half.contextNormalisers[i])) << i;
  }
}

TEST(ScannerProfileTable, HasTwentyOneDistinctProfilesInTableOrder) {
  std::set<int32_t> ids;
  std::set<std::string> names;
  for (const ScannerProfile& p : kScannerProfiles) {
    ids.insert(p.id);
    names.insert(p.name);
    // The standard mode pairs minutiae at half the wide mode's distance.
    EXPECT_EQ(p.wide.pairMaxDistance, 2 * p.standard.pairMaxDistance) << p.id;
  }
  EXPECT_EQ(ids.size(), 21u);
  EXPECT_EQ(names.size(), 21u);
  EXPECT_STREQ(kScannerProfiles[0].name, "General");
  EXPECT_STREQ(FindScannerProfile(100)->name, "DigitalPersona U.are.U");
  EXPECT_EQ(FindScannerProfile(2), nullptr);
  // Rows that share their data.
  EXPECT_EQ(std::memcmp(&FindScannerProfile(800)->wide, &FindScannerProfile(810)->wide, sizeof(ProfileHalf)), 0);
  EXPECT_EQ(std::memcmp(&FindScannerProfile(0)->standard, &FindScannerProfile(1200)->standard, sizeof(ProfileHalf)), 0);
}

TEST(SelectScannerProfile, EveryProfileTakesItsHalfInBothModes) {
  for (const ScannerProfile& p : kScannerProfiles) {
    for (uint32_t mode : {kProfileModeStandard, kProfileModeWide}) {
      EngineConfiguration c;
      SetDefaultConfiguration(&c);
      ASSERT_EQ(SetProfileMode(mode, &c), kOk);
      ASSERT_EQ(SelectScannerProfile(p.id, &c), kOk) << p.id;
      EXPECT_EQ(c.scannerId, p.id);
      EXPECT_EQ(c.profileMode, mode);  // selection keeps the mode
      ExpectHalf(c, mode == kProfileModeWide ? p.wide : p.standard, c.refinedMode == 0);
      EXPECT_EQ(c.probePairLimit, mode == kProfileModeWide ? 700u : 150u);
      EXPECT_EQ(c.samplePairLimit, mode == kProfileModeWide ? 1400u : 300u);
    }
  }
}

TEST(SelectScannerProfile, AppliesOverridesAndRefinedModeKeepsItsPairDistance) {
  EngineConfiguration c;
  SetDefaultConfiguration(&c);
  ASSERT_EQ(SelectScannerProfile(200402, &c), kOk);  // extraction of 100, matching of 1
  EXPECT_EQ(c.trimBorders, 1u);
  EXPECT_EQ(c.gradientEnergyMin, 80);
  EXPECT_EQ(c.coherenceMin, 70);
  EXPECT_EQ(c.refineRadius, 20u);
  EXPECT_EQ(c.refinedMode, 1u);
  EXPECT_EQ(c.pairMaxDistance, 150u);
  EXPECT_EQ(c.distanceTolerance, 13u);
  EXPECT_EQ(c.angleTolerance, 9u);
  EXPECT_EQ(c.typeBoost, 1400u);
  ASSERT_EQ(SetProfileMode(kProfileModeWide, &c), kOk);
  EXPECT_EQ(c.pairMaxDistance, 150u);  // not the half's 120
  ExpectHalf(c, FindScannerProfile(200402)->wide, false);

  ASSERT_EQ(SelectScannerProfile(100000, &c), kOk);
  EXPECT_EQ(c.levelBackground, 1u);
  EXPECT_EQ(c.orientMethod, 1u);
  EXPECT_EQ(c.pixelVariationMax, 160);
  EXPECT_EQ(c.distanceTolerance, 14u);
  EXPECT_EQ(c.trimBorders, 0u);  // the previous profile's override is gone

  ASSERT_EQ(SelectScannerProfile(700, &c), kOk);
  EXPECT_EQ(c.densityHigh, 147);
  EXPECT_EQ(c.densityLow, 126);
  EXPECT_EQ(c.refinedMode, 0u);
  EXPECT_EQ(c.pairMaxDistance, 160u);  // wide half of 700: the mode stays wide
}

TEST(SelectScannerProfile, ResetsOnlyProfileFieldsAndBackToDefaults) {
  EngineConfiguration defaults;
  SetDefaultConfiguration(&defaults);
  EngineConfiguration c;
  SetDefaultConfiguration(&c);
  ASSERT_EQ(SelectScannerProfile(100000, &c), kOk);
  c.exportBlockMap = 1;   // not a profile field: survives a selection
  c.verifyThreshold = 7;  // nor this
  c.minImageSide = 32;
  ASSERT_EQ(SelectScannerProfile(0, &c), kOk);
  EXPECT_EQ(c.exportBlockMap, 1u);
  EXPECT_EQ(c.verifyThreshold, 7u);
  EXPECT_EQ(c.minImageSide, 32u);
  c.exportBlockMap = defaults.exportBlockMap;
  c.verifyThreshold = defaults.verifyThreshold;
  c.minImageSide = defaults.minImageSide;
  EXPECT_EQ(std::memcmp(&c, &defaults, sizeof c), 0);
}

TEST(SelectScannerProfile, UnknownIdOrModeChangesNothing) {
  EngineConfiguration c;
  SetDefaultConfiguration(&c);
  ASSERT_EQ(SelectScannerProfile(1, &c), kOk);
  EngineConfiguration before;
  std::memcpy(&before, &c, sizeof c);
  EXPECT_EQ(SelectScannerProfile(2, &c), kOutOfRange);
  EXPECT_EQ(SelectScannerProfile(-1, &c), kOutOfRange);
  EXPECT_EQ(SetProfileMode(1, &c), kOutOfRange);
  EXPECT_EQ(SetProfileMode(255, &c), kOutOfRange);
  EXPECT_EQ(std::memcmp(&c, &before, sizeof c), 0);
}

TEST(SetProfileMode, SwitchesHalvesBackAndForth) {
  EngineConfiguration c;
  SetDefaultConfiguration(&c);
  EngineConfiguration defaults;
  SetDefaultConfiguration(&defaults);
  ASSERT_EQ(SetProfileMode(kProfileModeWide, &c), kOk);
  EXPECT_EQ(c.profileMode, kProfileModeWide);
  EXPECT_EQ(c.pairMaxDistance, 120u);
  ExpectHalf(c, kScannerProfiles[0].wide, true);
  ASSERT_EQ(SetProfileMode(kProfileModeStandard, &c), kOk);
  EXPECT_EQ(std::memcmp(&c, &defaults, sizeof c), 0);
}

TEST(SetProfileMode, UnknownProfileGivesNeutralNormalisers) {
  EngineConfiguration c;
  SetDefaultConfiguration(&c);
  c.scannerId = 424242;  // set directly, not through a selection
  ASSERT_EQ(SetProfileMode(kProfileModeWide, &c), kOk);
  for (uint32_t n : c.featureNormalisers) EXPECT_EQ(n, 1000u);
  for (uint32_t n : c.contextNormalisers) EXPECT_EQ(n, 1000u);
  EXPECT_EQ(c.pairMaxDistance, 60u);  // no half to take it from
  EXPECT_EQ(c.probePairLimit, 700u);
}

}  // namespace
}  // namespace vorsensor
