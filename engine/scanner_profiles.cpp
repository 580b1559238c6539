// The scanner profile table, the per-profile configuration overrides and the
// selection of a profile and of a profile mode.
#include "engine/scanner_profiles.h"

#include "engine/engine_configuration.h"
#include "engine/result_codes.h"

namespace vorsensor {

// Ids, names, then the half for kProfileModeWide and the half for
// kProfileModeStandard: pairMaxDistance, featureNormalisers, contextNormalisers.
const ScannerProfile kScannerProfiles[kScannerProfileCount] = {
    {0, "General",
     {120, {270, 326, 402, 487, 210, 253, 309, 369}, {987, 1037, 1153, 1211}},
     {60, {202, 236, 291, 342, 154, 179, 219, 254}, {986, 1035, 1200, 1265}}},
    {1, "General Old",
     {120, {694, 944, 1180, 1565, 634, 827, 1030, 1358}, {995, 1083, 1184, 1292}},
     {60, {531, 613, 788, 909, 466, 530, 681, 782}, {991, 1047, 1230, 1301}}},
    {100000, "FpVTE",
     {120, {746, 890, 1194, 1458, 663, 785, 1037, 1259}, {998, 1036, 1206, 1265}},
     {60, {527, 600, 789, 907, 454, 511, 680, 752}, {993, 1043, 1287, 1359}}},
    {200401, "FVC 2004 DB1",
     {120, {651, 830, 1095, 1410, 576, 719, 940, 1202}, {1000, 1043, 1196, 1250}},
     {60, {495, 593, 753, 924, 425, 507, 630, 777}, {995, 1043, 1264, 1325}}},
    {200402, "FVC 2004 DB2",
     {120, {531, 647, 863, 1078, 466, 566, 753, 913}, {995, 1058, 1146, 1196}},
     {60, {428, 498, 671, 806, 370, 426, 571, 679}, {991, 1043, 1183, 1229}}},
    {200403, "FVC 2004 DB3",
     {120, {775, 991, 1236, 1642, 679, 859, 1063, 1401}, {995, 1058, 1215, 1287}},
     {60, {528, 629, 772, 944, 454, 533, 669, 791}, {991, 1048, 1333, 1401}}},
    {200404, "FVC 2004 DB4",
     {120, {634, 827, 1106, 1497, 549, 692, 928, 1222}, {995, 1058, 1222, 1287}},
     {60, {432, 526, 719, 880, 364, 433, 595, 719}, {1000, 1063, 1302, 1384}}},
    {1300, "CrossMatch Verifier 300",
     {120, {264, 326, 405, 498, 204, 252, 306, 375}, {987, 1048, 1146, 1209}},
     {60, {203, 243, 299, 353, 154, 182, 220, 256}, {982, 1043, 1189, 1272}}},
    {100, "DigitalPersona U.are.U",
     {140, {221, 277, 324, 410, 173, 213, 248, 311}, {987, 1063, 1111, 1196}},
     {70, {168, 206, 246, 301, 129, 155, 186, 222}, {987, 1058, 1140, 1222}}},
    {900, "Atmel FingerChip",
     {150, {290, 342, 422, 506, 226, 268, 325, 387}, {987, 1024, 987, 1024}},
     {75, {223, 264, 316, 376, 172, 200, 240, 278}, {987, 1024, 987, 1024}}},
    {800, "Authentec AF-S2",
     {200, {250, 292, 375, 446, 198, 232, 299, 348}, {987, 1014, 1111, 1134}},
     {100, {187, 214, 288, 334, 145, 166, 224, 258}, {991, 1014, 1117, 1140}}},
    {810, "Authentec AES 4000",
     {200, {250, 292, 375, 446, 198, 232, 299, 348}, {987, 1014, 1111, 1134}},
     {100, {187, 214, 288, 334, 145, 166, 224, 258}, {991, 1014, 1117, 1140}}},
    {200, "BiometriKa FX2000",
     {140, {306, 370, 455, 543, 238, 282, 343, 404}, {987, 1023, 1158, 1196}},
     {70, {216, 245, 302, 349, 161, 185, 221, 252}, {991, 1023, 1250, 1310}}},
    {300, "Keytronic SecureDesktop",
     {120, {269, 312, 399, 456, 206, 244, 303, 345}, {987, 1033, 1170, 1215}},
     {60, {193, 217, 268, 303, 144, 164, 196, 224}, {991, 1023, 1215, 1279}}},
    {400, "Identix TouchView",
     {130, {245, 295, 370, 449, 188, 223, 276, 329}, {982, 1019, 1164, 1209}},
     {65, {186, 214, 263, 303, 138, 159, 188, 218}, {982, 1014, 1202, 1250}}},
    {500, "PreciseBiometrics 100CS",
     {150, {215, 262, 322, 385, 166, 201, 243, 288}, {978, 1058, 1122, 1209}},
     {75, {180, 209, 270, 311, 136, 157, 200, 228}, {978, 1053, 1158, 1243}}},
    {600, "STMicroelectronics TouchChip",
     {130, {282, 338, 404, 485, 226, 270, 323, 388}, {991, 1043, 1170, 1229}},
     {65, {207, 239, 288, 331, 160, 182, 222, 251}, {982, 1038, 1229, 1317}}},
    {700, "IdenticatorTechnology DF90",
     {160, {385, 458, 534, 640, 291, 343, 397, 469}, {987, 1048, 1196, 1279}},
     {80, {266, 313, 362, 424, 202, 230, 270, 304}, {982, 1048, 1257, 1325}}},
    {1000, "BMF BLP100",
     {120, {241, 307, 375, 465, 190, 240, 296, 357}, {987, 1043, 1170, 1229}},
     {60, {197, 233, 289, 342, 152, 179, 220, 262}, {991, 1043, 1202, 1257}}},
    {1100, "Secugen Hamster",
     {140, {283, 343, 448, 553, 222, 268, 347, 425}, {987, 1028, 1152, 1215}},
     {70, {203, 238, 305, 361, 157, 183, 234, 273}, {982, 1023, 1209, 1272}}},
    {1200, "Ethentica",
     {120, {270, 326, 402, 487, 210, 253, 309, 369}, {987, 1037, 1153, 1211}},
     {60, {202, 236, 291, 342, 154, 179, 219, 254}, {986, 1035, 1200, 1265}}},
};

namespace {

constexpr uint32_t kWidePairLimitProbe = 700;
constexpr uint32_t kWidePairLimitSample = 1400;
constexpr uint32_t kStandardPairLimitProbe = 150;
constexpr uint32_t kStandardPairLimitSample = 300;
// Normaliser value used when the configuration names no known profile.
constexpr uint32_t kNeutralNormaliser = 1000;

// Resets every field a profile selection covers (the extraction parameters
// up to qualityMaxDiff and the matching parameters up to normPairs) to the
// values of profile 0. The normalisers and pair limits follow from the mode.
void ResetProfileFields(EngineConfiguration* c) {
  c->cropToFinger = 0;
  c->cropLevel = 30;
  c->trimBorders = 0;
  c->borderBrightMin = 230;
  c->borderRowWindow = 5;
  c->borderPercentile = 30;
  c->borderSpread = 2;
  c->levelBackground = 0;
  c->presmoothTwice = 0;
  c->localMeanRadius = 4;
  c->contrastRadius = 128;
  c->postsmoothTwice = 0;
  c->orientMethod = 0;
  c->pixelOrientRadius = 12;
  c->gradientEnergyMin = 70;
  c->segmentRadius = 16;
  c->coherenceMin = 60;
  c->singularGuardRadius = 16;
  c->blockFlatnessMax = 17;
  c->blockVariationMax = 207;
  c->pixelFlatnessMax = 19;
  c->pixelVariationMax = 196;
  c->singularLocateRadius = 2;
  c->singularDirectionRadius = 40;
  c->adaptiveBinarize = 1;
  c->edgeDensityRadius = 16;
  c->edgeDensitySmoothRadius = 16;
  c->meanRadiusSmall = 3;
  c->meanRadiusMedium = 5;
  c->meanRadiusLarge = 7;
  c->densityHigh = 130;
  c->densityLow = 115;
  c->ridgeSmoothMethod = 0;
  c->ridgeSmoothRadius = 12;
  c->ridgeSmoothPasses = 2;
  c->refineMethod = 1;
  c->refineRadius = 12;
  c->refineCoherenceHigh = 240;
  c->refineCoherenceLow = 200;
  c->refineVariationHigh = 30;
  c->refineVariationLow = 20;
  c->refinePassesBase = 0;
  c->refinePassesRange = 4;
  c->maxIterations = 6;
  c->joinTraceMax = 10;
  c->joinTraceMin = 4;
  c->joinRadius = 15;
  c->joinAngleMin = 110;
  c->branchTraceMax = 30;
  c->teeWideAngle = 110;
  c->spreadWideAngle = 93;
  c->teeSideHigh = 70;
  c->teeSideLow = 50;
  c->spreadSideLow = 30;
  c->branchShortLen = 10;
  c->bridgeMaxLen = 15;
  c->crossMaxLen = 5;
  c->branchKeepLen = 3;
  c->crossAngleMax = 40;
  c->endTraceMax = 20;
  c->endTraceMin = 20;
  c->forkBranchMin = 10;
  c->spreadRadius = 10;
  c->crowdRadius = 15;
  c->crowdMaxNeighbours = 5;
  c->pairDistance = 3;
  c->forkPairDistance = 6;
  c->pairAngleTolerance = 19;
  c->borderWindow = 10;
  c->qualityMin = 120;
  c->qualityMaxDiff = 100;

  c->pairMaxDistance = 60;
  c->probePairLimit = kStandardPairLimitProbe;
  c->samplePairLimit = kStandardPairLimitSample;
  c->pairMinDistance = 20;
  c->refinedMode = 0;
  c->distanceTolerance = 12;
  c->angleTolerance = 8;
  c->typeBoost = 1700;
  c->spreadTolerance = 30;
  c->densitySlack = 20;
  c->densityScale = 60;
  c->normPairs = 50;
}

// Profiles for scanners with a high sensing resolution: borders trimmed,
// stronger ridges demanded, wider orientation windows.
void SetFineScannerExtraction(EngineConfiguration* c) {
  c->trimBorders = 1;
  c->gradientEnergyMin = 80;
  c->coherenceMin = 70;
  c->pixelOrientRadius = 18;
  c->ridgeSmoothRadius = 18;
  c->refineRadius = 20;
}

void SetSegmentation(EngineConfiguration* c, uint8_t gradientEnergyMin, uint8_t coherenceMin) {
  c->gradientEnergyMin = gradientEnergyMin;
  c->coherenceMin = coherenceMin;
}

void SetDensityBand(EngineConfiguration* c, uint8_t high, uint8_t low) {
  c->densityHigh = high;
  c->densityLow = low;
}

// The refined matching of the evaluation-database profiles.
void SetRefinedMatching(EngineConfiguration* c, uint32_t distanceTolerance, uint32_t angleTolerance) {
  constexpr uint32_t kRefinedPairMaxDistance = 150;
  constexpr uint32_t kRefinedTypeBoost = 1400;
  c->pairMaxDistance = kRefinedPairMaxDistance;
  c->refinedMode = 1;
  c->distanceTolerance = distanceTolerance;
  c->angleTolerance = angleTolerance;
  c->typeBoost = kRefinedTypeBoost;
}

void SetGeneralOldMatching(EngineConfiguration* c) { SetRefinedMatching(c, 13, 9); }

void ApplyOverrides(int32_t id, EngineConfiguration* c) {
  switch (id) {
    case 1:
      SetGeneralOldMatching(c);
      break;
    case 100:
      SetFineScannerExtraction(c);
      break;
    case 200:
      SetSegmentation(c, 50, 60);
      break;
    case 300:
      SetSegmentation(c, 50, 80);
      SetDensityBand(c, 102, 92);
      break;
    case 400:
      SetSegmentation(c, 70, 30);
      SetDensityBand(c, 145, 115);
      break;
    case 500:
      SetSegmentation(c, 70, 70);
      break;
    case 600:
      SetSegmentation(c, 60, 70);
      break;
    case 700:
      SetSegmentation(c, 70, 60);
      SetDensityBand(c, 147, 126);
      break;
    case 800:
    case 810:
      SetSegmentation(c, 50, 50);
      break;
    case 900:
      c->presmoothTwice = 1;
      c->postsmoothTwice = 1;
      SetSegmentation(c, 50, 100);
      break;
    case 1000:
      SetSegmentation(c, 60, 60);
      break;
    case 1100:
      SetSegmentation(c, 40, 50);
      break;
    case 1300:
      c->cropToFinger = 1;
      break;
    case 100000:
      c->levelBackground = 1;
      c->orientMethod = 1;
      c->blockVariationMax = 160;
      c->pixelFlatnessMax = 17;
      c->pixelVariationMax = 160;
      c->ridgeSmoothMethod = 1;
      SetRefinedMatching(c, 14, 9);
      break;
    case 200401:
      c->cropToFinger = 1;
      SetGeneralOldMatching(c);
      break;
    case 200402:
      SetFineScannerExtraction(c);
      SetGeneralOldMatching(c);
      break;
    case 200403:
      SetSegmentation(c, 80, 40);
      SetGeneralOldMatching(c);
      break;
    case 200404:
      SetSegmentation(c, 60, 40);
      SetRefinedMatching(c, 11, 10);
      break;
    default:  // 0, 1200: the defaults as they are
      break;
  }
}

// Takes the matching half of the configuration's profile for `mode` (which
// the caller has checked).
void ApplyProfileHalf(uint32_t mode, EngineConfiguration* c) {
  c->profileMode = mode;
  const bool wide = mode == kProfileModeWide;
  c->probePairLimit = wide ? kWidePairLimitProbe : kStandardPairLimitProbe;
  c->samplePairLimit = wide ? kWidePairLimitSample : kStandardPairLimitSample;
  const ScannerProfile* profile = FindScannerProfile(c->scannerId);
  if (profile == nullptr) {
    // No profile row: neutral normalisers, pairMaxDistance as it is.
    for (uint32_t& n : c->featureNormalisers) n = kNeutralNormaliser;
    for (uint32_t& n : c->contextNormalisers) n = kNeutralNormaliser;
    return;
  }
  const ProfileHalf& half = wide ? profile->wide : profile->standard;
  // Refined matching keeps its own pair length.
  if (c->refinedMode == 0) c->pairMaxDistance = static_cast<uint32_t>(half.pairMaxDistance);
  for (int32_t i = 0; i < kFeatureNormaliserCount; ++i) {
    c->featureNormalisers[i] = static_cast<uint32_t>(half.featureNormalisers[i]);
  }
  for (int32_t i = 0; i < kContextNormaliserCount; ++i) {
    c->contextNormalisers[i] = static_cast<uint32_t>(half.contextNormalisers[i]);
  }
}

bool IsProfileMode(uint32_t mode) { return mode == kProfileModeWide || mode == kProfileModeStandard; }

}  // namespace

const ScannerProfile* FindScannerProfile(int32_t id) {
  for (const ScannerProfile& profile : kScannerProfiles) {
    if (profile.id == id) return &profile;
  }
  return nullptr;
}

int32_t SelectScannerProfile(int32_t id, EngineConfiguration* config) {
  if (config == nullptr) config = EngineConfig();
  if (config == nullptr) return kEngineStopped;
  if (FindScannerProfile(id) == nullptr) return kOutOfRange;
  config->scannerId = id;
  ResetProfileFields(config);
  ApplyOverrides(id, config);
  // The profile keeps the configuration's mode; a mode that is not one of
  // the two (an uninitialised private configuration) becomes the standard one.
  ApplyProfileHalf(IsProfileMode(config->profileMode) ? config->profileMode : kProfileModeStandard, config);
  return kOk;
}

int32_t SetProfileMode(uint32_t mode, EngineConfiguration* config) {
  if (config == nullptr) config = EngineConfig();
  if (config == nullptr) return kEngineStopped;
  if (!IsProfileMode(mode)) return kOutOfRange;
  ApplyProfileHalf(mode, config);
  return kOk;
}

}  // namespace vorsensor
