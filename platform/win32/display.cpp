// Drawing into a window: one device-independent-bitmap stretch over the
// client area, rows top first (negative height), COLORONCOLOR.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>

#include "platform/display.h"

namespace vorsensor::platform {
namespace {

struct BitmapWithPalette {
  BITMAPINFOHEADER header;
  RGBQUAD colours[kPaletteEntries];
};

}  // namespace

void ShowImage(DisplayHandle display, const uint8_t* image, int32_t width, int32_t height, PaletteKind kind) {
  if (display == 0 || image == nullptr || width < 1 || height < 1) return;
  BitmapWithPalette bitmap{};
  bitmap.header.biSize = sizeof(BITMAPINFOHEADER);
  bitmap.header.biWidth = width;
  bitmap.header.biHeight = -height;
  bitmap.header.biPlanes = 1;
  bitmap.header.biBitCount = 8;
  bitmap.header.biCompression = BI_RGB;
  bitmap.header.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height);
  bitmap.header.biXPelsPerMeter = kDisplayDotsPerMetre;
  bitmap.header.biYPelsPerMeter = kDisplayDotsPerMetre;
  bitmap.header.biClrUsed = kPaletteEntries;
  bitmap.header.biClrImportant = kPaletteEntries;
  PaletteEntry table[kPaletteEntries];
  BuildPalette(kind, table);
  for (int32_t i = 0; i < kPaletteEntries; ++i) {
    bitmap.colours[i].rgbBlue = table[i].blue;
    bitmap.colours[i].rgbGreen = table[i].green;
    bitmap.colours[i].rgbRed = table[i].red;
    bitmap.colours[i].rgbReserved = table[i].reserved;
  }
  HWND window = reinterpret_cast<HWND>(display);
  HDC dc = GetDC(window);
  if (dc == nullptr) return;
  RECT client{};
  GetClientRect(window, &client);
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchDIBits(dc, client.left, client.top, client.right - client.left, client.bottom - client.top, 0, 0, width,
                height, image, reinterpret_cast<const BITMAPINFO*>(&bitmap), DIB_RGB_COLORS, SRCCOPY);
  ReleaseDC(window, dc);
}

}  // namespace vorsensor::platform
