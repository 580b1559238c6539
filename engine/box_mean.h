#pragma once
// Box mean: every pixel becomes the mean of the square window round it.
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

// In place: each pixel becomes floor(sum of the pixels of its (2r + 1) x (2r + 1)
// window that lie inside the image / their number), computed from the values on
// entry. Cost per pixel does not depend on r. Returns kOk, or kOutOfMemory with
// the image unchanged when the row copies cannot be allocated. `level` picks
// the vector code (every level gives the same values).
int32_t BoxMean(int32_t w, int32_t h, uint8_t* const* image, uint32_t r, SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
