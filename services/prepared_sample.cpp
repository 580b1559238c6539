// Preparing a probe in a caller-owned workspace and matching records against it.
#include "services/prepared_sample.h"

#include "engine/result_codes.h"

namespace vorsensor {

int32_t PrepareSample(const uint8_t* record, const EngineConfiguration& config, MatchWorkspacePtr* prepared) {
  prepared->reset();
  MatchWorkspacePtr workspace(CreateMatchWorkspace());
  if (!workspace) {
    return kOutOfMemory;
  }
  const int32_t result =
      PrepareProbe(workspace.get(), record, kServiceRecordSize, static_cast<int32_t>(config.verifyRotationTolerance), &config);
  if (result >= 0) {
    *prepared = std::move(workspace);
  }
  return result;
}

int32_t MatchPreparedSample(MatchWorkspace* workspace, const uint8_t* record, const EngineConfiguration& config,
                            MatchDetails* details) {
  return MatchSample(workspace, record, kServiceRecordSize, static_cast<int32_t>(config.verifyThreshold), &config,
                     details, DetailsCapacity(details));
}

}  // namespace vorsensor
