// Engine start and stop by reference count, and the defaults of the engine
// configuration. The profile-dependent fields are set by the scanner profile
// code (scanner_profiles.cpp); this file sets everything else.
#include "engine/engine_configuration.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "engine/result_codes.h"
#include "engine/scanner_profiles.h"

namespace vorsensor {
namespace {

constexpr int32_t kDefaultProfileId = 0;

// The process-wide engine state. Starts and stops may come from several
// worker threads at once, so they are serialised by one mutex; the
// configuration pointer is also published atomically so that EngineConfig()
// can read it without taking the lock.
struct EngineState {
  std::mutex mutex;
  int32_t startCount = 0;
  std::atomic<EngineConfiguration*> config{nullptr};
  std::atomic<LoadedSampleReleaser> releaser{nullptr};
};

EngineState& State() {
  static EngineState state;
  return state;
}

// Fields that no scanner profile changes: output switches and image limits.
void SetOutputDefaults(EngineConfiguration* c) {
  c->exportBlockMap = 0;
  c->keepSingularPoints = 0;
  c->spreadEnabled = 1;
  c->densityEnabled = 1;
  c->returnQuality = 1;
  c->writeBackImage = 1;
  c->maxImageSide = 2048;
  c->minImageSide = 16;
}

// Matching switches that no scanner profile changes.
void SetMatchSwitchDefaults(EngineConfiguration* c) {
  c->useType = 1;
  c->useSpread = 1;
  c->useDensity = 1;
  c->useBlockMap = 0;
  c->useQuality = 0;
  c->useNormalisers = 1;
  c->selectionMode = 2;
  c->symmetricMode = 0;
  c->symmetricLow = 20;
  c->symmetricHigh = 500;
  c->scaleSearch = 0;
  c->scaleMin = 80;
  c->scaleMax = 130;
  c->scaleStep = 10;
  c->rawScore = 0;
}

// Thresholds of the verification and enrolment services, and no loaded sample.
void SetServiceDefaults(EngineConfiguration* c) {
  c->verifyRotationTolerance = 120;
  c->verifyThreshold = 48;
  c->enrolRotationTolerance = 120;
  c->enrolThreshold = 60;
  c->loadedSample = nullptr;
  c->sampleLoaded = 0;
}

}  // namespace

void SetDefaultConfiguration(EngineConfiguration* config) {
  if (config == nullptr) return;
  // Zero the whole block, padding included, so that two default
  // configurations are equal byte for byte.
  std::memset(config, 0, sizeof *config);
  SetOutputDefaults(config);
  SetMatchSwitchDefaults(config);
  config->profileMode = kProfileModeStandard;
  SelectScannerProfile(kDefaultProfileId, config);
  SetProfileMode(kProfileModeStandard, config);
  SetServiceDefaults(config);
}

int32_t CheckExtractionParameters(const EngineConfiguration& c) {
  const uint64_t refinePasses = uint64_t{c.refinePassesBase} + c.refinePassesRange;
  if (refinePasses > kPassCountMax) return kInvalidConfiguration;
  if (c.ridgeSmoothPasses != 0 && c.ridgeSmoothRadius < kRidgeSmoothRadiusMin) return kInvalidConfiguration;
  if (refinePasses != 0 && c.refineMethod != 0 && c.refineVariationHigh <= c.refineVariationLow) {
    return kInvalidConfiguration;
  }
  return kOk;
}

int32_t InitEngine() {
  EngineState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.startCount == 0) {
    EngineConfiguration* config = new (std::nothrow) EngineConfiguration{};
    if (config == nullptr) return kOutOfMemory;
    SetDefaultConfiguration(config);
    state.config.store(config, std::memory_order_release);
  }
  return state.startCount++;
}

int32_t ReleaseEngine() {
  EngineState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.startCount == 0) return kEngineStopped;
  --state.startCount;
  if (state.startCount == 0) {
    EngineConfiguration* config = state.config.exchange(nullptr, std::memory_order_acq_rel);
    // A sample left loaded by an identification search goes with the engine.
    const LoadedSampleReleaser releaser = state.releaser.load(std::memory_order_acquire);
    if (config->loadedSample != nullptr && releaser != nullptr) releaser(config->loadedSample);
    delete config;
  }
  return state.startCount;
}

EngineConfiguration* EngineConfig() { return State().config.load(std::memory_order_acquire); }

const EngineConfiguration* ResolveConfiguration(const EngineConfiguration* config) {
  return config != nullptr ? config : EngineConfig();
}

void SetLoadedSampleReleaser(LoadedSampleReleaser releaser) {
  State().releaser.store(releaser, std::memory_order_release);
}

}  // namespace vorsensor
