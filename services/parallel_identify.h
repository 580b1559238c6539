#pragma once
// First-match identification over a large gallery on several threads. The
// answer is the one the sequential search of MatchTemplates gives: the lowest
// position of a matching reference.
#include <cstdint>
#include <functional>

#include "engine/engine_configuration.h"

namespace vorsensor {

// Writes reference `index`'s sealed template (kSealedTemplateBytes bytes) to
// `sealed`; false when there is none (the reference then does not match).
// Called from several threads at once, each time with a different index.
using SealedTemplateSource = std::function<bool(int32_t index, uint8_t* sealed)>;

// Opens and reads `sample` once; every thread prepares it as the probe in its
// own workspace (a comparison rewrites its workspace's sample slot) and takes
// blocks of references in ascending order until the first match is settled.
// `threadCount` 0 or less means one thread per hardware thread; the calling
// thread is one of them. Results and statuses as the search of MatchTemplates:
// returns 1 when the search ran to its end, 0 when the sample cannot be
// prepared (*status = kTemplatesSampleUnusable); on a match *status =
// kTemplatesMatchFound and *index = the lowest matching position, else
// *status is left as the caller set it.
int32_t IdentifyParallel(const uint8_t* sample, int32_t count, const SealedTemplateSource& references,
                         int32_t threadCount, int32_t* index, int32_t* status,
                         EngineConfiguration* engine = nullptr);

}  // namespace vorsensor
