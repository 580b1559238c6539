#pragma once
// A match workspace holding a prepared probe, owned by one caller. The engine's
// loaded sample, the identification search and the parallel search all hold
// their probe this way; only the holder differs.
#include <cstdint>
#include <memory>

#include "engine/engine_configuration.h"
#include "matching/matcher.h"

namespace vorsensor {

// Size of the record buffers the services read: the opened form of a sealed template.
constexpr size_t kServiceRecordSize = 500;

// The services hand the matcher short details records (or none).
inline size_t DetailsCapacity(const MatchDetails* details) { return details != nullptr ? sizeof(MatchDetails) : 0; }

struct MatchWorkspaceDeleter {
  void operator()(MatchWorkspace* workspace) const { FreeMatchWorkspace(workspace); }
};
using MatchWorkspacePtr = std::unique_ptr<MatchWorkspace, MatchWorkspaceDeleter>;

// Creates a workspace and prepares `record` (kServiceRecordSize bytes) as its
// probe with the rotation tolerance `verifyRotationTolerance`. On success
// (0 or more) `*prepared` owns the workspace; on failure it stays empty and the
// result is kOutOfMemory or the matcher's error.
int32_t PrepareSample(const uint8_t* record, const EngineConfiguration& config, MatchWorkspacePtr* prepared);

// Matches `record` against the probe prepared in `workspace` with the threshold
// `verifyThreshold`: 0 matched, -1 not matched, other negatives errors.
int32_t MatchPreparedSample(MatchWorkspace* workspace, const uint8_t* record, const EngineConfiguration& config,
                            MatchDetails* details);

}  // namespace vorsensor
