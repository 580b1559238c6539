#pragma once
// Ridge density from a binary image (0 ridge, 255 other): the share of edge
// pixels among the foreground pixels. A foreground pixel lies at least one
// pixel inside the image and has an orientation map value below 128; it is an
// edge pixel when its 3 x 3 square sums to 9..2286, that is, holds both a 0
// and a 255.
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

// Percentage by which a density is scaled at orientation o < 120: ridges
// running diagonally cross a square window on a longer path, so their edge
// share comes out higher; 89 + 11 cos(6o degrees), halves rounded up.
uint8_t DirectionFactor(uint8_t o);

// Replaces the binary scratch image by the edge density map: for every pixel,
// with F foreground and E edge pixels in its window of half-width r (clipped),
// (E x 255 / F) x factor / 100, or 0 when F = 0; the factor is that of the
// pixel's orientation (low 7 bits of its map value), 100 for none. Returns
// kOk, or kOutOfMemory with the image unchanged. `level` picks the vector
// code (every level gives the same values).
int32_t EdgeDensity(int32_t w, int32_t h, uint8_t* const* scratch, const uint8_t* const* orientationMap, uint32_t r,
                    SimdLevel level = MachineSimdLevel());

// The density byte of a binary image: E x 255 / F over the whole image, 0
// when it has no foreground pixel.
uint8_t RidgeDensity(int32_t w, int32_t h, const uint8_t* const* binaryImage, const uint8_t* const* orientationMap,
                     SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
