#pragma once
// Background levelling: flattens every pixel towards its 3 x 3 mean in
// proportion to how little local contrast it has compared with the image as a
// whole, smoothing quiet background while ridges keep most of their swing.
#include <cstdint>

namespace vorsensor {

// localMean and localDeviation are w x h scratch images (they end holding the
// 3 x 3 mean and deviation of grey); output may be grey itself (levelling in
// place) or a separate image, but neither scratch image.
void LevelBackground(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* localMean,
                     uint8_t* const* localDeviation, uint8_t* const* output);

}  // namespace vorsensor
