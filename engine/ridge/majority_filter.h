#pragma once
// The 3 x 3 majority vote that cleans single-pixel noise off the binary ridge
// image and frames it in white.
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

// In place: a pixel of rows 1..h-2 and columns 1..w-2 becomes 0 when the sum
// of its 3 x 3 square (entry values) is below 1152 (128 x 9; for binary input:
// at least five of the nine are 0), else 255; the outermost rows and columns
// become 255. Returns kOk or kOutOfMemory (image unchanged). `level` picks
// the vector code (every level gives the same values).
int32_t MajorityFilter(int32_t w, int32_t h, uint8_t* const* ridgeImage, SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
