#pragma once
// Orientation refresh after the fixed smoothing passes: every pixel's
// orientation is measured again on the smoothed ridge image (which is not
// changed) and written into bits 0..6 of the orientation map, keeping the
// background mark in bit 7. The low 3 bits of every scratch pixel (the edge
// density map) are cleared and, for foreground pixels that no singular point
// guards, take a pass count: refinePassesBase plus up to refinePassesRange
// extra passes, more as the orientation gets less reliable. Both return kOk,
// or kOutOfMemory with nothing changed.
#include <cstdint>

#include "engine/feature_set.h"
#include "engine/simd_level.h"

namespace vorsensor {

constexpr uint8_t kPassCountBits = 0x07;  // low bits of the scratch image holding a pass count

struct PassCountRule {
  uint8_t high;
  uint8_t low;
  uint32_t base;
  uint32_t range;
};

// Extra passes k (0..range) for coherence c: c at or above high gives 0, at
// or below low the full range, rounded to the nearest in between; 0 when
// high = low.
uint32_t GradientExtraPasses(uint8_t coherence, const PassCountRule& rule);
// Extra passes k (0..range) for variation ratio q: at or below low 0, at or
// above high the full range, counted in steps of high - low from half a step.
uint32_t DifferenceExtraPasses(uint8_t ratio, const PassCountRule& rule);

// Gradient moments over the window of half-width r; high / low are coherences.
// `level` picks the vector code of the rows' marks and counts (every level
// gives the same values).
int32_t RefreshByGradient(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* orientationMap,
                          uint8_t* const* scratch, const SingularPoint* singularPoints, int32_t singularCount,
                          uint32_t r, const PassCountRule& rule, uint32_t singularGuardRadius,
                          SimdLevel level = MachineSimdLevel());

// Directional differences over the window; high / low are variation ratios;
// an undefined orientation is stored as 127.
int32_t RefreshByDifferences(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* orientationMap,
                             uint8_t* const* scratch, const SingularPoint* singularPoints, int32_t singularCount,
                             uint32_t r, const PassCountRule& rule, uint32_t singularGuardRadius,
                          SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
