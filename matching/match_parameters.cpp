// Reading the matching parameters out of the engine configuration.
#include "matching/match_parameters.h"

#include "engine/result_codes.h"

namespace vorsensor {
namespace {

constexpr uint32_t kMaxDistanceValue = 255;   // DistanceOf never exceeds it
constexpr uint32_t kMaxAngleTolerance = 120;  // half a turn covers every difference
constexpr uint32_t kMaxFactor = 65535;
constexpr uint32_t kMaxPairLimit = 1u << 30;
constexpr uint32_t kMaxStretchPercent = 1000;
constexpr uint32_t kLastMode = 2;

int32_t Clamped(uint32_t value, uint32_t limit) {
  return static_cast<int32_t>(value > limit ? limit : value);
}

}  // namespace

int32_t ReadMatchParameters(const EngineConfiguration* config, MatchParameters* p) {
  const EngineConfiguration* c = ResolveConfiguration(config);
  if (c == nullptr) return kEngineStopped;
  if (c->selectionMode > kLastMode || c->symmetricMode > kLastMode) return kOutOfRange;
  if (c->scaleSearch == 1 &&
      (c->scaleStep == 0 || c->scaleMin > c->scaleMax || c->scaleMax > kMaxStretchPercent)) {
    return kOutOfRange;
  }
  p->pairMaxDistance = Clamped(c->pairMaxDistance, kMaxDistanceValue);
  p->probePairLimit = Clamped(c->probePairLimit, kMaxPairLimit);
  p->samplePairLimit = Clamped(c->samplePairLimit, kMaxPairLimit);
  p->pairMinDistance = Clamped(c->pairMinDistance, kMaxDistanceValue);
  p->refined = c->refinedMode == 1;
  p->distanceTolerance = Clamped(c->distanceTolerance, kMaxDistanceValue);
  p->angleTolerance = Clamped(c->angleTolerance, kMaxAngleTolerance);
  p->tolD = p->refined ? p->distanceTolerance - 1 : p->distanceTolerance;
  p->tolA = p->refined ? p->angleTolerance - 1 : p->angleTolerance;
  p->typeBoost = Clamped(c->typeBoost, kMaxFactor);
  p->spreadTolerance = Clamped(c->spreadTolerance, kMaxFactor);
  p->densitySlack = Clamped(c->densitySlack, kMaxFactor);
  p->densityScale = Clamped(c->densityScale, kMaxFactor);
  p->normPairs = Clamped(c->normPairs, kMaxFactor);
  for (int32_t i = 0; i < kFeatureNormalisers; ++i) {
    p->featureNormalisers[i] = Clamped(c->featureNormalisers[i], kMaxFactor);
  }
  for (int32_t i = 0; i < kContextNormalisers; ++i) {
    p->contextNormalisers[i] = Clamped(c->contextNormalisers[i], kMaxFactor);
  }
  p->useType = c->useType == 1;
  p->useSpread = c->useSpread == 1;
  p->useDensity = c->useDensity == 1;
  p->useBlockMap = c->useBlockMap == 1;
  p->useQuality = c->useQuality == 1;
  p->useNormalisers = c->useNormalisers == 1;
  p->selectionMode = static_cast<int32_t>(c->selectionMode);
  p->symmetricMode = static_cast<int32_t>(c->symmetricMode);
  p->symmetricLow = c->symmetricLow;
  p->symmetricHigh = c->symmetricHigh;
  p->scaleSearch = c->scaleSearch == 1;
  p->scaleMin = static_cast<int32_t>(c->scaleMin);
  p->scaleMax = static_cast<int32_t>(c->scaleMax);
  p->scaleStep = static_cast<int32_t>(c->scaleStep);
  p->rawScore = c->rawScore == 1;
  return kOk;
}

}  // namespace vorsensor
