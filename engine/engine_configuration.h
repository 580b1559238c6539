#pragma once
// The process-wide engine configuration, its start/stop reference count and
// the scanner profiles that adjust it.
//
// Every engine operation takes a `const EngineConfiguration*`; a null pointer
// means the engine's own configuration, which exists only while the engine is
// started (InitEngine called more often than ReleaseEngine).
#include <cstdint>

namespace vorsensor {

struct MatchWorkspace;  // owned by the matcher; see matching/match_workspace.h

struct EngineConfiguration {
  // Extraction parameters.
  uint32_t cropToFinger;
  uint8_t cropLevel;
  uint32_t trimBorders;
  uint8_t borderBrightMin;
  uint32_t borderRowWindow;
  uint32_t borderPercentile;
  uint32_t borderSpread;
  uint32_t levelBackground;
  uint32_t presmoothTwice;
  uint32_t localMeanRadius;
  uint32_t contrastRadius;
  uint32_t postsmoothTwice;
  uint32_t orientMethod;
  uint32_t pixelOrientRadius;
  uint8_t gradientEnergyMin;
  uint32_t segmentRadius;
  uint8_t coherenceMin;
  uint32_t singularGuardRadius;
  uint8_t blockFlatnessMax;
  uint8_t blockVariationMax;
  uint8_t pixelFlatnessMax;
  uint8_t pixelVariationMax;
  uint32_t singularLocateRadius;
  uint32_t singularDirectionRadius;
  uint32_t adaptiveBinarize;
  uint32_t edgeDensityRadius;
  uint32_t edgeDensitySmoothRadius;
  uint32_t meanRadiusSmall;
  uint32_t meanRadiusMedium;
  uint32_t meanRadiusLarge;
  uint8_t densityHigh;
  uint8_t densityLow;
  uint32_t ridgeSmoothMethod;
  uint32_t ridgeSmoothRadius;
  uint32_t ridgeSmoothPasses;
  uint32_t refineMethod;
  uint32_t refineRadius;
  uint8_t refineCoherenceHigh;
  uint8_t refineCoherenceLow;
  uint8_t refineVariationHigh;
  uint8_t refineVariationLow;
  uint32_t refinePassesBase;
  uint32_t refinePassesRange;
  uint32_t maxIterations;
  uint32_t joinTraceMax;
  uint32_t joinTraceMin;
  uint32_t joinRadius;
  uint8_t joinAngleMin;
  uint32_t branchTraceMax;
  uint8_t teeWideAngle;
  uint8_t spreadWideAngle;
  uint8_t teeSideHigh;
  uint8_t teeSideLow;
  uint8_t spreadSideLow;
  uint32_t branchShortLen;
  uint32_t bridgeMaxLen;
  uint32_t crossMaxLen;
  uint32_t branchKeepLen;
  uint8_t crossAngleMax;
  uint32_t endTraceMax;
  uint32_t endTraceMin;
  uint32_t forkBranchMin;
  uint32_t spreadRadius;
  uint32_t crowdRadius;
  uint32_t crowdMaxNeighbours;
  uint32_t pairDistance;
  uint32_t forkPairDistance;
  uint8_t pairAngleTolerance;
  uint32_t borderWindow;
  uint8_t qualityMin;
  uint8_t qualityMaxDiff;
  uint32_t exportBlockMap;
  uint32_t keepSingularPoints;
  uint32_t spreadEnabled;
  uint32_t densityEnabled;
  uint32_t returnQuality;
  uint32_t writeBackImage;
  uint32_t maxImageSide;
  uint32_t minImageSide;
  // Matching parameters.
  uint32_t pairMaxDistance;
  uint32_t probePairLimit;
  uint32_t samplePairLimit;
  uint32_t pairMinDistance;
  uint32_t refinedMode;
  uint32_t distanceTolerance;
  uint32_t angleTolerance;
  uint32_t typeBoost;
  uint32_t spreadTolerance;
  uint32_t densitySlack;
  uint32_t densityScale;
  uint32_t normPairs;
  uint32_t featureNormalisers[8];
  uint32_t contextNormalisers[4];
  uint32_t useType;
  uint32_t useSpread;
  uint32_t useDensity;
  uint32_t useBlockMap;
  uint32_t useQuality;
  uint32_t useNormalisers;
  uint32_t selectionMode;
  uint32_t symmetricMode;
  uint32_t symmetricLow;
  uint32_t symmetricHigh;
  uint32_t scaleSearch;
  uint32_t scaleMin;
  uint32_t scaleMax;
  uint32_t scaleStep;
  uint32_t rawScore;
  // Profile and service parameters.
  uint32_t profileMode;
  uint32_t verifyRotationTolerance;
  uint32_t verifyThreshold;
  uint32_t enrolRotationTolerance;
  uint32_t enrolThreshold;
  int32_t scannerId;
  MatchWorkspace* loadedSample;
  uint32_t sampleLoaded;
};

// Fills `config` with the defaults of a freshly started engine (scanner
// profile 0, profile mode 256). Usable for private configurations too.
void SetDefaultConfiguration(EngineConfiguration* config);

// Limits of the ridge regularisation parameters. Pass counts live in three
// spare bits of the density map, so base plus range may not exceed 7; a fixed
// smoothing pass keeps the rows of its orientation window, which must cover
// the six rows the line kernel reaches.
constexpr uint64_t kPassCountMax = 7;
constexpr uint32_t kRidgeSmoothRadiusMin = 5;

// kOk, or kInvalidConfiguration when the extraction parameters ask for what
// the stages cannot do: refinePassesBase + refinePassesRange above 7,
// ridgeSmoothRadius below 5 while fixed passes run, or refineVariationHigh
// not above refineVariationLow while the difference refresh runs. The
// pipeline checks before it touches the image; no scanner profile fails.
int32_t CheckExtractionParameters(const EngineConfiguration& config);

// Starts the engine: returns the start count before this start (0 for the
// first) or kOutOfMemory. Safe to call from several threads.
int32_t InitEngine();
// Stops one start: returns the remaining count or kEngineStopped.
int32_t ReleaseEngine();
// The engine's own configuration, or null while the engine is stopped.
EngineConfiguration* EngineConfig();
// `config` when given, else the engine's own (null while stopped).
const EngineConfiguration* ResolveConfiguration(const EngineConfiguration* config);

// Scanner profiles: 0 or kOutOfRange (nothing changed) for an unknown id / mode.
// A null `config` means the engine's own (kEngineStopped while it is stopped).
// Selecting a profile resets the extraction parameters up to qualityMaxDiff
// and the matching parameters up to normPairs, applies the profile's
// overrides and takes its half for the configuration's profileMode.
int32_t SelectScannerProfile(int32_t id, EngineConfiguration* config);
int32_t SetProfileMode(uint32_t mode, EngineConfiguration* config);

// The matcher registers how a loaded sample is freed, so that the engine can
// release one left behind when it stops without depending on the matcher.
using LoadedSampleReleaser = void (*)(MatchWorkspace*);
void SetLoadedSampleReleaser(LoadedSampleReleaser releaser);

}  // namespace vorsensor
