#pragma once
// The live image: the jobs draw each captured image, and the image as
// extraction left it, into the display the host named with SetDisplay.
#include <cstdint>

#include "component/sensor_state.h"
#include "platform/display.h"

namespace vorsensor {

// Draws the image over the whole display with the palette of `kind`; nothing
// while no display has been set (or it was set to 0).
void ShowCapturedImage(const SensorState& state, const uint8_t* image, int32_t width, int32_t height,
                       platform::PaletteKind kind);

}  // namespace vorsensor
