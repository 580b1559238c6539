#pragma once
// Foreground segmentation by a vote of the per-pixel reliability over a square
// window, and the image quality: the mean reliability of the foreground.
//
// A pixel whose window holds at most half of a full window of reliable pixels
// becomes background (bit 7 of its orientation map value set) unless it lies
// within the guard radius of a singular point. The vote reads only the
// reliability image and writes only bit 7 of the map.
#include <cstdint>

#include "engine/feature_set.h"
#include "engine/simd_level.h"

namespace vorsensor {

constexpr uint8_t kBackgroundMark = 0x80;  // bit 7 of an orientation map value

// Reliable: coherence above coherenceMin. Returns the quality 0..255 (0 when no
// pixel is foreground), or kOutOfMemory. `level` picks the vector code here and
// below (every level gives the same values).
int32_t ForegroundVoteByCoherence(int32_t w, int32_t h, uint8_t* const* orientationMap,
                                  const uint8_t* const* coherence, const SingularPoint* singularPoints,
                                  int32_t singularCount, uint32_t radius, uint8_t coherenceMin,
                                  uint32_t singularGuardRadius, SimdLevel level = MachineSimdLevel());

// Reliable: variation ratio below pixelVariationMax. Returns the mean ratio of
// the foreground 0..255 (255 when no pixel is foreground), or kOutOfMemory.
int32_t ForegroundVoteByVariation(int32_t w, int32_t h, uint8_t* const* orientationMap,
                                  const uint8_t* const* variation, const SingularPoint* singularPoints,
                                  int32_t singularCount, uint32_t radius, uint8_t pixelVariationMax,
                                  uint32_t singularGuardRadius, SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
