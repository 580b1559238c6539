#pragma once
// Block orientation field: the ridge orientation of every 16 x 16 pixel block
// and how reliable it is, each taken over the 3 x 3 blocks round the block.
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

constexpr int32_t kBlockSide = 16;
// Direction grid value of a block without a reliable direction (set by the votes).
constexpr uint8_t kNoBlockDirection = 255;

struct BlockGridDimensions {
  int32_t bw;  // blocks per row: w / 16 (remainder columns belong to no block)
  int32_t bh;  // block rows: h / 16
};
BlockGridDimensions BlockGridSize(int32_t w, int32_t h);

// Both fill the bh rows of bw bytes of the direction grid (orientation 0..119,
// 127 when undefined) and the reliability grid from the grey image. The grids
// must be at most BlockGridSize(w, h). Return kOk, kOutOfRange for a grid
// larger than the image's, or kOutOfMemory (grids unchanged).
//
// Gradient family: reliability is the coherence (255 = all gradients agree),
// 0 unless the mean gradient energy reaches gradientEnergyMin².
int32_t GradientBlockOrientation(int32_t w, int32_t h, const uint8_t* const* image, int32_t bw, int32_t bh,
                                 uint8_t* const* directionGrid, uint8_t* const* reliabilityGrid,
                                 uint8_t gradientEnergyMin, SimdLevel level = MachineSimdLevel());
// `level` picks the vector code here and below (every level gives the same
// values).
// Difference family: reliability is the variation ratio (0 = clear, 255 = none),
// 255 for a block whose largest mean difference is at most blockFlatnessMax x 512.
int32_t DifferenceBlockOrientation(int32_t w, int32_t h, const uint8_t* const* image, int32_t bw, int32_t bh,
                                   uint8_t* const* directionGrid, uint8_t* const* reliabilityGrid,
                                   uint8_t blockFlatnessMax, SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
