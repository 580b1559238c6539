// Arbitrary bytes as an image file. Decoding must end in an image or an error
// message, never a crash or an overread; a decoded image must be consistent
// (its pixel count matches its size and stays within the reading limits) and
// must survive a PNG round trip unchanged.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "imageio/image_io.h"

using namespace vorsensor::imageio;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  const ImageResult result = DecodeImage(bytes, "fuzz-input");
  if (!result.ok()) return 0;
  const GreyImage& image = result.image;
  if (image.width <= 0 || image.height <= 0 || image.width > kMaxImageSide || image.height > kMaxImageSide ||
      static_cast<int64_t>(image.width) * image.height > kMaxImagePixels ||
      image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
    std::abort();
  }
  std::vector<uint8_t> png;
  if (!EncodePng(image, png).ok()) std::abort();
  const ImageResult again = DecodeImage(png, "round-trip");
  if (!again.ok() || again.image.pixels != image.pixels) std::abort();
  return 0;
}
