#pragma once
// The matching part of the engine configuration, read once per call into
// signed values the scoring code can use without overflow checks.
#include <cstdint>

#include "engine/engine_configuration.h"

namespace vorsensor {

constexpr int32_t kFeatureNormalisers = 8;
constexpr int32_t kContextNormalisers = 4;

struct MatchParameters {
  int32_t pairMaxDistance;
  int32_t probePairLimit;
  int32_t samplePairLimit;
  int32_t pairMinDistance;
  bool refined;
  int32_t distanceTolerance;  // as configured
  int32_t angleTolerance;     // as configured
  int32_t tolD;               // the tolerances in use (one less in refined mode)
  int32_t tolA;
  int32_t typeBoost;
  int32_t spreadTolerance;
  int32_t densitySlack;
  int32_t densityScale;
  int32_t normPairs;
  int32_t featureNormalisers[kFeatureNormalisers];
  int32_t contextNormalisers[kContextNormalisers];
  bool useType;
  bool useSpread;
  bool useDensity;
  bool useBlockMap;
  bool useQuality;
  bool useNormalisers;
  int32_t selectionMode;  // 0, 1 or 2
  int32_t symmetricMode;  // 0, 1 or 2
  int64_t symmetricLow;
  int64_t symmetricHigh;
  bool scaleSearch;
  int32_t scaleMin;
  int32_t scaleMax;
  int32_t scaleStep;
  bool rawScore;
};

// Reads the configuration (null: the engine's own). Values beyond what the
// arithmetic can hold are clamped: distances and the distance tolerance to
// 0..255, the angle tolerance to 0..120, factors and normalisers to
// 0..65535, pair limits to 0..2^30. kEngineStopped without a configuration;
// kOutOfRange for a selection or symmetric mode above 2, or a scale search
// whose step is 0, whose range is empty or whose greatest stretch exceeds
// 1000 percent.
int32_t ReadMatchParameters(const EngineConfiguration* config, MatchParameters* parameters);

}  // namespace vorsensor
