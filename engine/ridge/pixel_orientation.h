#pragma once
// Per-pixel ridge orientation and reliability over a square window, written
// into the orientation map (orientation 0..119, 127 undefined) and over the
// scratch image (coherence or variation ratio), which is read as grey values
// first. Both take a row image pair of w x h pixels and return kOk, or
// kOutOfMemory when the few rows of working memory cannot be had. `level`
// picks the vector code (every level gives the same values).
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

// Gradient family: mean gradient moments of the (2r+1)² window, divided by the
// full window size also at the borders; coherence over the scratch image.
int32_t GradientPixelOrientation(int32_t w, int32_t h, uint8_t* const* scratch, uint8_t* const* orientationMap,
                                 uint32_t radius, uint8_t gradientEnergyMin, SimdLevel level = MachineSimdLevel());

// Difference family: summed directional differences of the window; variation
// ratio over the scratch image, 255 where the window is flat (largest sum at
// most (2r+1)² * pixelFlatnessMax * 2).
int32_t DifferencePixelOrientation(int32_t w, int32_t h, uint8_t* const* scratch, uint8_t* const* orientationMap,
                                   uint32_t radius, uint8_t pixelFlatnessMax, SimdLevel level = MachineSimdLevel());

// Consumer of orientation rows streamed from an image (see below).
class OrientationRows {
 public:
  virtual ~OrientationRows() = default;
  // Row y (top to bottom): its orientations and, when asked for, reliabilities
  // (else null). The image's rows through y + r + 1 have been read by then and
  // are not read again, so the consumer may overwrite rows up to y.
  virtual void Row(int32_t y, const uint8_t* orientation, const uint8_t* reliability) = 0;
};

// The same measurements without energy or flatness limit, streamed row by row
// into `rows` instead of written into images: nothing but a few rows of
// working memory is allocated, and without reliability the gradient family
// skips the coherence. Return kOk, or kOutOfMemory before the first row.
int32_t StreamGradientOrientation(int32_t w, int32_t h, const uint8_t* const* image, uint32_t radius,
                                  bool withReliability, OrientationRows& rows);
int32_t StreamDifferenceOrientation(int32_t w, int32_t h, const uint8_t* const* image, uint32_t radius,
                                    bool withReliability, OrientationRows& rows);

}  // namespace vorsensor
