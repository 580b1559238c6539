#pragma once
// Binarisation of the smoothed grey ridge image: 0 where a pixel is darker
// than the mean of the square window round it (a ridge), 255 elsewhere.
// Windows are clipped at the image border and their means divide by the
// pixels actually inside (truncating). Every comparison uses the values the
// image had on entry. All return kOk, or kOutOfMemory with nothing written.
// `level` picks the vector code (every level gives the same values).
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

constexpr uint8_t kRidgePixel = 0;
constexpr uint8_t kValleyPixel = 255;

// One window of half-width r for every pixel, in place.
int32_t BinarizeByLocalMean(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t r);

// scratch[y][x] = 0 when ridgeImage[y][x] < (mean of the rSmall window + mean
// of the rLarge window) / 2, else 255; the ridge image is not changed.
int32_t BinarizeByTwoMeans(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* scratch,
                           uint32_t rSmall, uint32_t rLarge, SimdLevel level = MachineSimdLevel());

// In place, each pixel against the mean of the window its density e =
// densityMap[y][x] selects: rSmall when e >= densityHigh, rMedium when
// densityLow <= e < densityHigh, rLarge when e < densityLow. Any radii work
// (the ring holds rows for the largest).
int32_t BinarizeByDensity(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* densityMap,
                          uint8_t densityHigh, uint8_t densityLow, uint32_t rSmall, uint32_t rMedium, uint32_t rLarge,
                          SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
