// Row image allocation, copy and fill. The pixels live in one block and the
// row pointers index into it, so an image is two allocations that its owner
// frees automatically.
#include "engine/row_image.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

namespace vorsensor {

RowImage AllocRowImage(int32_t width, int32_t height) {
  RowImage image;
  if (width < 0 || height < 0) return image;
  const uint64_t pixelCount = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (pixelCount > std::numeric_limits<size_t>::max()) return image;
  std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[static_cast<size_t>(pixelCount)]);
  std::unique_ptr<uint8_t*[]> rows(new (std::nothrow) uint8_t*[static_cast<size_t>(height)]);
  if (pixels == nullptr || rows == nullptr) return image;  // both freed by their owners
  for (int32_t r = 0; r < height; ++r) {
    rows[r] = pixels.get() + static_cast<size_t>(r) * static_cast<size_t>(width);
  }
  image.pixels_ = std::move(pixels);
  image.rows_ = std::move(rows);
  image.width_ = width;
  image.height_ = height;
  return image;
}

void CopyRowImage(uint8_t* const* target, const uint8_t* const* source, int32_t width, int32_t height) {
  if (target == nullptr || source == nullptr || width <= 0) return;
  for (int32_t r = 0; r < height; ++r) {
    std::memmove(target[r], source[r], static_cast<size_t>(width));
  }
}

void FillRowImage(RowImage& image, uint8_t value) {
  if (!image.valid() || image.width() <= 0) return;
  for (int32_t r = 0; r < image.height(); ++r) {
    std::memset(image[r], value, static_cast<size_t>(image.width()));
  }
}

}  // namespace vorsensor
