#pragma once
// The verification and identification service: opens sealed templates and
// matches their records, one to one or as a first-match search.
#include <cstdint>

#include "engine/engine_configuration.h"
#include "services/template_cipher.h"

namespace vorsensor {

// Status values of MatchTemplates.
constexpr int32_t kTemplatesNoMatch = 1;          // the callers' starting value; left so without a match
constexpr int32_t kTemplatesMatchFound = 2;       // `index` names the first matching reference
constexpr int32_t kTemplatesSampleUnusable = -2;  // the search's sample cannot be prepared

// `sample` and each of `references[0 .. count-1]` point at a sealed template
// (the first kSealedTemplateBytes bytes are read; a null entry never matches).
// One reference: the sample is prepared as the probe and the reference verified
// against it. Otherwise (count 0 or less too) the sample is prepared once and
// the references are matched in order until the first match.
// Returns 1 when the service ran to its end and 0 when it stopped early (the
// sample cannot be prepared in the search: status kTemplatesSampleUnusable). On a match
// *status = kTemplatesMatchFound and *index = the reference's position; a
// verification that does not match sets *status = kTemplatesNoMatch, and a
// search without a match leaves *status as the caller set it.
// `engine` null means the engine's own configuration.
int32_t MatchTemplates(const uint8_t* sample, const uint8_t* const* references, int32_t count, int32_t* index,
                       int32_t* status, EngineConfiguration* engine = nullptr);

}  // namespace vorsensor
