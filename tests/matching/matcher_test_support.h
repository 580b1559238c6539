#pragma once
// Small shared pieces of the matcher tests: a workspace that frees itself,
// default parameters, and loading sets into prepared slots.
#include <memory>

#include "engine/engine_configuration.h"
#include "matching/match_parameters.h"
#include "matching/match_state.h"
#include "matching/pair_tables.h"

namespace vorsensor::testing {

struct WorkspaceDeleter {
  void operator()(MatchWorkspace* w) const { FreeMatchWorkspace(w); }
};
using WorkspacePtr = std::unique_ptr<MatchWorkspace, WorkspaceDeleter>;

inline WorkspacePtr NewWorkspace() { return WorkspacePtr(CreateMatchWorkspace()); }

inline EngineConfiguration DefaultConfig() {
  EngineConfiguration config;
  SetDefaultConfiguration(&config);
  return config;
}

inline MatchParameters DefaultParameters() {
  const EngineConfiguration config = DefaultConfig();
  MatchParameters p;
  ReadMatchParameters(&config, &p);
  return p;
}

// Copies the sets into the probe and sample slots and prepares them as a
// comparison would (probe in both directions, sample against the probe).
inline bool PrepareSlots(MatchWorkspace* w, const FeatureSet& probe, const FeatureSet& sample,
                         const MatchParameters& p) {
  CopyFeatureSet(&w->probe.set, &probe);
  CopyFeatureSet(&w->sample.set, &sample);
  SetRotationMask(w, 120);
  if (PrepareSet(w, &w->probe, PairDirections::kBoth, p.pairMaxDistance, p) != 0) return false;
  return PrepareSet(w, &w->sample, PairDirections::kOne, SampleDistanceLimit(w->probe, p), p) == 0;
}

}  // namespace vorsensor::testing
