#pragma once
// Running totals along a row: the windowed filters take a window's sum along
// the row as the difference of two totals.
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

// totals[j] = values[0] + .. + values[j] for j < count, wrapping modulo 2^32
// (a difference of two totals is the exact sum between them whenever that sum
// fits 32 bits). `level` picks the vector code (every level gives the same
// values).
void RunningTotals(const uint32_t* values, int32_t count, uint32_t* totals, SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
