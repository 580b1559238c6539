#pragma once
// Thinning: turns the binary ridge image (0 ridge, 255 other, with a frame of
// 255) into a one-pixel-wide skeleton in place, by two sub-passes per
// iteration that remove ridge pixels whose eight neighbours form one of the
// deletable patterns.
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

// 1 for each neighbourhood code whose centre pixel is removed. Bit k of the
// code is set when the k-th neighbour is ridge, counted N, NE, E, SE, S, SW,
// W, NW in the first sub-pass and from S (S, SW, W, NW, N, NE, E, SE) in the
// second.
extern const uint8_t kDeletionTable[256];

// Thins the w x h image in place: at most maxIterations iterations, ending
// early after one that removes nothing. The outermost rows and columns are
// never changed. Returns kOk, or kOutOfMemory (image unchanged) when its
// scratch planes cannot be allocated. `level` picks the vector code (every
// level gives the same image).
int32_t Thin(int32_t w, int32_t h, uint8_t* const* image, int32_t maxIterations,
             SimdLevel level = MachineSimdLevel());

// The same thinning by a table look-up per pixel on byte rows; kept as the
// reference the tests compare Thin with.
int32_t ThinPlain(int32_t w, int32_t h, uint8_t* const* image, int32_t maxIterations);

}  // namespace vorsensor
