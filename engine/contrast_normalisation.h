#pragma once
// Contrast normalisation: stretches every grey value by its local mean and the
// local mean deviation from it, so ridges and valleys span 0..255 everywhere.
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

// `mean` holds each pixel's local mean of `grey` on entry (BoxMean of a copy)
// and the normalised image on return; `grey` is not changed. The deviation is
// the mean of |mean - grey| over the (2r + 1) x (2r + 1) window clipped at the
// edges; the grey value is then stretched from [mean - d, mean + d] (cut to
// 0..255) onto 0..255. Returns kOk, or kOutOfMemory with nothing changed.
// `level` picks the vector code (every level gives the same values).
int32_t NormaliseContrast(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* mean, uint32_t r,
                          SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
