#pragma once
// The per-format decoders behind DecodeImage, and the sample conversions they
// share. Each decoder fills `image` or returns the reason it failed (without
// the file name, which DecodeImage adds).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imageio/grey_image.h"

namespace vorsensor::imageio {

std::string DecodePng(const uint8_t* data, size_t size, GreyImage& image);
std::string DecodeTiff(const uint8_t* data, size_t size, GreyImage& image);
std::string DecodeBmp(const uint8_t* data, size_t size, GreyImage& image);
std::string DecodePnm(const uint8_t* data, size_t size, GreyImage& image);

// Checks that an image can be written (size and buffer agree); empty when it can.
std::string CheckWritable(const GreyImage& image);
// Encodes an 8-bit grey PNG into `out`; empty on success.
std::string EncodePngBytes(const GreyImage& image, std::vector<uint8_t>& out);

// Checks the dimensions against the reading limits; empty when acceptable.
std::string CheckDimensions(int64_t width, int64_t height);

// Luma of an 8-bit RGB triple with the weights 299/587/114, rounded.
inline uint8_t GreyOfRgb(uint32_t r, uint32_t g, uint32_t b) {
  return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}
// A grey value with 8-bit alpha blended onto white.
inline uint8_t OverWhite(uint32_t grey, uint32_t alpha) {
  return static_cast<uint8_t>((grey * alpha + 255 * (255 - alpha) + 127) / 255);
}
// A sample 0..maxval scaled to 0..255, rounded.
inline uint8_t ScaleSample(uint32_t value, uint32_t maxval) {
  return static_cast<uint8_t>((uint64_t{value} * 255 + maxval / 2) / maxval);
}
// Dots per inch from pixels per metre / per centimetre, rounded.
inline int32_t DpiFromPerMetre(double perMetre) {
  const double dpi = perMetre * 0.0254 + 0.5;
  return dpi >= 1.0 && dpi < 1.0e6 ? static_cast<int32_t>(dpi) : 0;
}

}  // namespace vorsensor::imageio
