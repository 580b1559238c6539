// Drawing on systems without windows: the display names a display surface.
#include "platform/display.h"
#include "platform/display_surface.h"

namespace vorsensor::platform {

void ShowImage(DisplayHandle display, const uint8_t* image, int32_t width, int32_t height, PaletteKind kind) {
  DrawIntoDisplaySurface(display, image, width, height, kind);
}

}  // namespace vorsensor::platform
