// Best score of one pair: the matcher with threshold 0.
#include "services/best_score.h"

#include <array>

#include "engine/result_codes.h"
#include "services/match_templates.h"
#include "services/prepared_sample.h"
#include "services/opened_template.h"

namespace vorsensor {

int32_t BestScore(const uint8_t* probe, const uint8_t* sample, const EngineConfiguration* engine) {
  const EngineConfiguration* config = ResolveConfiguration(engine);
  if (config == nullptr) {
    return kEngineStopped;
  }
  if (probe == nullptr || sample == nullptr) {
    return kMissingArgument;
  }
  MatchWorkspacePtr workspace(CreateMatchWorkspace());
  if (!workspace) {
    return kOutOfMemory;
  }
  MatchDetails details{};
  details.size = kDetailsShortSize;
  const int32_t answer = MatchPair(workspace.get(), probe, kServiceRecordSize, sample, kServiceRecordSize,
                                   static_cast<int32_t>(config->verifyRotationTolerance), 0, config, &details,
                                   sizeof(details));
  // With threshold 0 every score passes, so a negative answer is an error.
  return answer < 0 ? answer : details.score;
}

int32_t BestScoreOfTemplates(const uint8_t* probeSealed, const uint8_t* sampleSealed,
                             const EngineConfiguration* engine) {
  if (probeSealed == nullptr || sampleSealed == nullptr) {
    return kMissingArgument;
  }
  const CipherKey key = MakeTemplateKey();
  std::array<uint8_t, kServiceRecordSize> probe{};
  std::array<uint8_t, kServiceRecordSize> sample{};
  OpenSealed(key, probeSealed, probe.data());
  OpenSealed(key, sampleSealed, sample.data());
  return BestScore(probe.data(), sample.data(), engine);
}

}  // namespace vorsensor
