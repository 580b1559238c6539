#pragma once
// Row images: h rows of w bytes indexed [row][column], the working images of
// every engine stage. A RowImage owns its pixels (one block) and its row
// pointer array; stages index it through rows() exactly like an array of rows.
#include <cstdint>
#include <memory>

namespace vorsensor {

class RowImage {
 public:
  RowImage() = default;
  RowImage(RowImage&&) noexcept = default;
  RowImage& operator=(RowImage&&) noexcept = default;
  RowImage(const RowImage&) = delete;
  RowImage& operator=(const RowImage&) = delete;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // True once allocated (an allocated 0-row image is valid too).
  bool valid() const { return rows_ != nullptr; }

  uint8_t* operator[](int32_t row) { return rows_[row]; }
  const uint8_t* operator[](int32_t row) const { return rows_[row]; }
  uint8_t** rows() { return rows_.get(); }
  const uint8_t* const* rows() const { return rows_.get(); }

 private:
  friend RowImage AllocRowImage(int32_t width, int32_t height);
  std::unique_ptr<uint8_t[]> pixels_;
  std::unique_ptr<uint8_t*[]> rows_;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

// A new row image, pixels not cleared. On allocation failure (or a negative
// size) the result is not valid() and nothing stays allocated.
RowImage AllocRowImage(int32_t width, int32_t height);
// Copies `width` bytes of each of `height` rows from source to target.
void CopyRowImage(uint8_t* const* target, const uint8_t* const* source, int32_t width, int32_t height);
// Fills every pixel with one value.
void FillRowImage(RowImage& image, uint8_t value);

}  // namespace vorsensor
