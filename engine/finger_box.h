#pragma once
// Cutting an image down to the finger: the box round the dark part of the
// image, the cut-out the pipeline then runs on, and the way back (pasting the
// processed cut-out into the full image and moving the features to full-image
// coordinates).
#include <cstdint>

#include "engine/feature_set.h"

namespace vorsensor {

constexpr int32_t kFingerBoxAlign = 16;  // box origins and sides are whole blocks where they can be

struct FingerBox {
  int32_t x0;
  int32_t y0;
  int32_t width;
  int32_t height;
};

// The box of the nw x nh image whose columns and rows are dark enough:
// a column counts when 100 x (sum of 255 - pixel) / nh reaches `level` (rows
// likewise with nw). The origin is the first such column / row, moved back so
// that at least `minSide` pixels remain and rounded down to a multiple of 16;
// the side reaches the last such column / row, is at least `minSide`, is
// rounded up to a multiple of 16 and ends inside the image. `minSide` must not
// exceed nw or nh.
FingerBox FindFingerBox(int32_t nw, int32_t nh, const uint8_t* const* image, uint32_t level, uint32_t minSide);

// True when the box is not the whole nw x nh image.
bool CutsImage(const FingerBox& box, int32_t nw, int32_t nh);

// Copies the box area of `image` into `cutout` (box.width x box.height).
void CutImage(const uint8_t* const* image, const FingerBox& box, uint8_t* const* cutout);

// Puts the processed cut-out back into the nw x nh image at the box and sets
// every pixel outside the box to 255.
void PasteImage(uint8_t* const* image, int32_t nw, int32_t nh, const FingerBox& box, const uint8_t* const* cutout);

// Moves the minutiae and singular points by the box origin and, when the set
// holds a block grid, rebuilds it for the nw x nh image: nw / 16 by nh / 16
// (at most 128 each), the old grid moved by the origin's blocks, 255 elsewhere.
void ShiftFeatures(FeatureSet* features, const FingerBox& box, int32_t nw, int32_t nh);

}  // namespace vorsensor
