#pragma once
// The counted smoothing passes: every pixel whose pass count (low 3 bits of
// the scratch image) is n is smoothed along its orientation in exactly n
// passes; each pass reads only its entry values.
#include <cstdint>

namespace vorsensor {

// Repeats passes until one finds no count left (one more pass than the
// largest count); every count ends at 0. The orientation map's low 7 bits
// give the orientation. Returns the number of passes that smoothed pixels,
// or kOutOfMemory before any change.
int32_t RunPassCounts(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* orientationMap,
                      uint8_t* const* scratch);

}  // namespace vorsensor
