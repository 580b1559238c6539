#pragma once
// Resampling a grey image to another size: the engine works at 500 pixels per
// inch, so images of other resolutions are brought to that scale first.
#include <cstdint>

namespace vorsensor {

// Fills the nw x nh target from the width x height source: rows copied when the
// sizes are equal, the rounded-down mean of 2 x 2 blocks when the target is
// exactly half in both directions, else bilinear with weights in hundredths
// (a weight falling exactly on a source row or column between differing sizes
// is taken as 50 / 50).
void ResampleImage(int32_t width, int32_t height, const uint8_t* const* source, int32_t nw, int32_t nh,
                   uint8_t* const* target);

}  // namespace vorsensor
