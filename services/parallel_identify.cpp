// Parallel first-match identification. Threads take blocks of references from
// a shared counter in ascending order and lower a shared "first match" bound;
// a block that starts at or beyond the bound is not taken and a thread stops
// inside its block once it passes the bound. Every position below the final
// bound has therefore been compared, so the bound is the sequential answer.
#include "services/parallel_identify.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/result_codes.h"
#include "services/match_templates.h"
#include "services/prepared_sample.h"
#include "services/opened_template.h"
#include "services/verification.h"

namespace vorsensor {
namespace {

// References handed to a thread at a time: large enough that the shared
// counter is touched rarely, small enough that a match early in the gallery
// stops the other threads soon.
constexpr int32_t kBlockSize = 16;

struct SearchState {
  const SealedTemplateSource* references;
  int32_t count;
  std::atomic<int32_t> nextBlock{0};
  std::atomic<int32_t> firstMatch;  // count when no match is known yet
};

void LowerBound(std::atomic<int32_t>* bound, int32_t value) {
  int32_t current = bound->load();
  while (value < current && !bound->compare_exchange_weak(current, value)) {
  }
}

// Compares references block by block against the probe prepared in `workspace`.
void SearchBlocks(SearchState* state, MatchWorkspace* workspace, const EngineConfiguration& config) {
  const CipherKey key = MakeTemplateKey();
  std::array<uint8_t, kSealedTemplateBytes> sealed{};
  std::array<uint8_t, kServiceRecordSize> record{};
  MatchDetails details{};
  details.size = kDetailsShortSize;
  for (;;) {
    const int32_t block = state->nextBlock.fetch_add(1);
    const int64_t start = static_cast<int64_t>(block) * kBlockSize;
    if (start >= state->firstMatch.load()) {
      return;
    }
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(start + kBlockSize, state->count));
    for (int32_t k = static_cast<int32_t>(start); k < end && k < state->firstMatch.load(); ++k) {
      sealed.fill(0);
      if (!(*state->references)(k, sealed.data())) {
        continue;
      }
      OpenSealed(key, sealed.data(), record.data());
      if (MatchPreparedSample(workspace, record.data(), config, &details) == 0) {
        LowerBound(&state->firstMatch, k);
        return;
      }
    }
  }
}

}  // namespace

int32_t IdentifyParallel(const uint8_t* sample, int32_t count, const SealedTemplateSource& references,
                         int32_t threadCount, int32_t* index, int32_t* status, EngineConfiguration* engine) {
  if (index == nullptr || status == nullptr) {
    return 0;
  }
  const EngineConfiguration* config = engine != nullptr ? engine : EngineConfig();
  if (config == nullptr || sample == nullptr) {
    *status = kTemplatesSampleUnusable;
    return 0;
  }
  std::array<uint8_t, kServiceRecordSize> sampleRecord{};
  OpenSealed(MakeTemplateKey(), sample, sampleRecord.data());
  MatchWorkspacePtr own;
  if (PrepareSample(sampleRecord.data(), *config, &own) < 0) {
    *status = kTemplatesSampleUnusable;
    return 0;
  }
  if (count <= 0 || !references) {
    return 1;  // nothing to compare: no match
  }

  if (threadCount <= 0) {
    threadCount = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  }
  const int32_t blocks = (count + kBlockSize - 1) / kBlockSize;
  threadCount = std::min(threadCount, blocks);

  SearchState state;
  state.references = &references;
  state.count = count;
  state.firstMatch.store(count);

  std::vector<std::thread> helpers;
  for (int32_t t = 1; t < threadCount; ++t) {
    try {
      helpers.emplace_back([&state, &sampleRecord, config] {
        MatchWorkspacePtr workspace;
        // A helper that cannot prepare its probe leaves the work to the others.
        if (PrepareSample(sampleRecord.data(), *config, &workspace) >= 0) {
          SearchBlocks(&state, workspace.get(), *config);
        }
      });
    } catch (const std::system_error&) {
      break;  // fewer threads; the calling thread covers whatever is left
    }
  }
  SearchBlocks(&state, own.get(), *config);
  for (std::thread& helper : helpers) {
    helper.join();
  }

  const int32_t first = state.firstMatch.load();
  if (first < count) {
    *index = first;
    *status = kTemplatesMatchFound;
  }
  return 1;
}

}  // namespace vorsensor
