// One-to-one verification of two records and the engine's loaded sample.
#include "services/verification.h"

#include <mutex>

#include "engine/result_codes.h"
#include "services/prepared_sample.h"

namespace vorsensor {
namespace {

// Guards `loadedSample` and `sampleLoaded` of every configuration. The engine
// may be used from the host's thread and from worker threads at once, and a
// match against the loaded sample rewrites the workspace's sample slot, so
// every use of the loaded sample happens under this lock.
std::mutex& LoadedSampleLock() {
  static std::mutex lock;
  return lock;
}

EngineConfiguration* Resolve(EngineConfiguration* engine) { return engine != nullptr ? engine : EngineConfig(); }

// The common entry of the loaded sample's services: the caller's configuration
// (or the engine's own; kEngineStopped without one), then, under the lock,
// kSampleInUse unless a sample is loaded exactly when `loaded` says, else
// action(config) still under the lock.
template <typename Action>
int32_t WithSampleState(EngineConfiguration* engine, bool loaded, Action action) {
  EngineConfiguration* config = Resolve(engine);
  if (config == nullptr) {
    return kEngineStopped;
  }
  std::lock_guard<std::mutex> guard(LoadedSampleLock());
  if ((config->sampleLoaded != 0) != loaded) {
    return kSampleInUse;
  }
  return action(config);
}

}  // namespace

int32_t VerifyRecords(const uint8_t* first, const uint8_t* second, MatchDetails* details,
                      EngineConfiguration* engine) {
  EngineConfiguration* config = nullptr;
  const int32_t refused = WithSampleState(engine, false, [&](EngineConfiguration* c) {
    config = c;
    return kOk;
  });
  if (refused != kOk) {
    return refused;
  }
  // The workspace lives only for this call and is never parked in the
  // configuration, so a verification cannot disturb (or be disturbed by) a
  // loaded sample or another thread's verification.
  MatchWorkspacePtr workspace(CreateMatchWorkspace());
  if (!workspace) {
    return kOutOfMemory;
  }
  return MatchPair(workspace.get(), first, kServiceRecordSize, second, kServiceRecordSize,
                   static_cast<int32_t>(config->verifyRotationTolerance),
                   static_cast<int32_t>(config->verifyThreshold), config, details, DetailsCapacity(details));
}

int32_t LoadSample(const uint8_t* record, EngineConfiguration* engine) {
  return WithSampleState(engine, false, [record](EngineConfiguration* config) {
    MatchWorkspacePtr prepared;
    const int32_t result = PrepareSample(record, *config, &prepared);
    if (result >= 0) {
      config->loadedSample = prepared.release();
      config->sampleLoaded = 1;
    }
    return result;
  });
}

int32_t MatchLoadedSample(const uint8_t* record, MatchDetails* details, EngineConfiguration* engine) {
  return WithSampleState(engine, true, [record, details](EngineConfiguration* config) {
    return config->loadedSample == nullptr ? kSampleInUse
                                           : MatchPreparedSample(config->loadedSample, record, *config, details);
  });
}

bool SampleIsLoaded(const EngineConfiguration* engine) {
  const EngineConfiguration* config = ResolveConfiguration(engine);
  if (config == nullptr) {
    return false;
  }
  std::lock_guard<std::mutex> guard(LoadedSampleLock());
  return config->sampleLoaded != 0;
}

int32_t UnloadSample(EngineConfiguration* engine) {
  return WithSampleState(engine, true, [](EngineConfiguration* config) {
    config->sampleLoaded = 0;
    FreeMatchWorkspace(config->loadedSample);
    config->loadedSample = nullptr;
    return kOk;
  });
}

}  // namespace vorsensor
