#pragma once
// Verify and Identify on template texts, as plain library functions, and two
// additions for SDK users: the graded score of one pair and a parallel
// identification over a large gallery.
//
// The automation object answers Verify with 0 and Identify with -1 while it is
// not open; that check belongs to the object, so these functions do not take
// an opened flag. `engine` null means the engine's own configuration; while
// the engine is stopped nothing matches (Verify 0, Identify -1).
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/engine_configuration.h"

namespace vorsensor {

// 1 when the two template texts come from the same finger, else 0. The second
// text is prepared as the probe and the first matched against it.
int32_t Verify(std::string_view text1, std::string_view text2, EngineConfiguration* engine = nullptr);

// The position (from 0) of the first reference text that matches `sample`, or
// -1 (no match, an empty list, or a sample that cannot be prepared).
int32_t Identify(std::string_view sample, const std::vector<std::string_view>& references,
                 EngineConfiguration* engine = nullptr);

// The best score of the pair in the roles Verify gives them (text2 the probe),
// found with threshold 0 so that it is graded; a negative error when a text
// does not hold a readable template.
int32_t BestScoreOfTexts(std::string_view text1, std::string_view text2,
                         const EngineConfiguration* engine = nullptr);

// Identify's answer, computed on `threadCount` threads (0 or less: one per
// hardware thread). Each thread decodes and opens its share of the gallery.
int32_t IdentifyParallel(std::string_view sample, const std::vector<std::string_view>& references,
                         int32_t threadCount, EngineConfiguration* engine = nullptr);

}  // namespace vorsensor
