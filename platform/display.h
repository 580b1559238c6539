#pragma once
// Drawing an 8-bit image into a display: the whole image is stretched over
// the whole display area with one device-independent-bitmap stretch, through
// a 256-entry colour table. Rows and columns that the stretch eliminates are
// deleted, never blended (COLORONCOLOR), and the aspect ratio is not kept.
//
// A display is a window handle on Windows (GetDC, StretchDIBits). Elsewhere it
// names a display surface (display_surface.h) that the host created.
#include <cstdint>

namespace vorsensor::platform {

using DisplayHandle = std::intptr_t;  // 0: no display

enum class PaletteKind : int32_t {
  kGrey = 0,       // entry i is grey i
  kTwoColour = 1,  // entry 0 black, entries 1..255 white: only 0 pixels draw black
};

constexpr int32_t kPaletteEntries = 256;
constexpr int32_t kDisplayDotsPerMetre = 19685;  // 500 dots per inch

// One colour table entry, in the bitmap's order.
struct PaletteEntry {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
};

// The colour table of `kind`: grey (i, i, i, 0); two-colour (0, 0, 0, 0) then
// (255, 255, 255, 255) for entries 1..255.
void BuildPalette(PaletteKind kind, PaletteEntry table[kPaletteEntries]);

// The source column (or row) that destination column `d` of a stretch from
// `source` to `destination` columns shows: floor(d * source / destination).
int32_t StretchSourceIndex(int32_t d, int32_t source, int32_t destination);

// Draws `image` (width x height, rows top first, one byte per pixel) over the
// whole area of `display` with the palette of `kind`. Nothing happens for a
// display that does not exist, an empty area or a missing image.
void ShowImage(DisplayHandle display, const uint8_t* image, int32_t width, int32_t height, PaletteKind kind);

}  // namespace vorsensor::platform
