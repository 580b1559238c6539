#include "platform/display.h"

namespace vorsensor::platform {
namespace {
constexpr uint8_t kWhite = 255;
}  // namespace

void BuildPalette(PaletteKind kind, PaletteEntry table[kPaletteEntries]) {
  for (int32_t i = 0; i < kPaletteEntries; ++i) {
    PaletteEntry& e = table[i];
    if (kind == PaletteKind::kTwoColour) {
      const uint8_t v = i == 0 ? 0 : kWhite;
      e = PaletteEntry{v, v, v, v};
    } else {
      const uint8_t v = static_cast<uint8_t>(i);
      e = PaletteEntry{v, v, v, 0};
    }
  }
}

int32_t StretchSourceIndex(int32_t d, int32_t source, int32_t destination) {
  if (destination <= 0) return 0;
  return static_cast<int32_t>(static_cast<int64_t>(d) * source / destination);
}

}  // namespace vorsensor::platform
