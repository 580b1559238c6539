#pragma once
// The per-format decoders behind DecodeImage, and the sample conversions they
// share. Each decoder fills `image` or returns the reason it failed (without
// the file name, which DecodeImage adds).
#include <cstddef>
#include <climits>
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
// Whole dots per inch from a stated resolution, rounded; an absurd value is
// kept absurd (clamped to 0..INT32_MAX) so that the caller refuses it by its
// size instead of taking it for a missing one.
inline int32_t DpiOf(double dotsPerInch) {
  if (!(dotsPerInch >= 0.0)) return 0;  // NaN or negative
  const double rounded = dotsPerInch + 0.5;
  return rounded >= static_cast<double>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(rounded);
}
// The same from pixels per metre.
inline int32_t DpiFromPerMetre(double perMetre) { return DpiOf(perMetre * 0.0254); }

// Where a resolution came from, for messages.
constexpr const char* kPngResolutionSource = "the file's pHYs chunk";
constexpr const char* kTiffResolutionSource = "the file's XResolution / ResolutionUnit tags";
constexpr const char* kBmpResolutionSource = "the file's pixels-per-metre header field";

}  // namespace vorsensor::imageio
