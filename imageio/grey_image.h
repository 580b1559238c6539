#pragma once
// The 8-bit grey image the tools and tests pass around, and the results of
// reading and writing image files.
#include <cstdint>
#include <string>
#include <vector>

namespace vorsensor::imageio {

// width x height bytes, rows top to bottom without gaps, 0 black, 255 white.
// dpi is the resolution the file states (rounded to whole dots per inch and
// kept within 0..INT32_MAX however absurd the stated value), and dpiSource
// names the field that states it ("the pHYs chunk", ...); dpi is 0 and
// dpiSource empty when the file states none.
struct GreyImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
  int32_t dpi = 0;
  std::string dpiSource;

  uint8_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

// Either an image or a message naming the file and the reason it could not be read.
struct ImageResult {
  GreyImage image;
  std::string error;
  bool ok() const { return error.empty(); }
};

// Empty error on success.
struct WriteResult {
  std::string error;
  bool ok() const { return error.empty(); }
};

}  // namespace vorsensor::imageio
