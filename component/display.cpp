#include "component/display.h"

namespace vorsensor {

void ShowCapturedImage(const SensorState& state, const uint8_t* image, int32_t width, int32_t height,
                       platform::PaletteKind kind) {
  const platform::DisplayHandle display = state.display.load();
  if (display == 0) return;
  platform::ShowImage(display, image, width, height, kind);
}

}  // namespace vorsensor
