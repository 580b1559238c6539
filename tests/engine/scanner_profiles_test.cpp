// The configuration defaults and every scanner profile, checked against values
// written out here by hand (not read from the product's tables): a wrong number
// in a table, a missing override or a default set twice fails these tests.
#include "engine/scanner_profiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "engine/engine_configuration.h"
#include "engine/result_codes.h"
#include "engine_test_helpers.h"

namespace vorsensor {
namespace {

// Every scalar field with its default (profile 0, profile mode 256).
#define VS_DEFAULTS(X)                                                                                          \
  X(cropToFinger, 0) X(cropLevel, 30) X(trimBorders, 0) X(borderBrightMin, 230) X(borderRowWindow, 5)           \
  X(borderPercentile, 30) X(borderSpread, 2) X(levelBackground, 0) X(presmoothTwice, 0) X(localMeanRadius, 4)   \
  X(contrastRadius, 128) X(postsmoothTwice, 0) X(orientMethod, 0) X(pixelOrientRadius, 12)                       \
  X(gradientEnergyMin, 70) X(segmentRadius, 16) X(coherenceMin, 60) X(singularGuardRadius, 16)                    \
  X(blockFlatnessMax, 17) X(blockVariationMax, 207) X(pixelFlatnessMax, 19) X(pixelVariationMax, 196)            \
  X(singularLocateRadius, 2) X(singularDirectionRadius, 40) X(adaptiveBinarize, 1) X(edgeDensityRadius, 16)     \
  X(edgeDensitySmoothRadius, 16) X(meanRadiusSmall, 3) X(meanRadiusMedium, 5) X(meanRadiusLarge, 7)             \
  X(densityHigh, 130) X(densityLow, 115) X(ridgeSmoothMethod, 0) X(ridgeSmoothRadius, 12)                         \
  X(ridgeSmoothPasses, 2) X(refineMethod, 1) X(refineRadius, 12) X(refineCoherenceHigh, 240)                     \
  X(refineCoherenceLow, 200) X(refineVariationHigh, 30) X(refineVariationLow, 20) X(refinePassesBase, 0)        \
  X(refinePassesRange, 4) X(maxIterations, 6) X(joinTraceMax, 10) X(joinTraceMin, 4) X(joinRadius, 15)          \
  X(joinAngleMin, 110) X(branchTraceMax, 30) X(teeWideAngle, 110) X(spreadWideAngle, 93) X(teeSideHigh, 70)     \
  X(teeSideLow, 50) X(spreadSideLow, 30) X(branchShortLen, 10) X(bridgeMaxLen, 15) X(crossMaxLen, 5)            \
  X(branchKeepLen, 3) X(crossAngleMax, 40) X(endTraceMax, 20) X(endTraceMin, 20) X(forkBranchMin, 10)           \
  X(spreadRadius, 10) X(crowdRadius, 15) X(crowdMaxNeighbours, 5) X(pairDistance, 3) X(forkPairDistance, 6)     \
  X(pairAngleTolerance, 19) X(borderWindow, 10) X(qualityMin, 120) X(qualityMaxDiff, 100) X(exportBlockMap, 0)  \
  X(keepSingularPoints, 0) X(spreadEnabled, 1) X(densityEnabled, 1) X(returnQuality, 1) X(writeBackImage, 1)    \
  X(maxImageSide, 2048) X(minImageSide, 16) X(pairMaxDistance, 60) X(probePairLimit, 150)                        \
  X(samplePairLimit, 300) X(pairMinDistance, 20) X(refinedMode, 0) X(distanceTolerance, 12) X(angleTolerance, 8) \
  X(typeBoost, 1700) X(spreadTolerance, 30) X(densitySlack, 20) X(densityScale, 60) X(normPairs, 50)            \
  X(useType, 1) X(useSpread, 1) X(useDensity, 1) X(useBlockMap, 0) X(useQuality, 0) X(useNormalisers, 1)        \
  X(selectionMode, 2) X(symmetricMode, 0) X(symmetricLow, 20) X(symmetricHigh, 500) X(scaleSearch, 0)           \
  X(scaleMin, 80) X(scaleMax, 130) X(scaleStep, 10) X(rawScore, 0) X(profileMode, 256)                           \
  X(verifyRotationTolerance, 120) X(verifyThreshold, 48) X(enrolRotationTolerance, 120) X(enrolThreshold, 60)   \
  X(scannerId, 0) X(sampleLoaded, 0)

struct Half {
  uint32_t pairMaxDistance;
  uint32_t feature[8];
  uint32_t context[4];
};
struct Profile {
  int32_t id;
  const char* name;
  Half wide;      // profile mode 0
  Half standard;  // profile mode 256
  std::function<void(EngineConfiguration&)> overrides;
};

void Segmentation(EngineConfiguration& c, uint8_t energy, uint8_t coherence) {
  c.gradientEnergyMin = energy;
  c.coherenceMin = coherence;
}
void FineScanner(EngineConfiguration& c) {
  c.trimBorders = 1;
  Segmentation(c, 80, 70);
  c.pixelOrientRadius = 18;
  c.ridgeSmoothRadius = 18;
  c.refineRadius = 20;
}
void Refined(EngineConfiguration& c, uint32_t distance, uint32_t angle) {
  c.pairMaxDistance = 150;
  c.refinedMode = 1;
  c.distanceTolerance = distance;
  c.angleTolerance = angle;
  c.typeBoost = 1400;
}

const Profile kProfiles[] = {
    {0, "General", {120, {270, 326, 402, 487, 210, 253, 309, 369}, {987, 1037, 1153, 1211}},
     {60, {202, 236, 291, 342, 154, 179, 219, 254}, {986, 1035, 1200, 1265}}, [](EngineConfiguration&) {}},
    {1, "General Old", {120, {694, 944, 1180, 1565, 634, 827, 1030, 1358}, {995, 1083, 1184, 1292}},
     {60, {531, 613, 788, 909, 466, 530, 681, 782}, {991, 1047, 1230, 1301}},
     [](EngineConfiguration& c) { Refined(c, 13, 9); }},
    {100000, "FpVTE", {120, {746, 890, 1194, 1458, 663, 785, 1037, 1259}, {998, 1036, 1206, 1265}},
     {60, {527, 600, 789, 907, 454, 511, 680, 752}, {993, 1043, 1287, 1359}},
     [](EngineConfiguration& c) {
       c.levelBackground = 1;
       c.orientMethod = 1;
       c.blockVariationMax = 160;
       c.pixelFlatnessMax = 17;
       c.pixelVariationMax = 160;
       c.ridgeSmoothMethod = 1;
       Refined(c, 14, 9);
     }},
    {200401, "FVC 2004 DB1", {120, {651, 830, 1095, 1410, 576, 719, 940, 1202}, {1000, 1043, 1196, 1250}},
     {60, {495, 593, 753, 924, 425, 507, 630, 777}, {995, 1043, 1264, 1325}},
     [](EngineConfiguration& c) {
       c.cropToFinger = 1;
       Refined(c, 13, 9);
     }},
    {200402, "FVC 2004 DB2", {120, {531, 647, 863, 1078, 466, 566, 753, 913}, {995, 1058, 1146, 1196}},
     {60, {428, 498, 671, 806, 370, 426, 571, 679}, {991, 1043, 1183, 1229}},
     [](EngineConfiguration& c) {
       FineScanner(c);
       Refined(c, 13, 9);
     }},
    {200403, "FVC 2004 DB3", {120, {775, 991, 1236, 1642, 679, 859, 1063, 1401}, {995, 1058, 1215, 1287}},
     {60, {528, 629, 772, 944, 454, 533, 669, 791}, {991, 1048, 1333, 1401}},
     [](EngineConfiguration& c) {
       Segmentation(c, 80, 40);
       Refined(c, 13, 9);
     }},
    {200404, "FVC 2004 DB4", {120, {634, 827, 1106, 1497, 549, 692, 928, 1222}, {995, 1058, 1222, 1287}},
     {60, {432, 526, 719, 880, 364, 433, 595, 719}, {1000, 1063, 1302, 1384}},
     [](EngineConfiguration& c) {
       Segmentation(c, 60, 40);
       Refined(c, 11, 10);
     }},
    {1300, "CrossMatch Verifier 300", {120, {264, 326, 405, 498, 204, 252, 306, 375}, {987, 1048, 1146, 1209}},
     {60, {203, 243, 299, 353, 154, 182, 220, 256}, {982, 1043, 1189, 1272}},
     [](EngineConfiguration& c) { c.cropToFinger = 1; }},
    {100, "DigitalPersona U.are.U", {140, {221, 277, 324, 410, 173, 213, 248, 311}, {987, 1063, 1111, 1196}},
     {70, {168, 206, 246, 301, 129, 155, 186, 222}, {987, 1058, 1140, 1222}}, FineScanner},
    {900, "Atmel FingerChip", {150, {290, 342, 422, 506, 226, 268, 325, 387}, {987, 1024, 987, 1024}},
     {75, {223, 264, 316, 376, 172, 200, 240, 278}, {987, 1024, 987, 1024}},
     [](EngineConfiguration& c) {
       c.presmoothTwice = 1;
       c.postsmoothTwice = 1;
       Segmentation(c, 50, 100);
     }},
    {800, "Authentec AF-S2", {200, {250, 292, 375, 446, 198, 232, 299, 348}, {987, 1014, 1111, 1134}},
     {100, {187, 214, 288, 334, 145, 166, 224, 258}, {991, 1014, 1117, 1140}},
     [](EngineConfiguration& c) { Segmentation(c, 50, 50); }},
    {810, "Authentec AES 4000", {200, {250, 292, 375, 446, 198, 232, 299, 348}, {987, 1014, 1111, 1134}},
     {100, {187, 214, 288, 334, 145, 166, 224, 258}, {991, 1014, 1117, 1140}},
     [](EngineConfiguration& c) { Segmentation(c, 50, 50); }},
    {200, "BiometriKa FX2000", {140, {306, 370, 455, 543, 238, 282, 343, 404}, {987, 1023, 1158, 1196}},
     {70, {216, 245, 302, 349, 161, 185, 221, 252}, {991, 1023, 1250, 1310}},
     [](EngineConfiguration& c) { Segmentation(c, 50, 60); }},
    {300, "Keytronic SecureDesktop", {120, {269, 312, 399, 456, 206, 244, 303, 345}, {987, 1033, 1170, 1215}},
     {60, {193, 217, 268, 303, 144, 164, 196, 224}, {991, 1023, 1215, 1279}},
     [](EngineConfiguration& c) {
       Segmentation(c, 50, 80);
       c.densityHigh = 102;
       c.densityLow = 92;
     }},
    {400, "Identix TouchView", {130, {245, 295, 370, 449, 188, 223, 276, 329}, {982, 1019, 1164, 1209}},
     {65, {186, 214, 263, 303, 138, 159, 188, 218}, {982, 1014, 1202, 1250}},
     [](EngineConfiguration& c) {
       Segmentation(c, 70, 30);
       c.densityHigh = 145;
       c.densityLow = 115;
     }},
    {500, "PreciseBiometrics 100CS", {150, {215, 262, 322, 385, 166, 201, 243, 288}, {978, 1058, 1122, 1209}},
     {75, {180, 209, 270, 311, 136, 157, 200, 228}, {978, 1053, 1158, 1243}},
     [](EngineConfiguration& c) { Segmentation(c, 70, 70); }},
    {600, "STMicroelectronics TouchChip", {130, {282, 338, 404, 485, 226, 270, 323, 388}, {991, 1043, 1170, 1229}},
     {65, {207, 239, 288, 331, 160, 182, 222, 251}, {982, 1038, 1229, 1317}},
     [](EngineConfiguration& c) { Segmentation(c, 60, 70); }},
    {700, "IdenticatorTechnology DF90", {160, {385, 458, 534, 640, 291, 343, 397, 469}, {987, 1048, 1196, 1279}},
     {80, {266, 313, 362, 424, 202, 230, 270, 304}, {982, 1048, 1257, 1325}},
     [](EngineConfiguration& c) {
       Segmentation(c, 70, 60);
       c.densityHigh = 147;
       c.densityLow = 126;
     }},
    {1000, "BMF BLP100", {120, {241, 307, 375, 465, 190, 240, 296, 357}, {987, 1043, 1170, 1229}},
     {60, {197, 233, 289, 342, 152, 179, 220, 262}, {991, 1043, 1202, 1257}},
     [](EngineConfiguration& c) { Segmentation(c, 60, 60); }},
    {1100, "Secugen Hamster", {140, {283, 343, 448, 553, 222, 268, 347, 425}, {987, 1028, 1152, 1215}},
     {70, {203, 238, 305, 361, 157, 183, 234, 273}, {982, 1023, 1209, 1272}},
     [](EngineConfiguration& c) { Segmentation(c, 40, 50); }},
    {1200, "Ethentica", {120, {270, 326, 402, 487, 210, 253, 309, 369}, {987, 1037, 1153, 1211}},
     {60, {202, 236, 291, 342, 154, 179, 219, 254}, {986, 1035, 1200, 1265}}, [](EngineConfiguration&) {}},
};

// The configuration a profile and mode should give, built from the values above.
EngineConfiguration Expected(const Profile& p, uint32_t mode) {
  EngineConfiguration c;
  std::memset(&c, 0, sizeof c);
#define VS_SET(field, value) c.field = value;
  VS_DEFAULTS(VS_SET)
#undef VS_SET
  c.loadedSample = nullptr;
  p.overrides(c);
  c.scannerId = p.id;
  c.profileMode = mode;
  const Half& half = mode == 0 ? p.wide : p.standard;
  if (c.refinedMode == 0) c.pairMaxDistance = half.pairMaxDistance;
  c.probePairLimit = mode == 0 ? 700 : 150;
  c.samplePairLimit = mode == 0 ? 1400 : 300;
  std::memcpy(c.featureNormalisers, half.feature, sizeof half.feature);
  std::memcpy(c.contextNormalisers, half.context, sizeof half.context);
  return c;
}

// Names every field that differs (the whole block is compared byte for byte too).
void ExpectSameConfiguration(const EngineConfiguration& actual, const EngineConfiguration& expected,
                             const std::string& what) {
#define VS_COMPARE(field, value) EXPECT_EQ(+actual.field, +expected.field) << what << ": " #field;
  VS_DEFAULTS(VS_COMPARE)
#undef VS_COMPARE
  for (int i = 0; i < 8; ++i) EXPECT_EQ(actual.featureNormalisers[i], expected.featureNormalisers[i]) << what << i;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(actual.contextNormalisers[i], expected.contextNormalisers[i]) << what << i;
  EXPECT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0) << what;
}

TEST(ConfigurationDefaults, EveryFieldHasItsDocumentedDefault) {
  EngineConfiguration c;
  std::memset(&c, 0xA5, sizeof c);  // the defaults must not depend on what was there
  SetDefaultConfiguration(&c);
  ExpectSameConfiguration(c, Expected(kProfiles[0], 256), "defaults");
}

TEST(ScannerProfileTable, HoldsTheTwentyOneProfilesInTableOrder) {
  ASSERT_EQ(std::size(kProfiles), static_cast<size_t>(kScannerProfileCount));
  for (int i = 0; i < kScannerProfileCount; ++i) {
    EXPECT_EQ(kScannerProfiles[i].id, kProfiles[i].id) << i;
    EXPECT_STREQ(kScannerProfiles[i].name, kProfiles[i].name) << i;
    EXPECT_EQ(FindScannerProfile(kProfiles[i].id), &kScannerProfiles[i]);
  }
  EXPECT_EQ(FindScannerProfile(2), nullptr);
}

// Every profile in both modes, selected from a configuration in either mode and
// after another profile, so that overrides of the previous profile must go.
TEST(SelectScannerProfile, EveryProfileGivesItsOverridesAndHalfInBothModes) {
  for (const Profile& p : kProfiles) {
    for (uint32_t mode : {0u, 256u}) {
      EngineConfiguration c = testing::DefaultConfiguration();
      ASSERT_EQ(SelectScannerProfile(100000, &c), kOk);  // the profile with the most overrides
      ASSERT_EQ(SetProfileMode(mode, &c), kOk);
      ASSERT_EQ(SelectScannerProfile(p.id, &c), kOk);
      ExpectSameConfiguration(c, Expected(p, mode), std::to_string(p.id) + " selected in mode " + std::to_string(mode));
      // Switching the mode afterwards gives the same as selecting in that mode.
      const uint32_t other = mode == 0 ? 256u : 0u;
      ASSERT_EQ(SetProfileMode(other, &c), kOk);
      ExpectSameConfiguration(c, Expected(p, other), std::to_string(p.id) + " switched to mode " + std::to_string(other));
    }
  }
}

TEST(SelectScannerProfile, KeepsFieldsNoProfileCovers) {
  EngineConfiguration c = testing::DefaultConfiguration();
  c.exportBlockMap = 1;
  c.verifyThreshold = 7;
  c.enrolRotationTolerance = 33;
  c.minImageSide = 32;
  c.useBlockMap = 1;
  ASSERT_EQ(SelectScannerProfile(100, &c), kOk);
  EXPECT_EQ(c.exportBlockMap, 1u);
  EXPECT_EQ(c.verifyThreshold, 7u);
  EXPECT_EQ(c.enrolRotationTolerance, 33u);
  EXPECT_EQ(c.minImageSide, 32u);
  EXPECT_EQ(c.useBlockMap, 1u);
}

TEST(SelectScannerProfile, UnknownIdOrModeChangesNothing) {
  EngineConfiguration c = testing::DefaultConfiguration();
  ASSERT_EQ(SelectScannerProfile(1, &c), kOk);
  EngineConfiguration before;
  std::memcpy(&before, &c, sizeof c);
  for (int32_t id : {2, -1, 1201, 200405}) EXPECT_EQ(SelectScannerProfile(id, &c), kOutOfRange) << id;
  for (uint32_t mode : {1u, 255u, 257u, 512u}) EXPECT_EQ(SetProfileMode(mode, &c), kOutOfRange) << mode;
  EXPECT_EQ(std::memcmp(&c, &before, sizeof c), 0);
}

TEST(SetProfileMode, UnknownProfileGivesNeutralNormalisers) {
  EngineConfiguration c = testing::DefaultConfiguration();
  c.scannerId = 424242;  // set directly, not through a selection
  ASSERT_EQ(SetProfileMode(0, &c), kOk);
  for (uint32_t n : c.featureNormalisers) EXPECT_EQ(n, 1000u);
  for (uint32_t n : c.contextNormalisers) EXPECT_EQ(n, 1000u);
  EXPECT_EQ(c.pairMaxDistance, 60u);  // no half to take it from
  EXPECT_EQ(c.probePairLimit, 700u);
  EXPECT_EQ(c.samplePairLimit, 1400u);
}

}  // namespace
}  // namespace vorsensor
