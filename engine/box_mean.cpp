// Box mean over a ring of row copies and running column sums; the 3 x 3 mean,
// which the pipeline runs several times per image, has a direct form.
#include "engine/box_mean.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/row_ring.h"

namespace vorsensor {
namespace {

constexpr uint32_t kSmallRadius = 1;

// The 3 x 3 mean for images of at least 2 x 2 pixels: per row, the three-row
// column sums of the input (the row above from a copy, since it has already
// been overwritten), then three columns at a time. Inside pixels divide by 9
// (or 6 on the top and bottom rows), the first and last column by 6 (or 4).
int32_t BoxMeanRadiusOne(int32_t w, int32_t h, uint8_t* const* image) {
  const size_t width = static_cast<size_t>(w);
  std::unique_ptr<uint8_t[]> copies(new (std::nothrow) uint8_t[2 * width]);
  std::unique_ptr<uint16_t[]> column(new (std::nothrow) uint16_t[width]);
  if (copies == nullptr || column == nullptr) return kOutOfMemory;
  uint8_t* above = copies.get();  // input of row y - 1
  uint8_t* current = copies.get() + width;  // input of row y
  uint16_t* sums = column.get();

  for (int32_t y = 0; y < h; ++y) {
    uint8_t* out = image[y];
    std::memcpy(current, out, width);
    const uint8_t* below = y + 1 < h ? image[y + 1] : nullptr;
    if (y > 0 && below != nullptr) {
      for (int32_t x = 0; x < w; ++x) sums[x] = static_cast<uint16_t>(above[x] + current[x] + below[x]);
    } else {
      const uint8_t* other = y > 0 ? above : below;
      for (int32_t x = 0; x < w; ++x) sums[x] = static_cast<uint16_t>(current[x] + other[x]);
    }
    const uint32_t rows = y > 0 && below != nullptr ? 3 : 2;
    out[0] = static_cast<uint8_t>((sums[0] + sums[1]) / (2 * rows));
    if (rows == 3) {
      for (int32_t x = 1; x < w - 1; ++x) out[x] = static_cast<uint8_t>((sums[x - 1] + sums[x] + sums[x + 1]) / 9u);
    } else {
      for (int32_t x = 1; x < w - 1; ++x) out[x] = static_cast<uint8_t>((sums[x - 1] + sums[x] + sums[x + 1]) / 6u);
    }
    out[w - 1] = static_cast<uint8_t>((sums[w - 2] + sums[w - 1]) / (2 * rows));
    uint8_t* swap = above;
    above = current;
    current = swap;
  }
  return kOk;
}

}  // namespace

int32_t BoxMean(int32_t w, int32_t h, uint8_t* const* image, uint32_t r) {
  if (r == kSmallRadius && w >= 2 && h >= 2) return BoxMeanRadiusOne(w, h, image);
  uint8_t* out = nullptr;  // the row being written, taken once per row
  int32_t out_y = -1;
  const bool done = StreamWindowMeans(
      w, h, r, [&](int32_t y, uint8_t* row) { std::memcpy(row, image[y], static_cast<size_t>(w)); },
      [&](int32_t x, int32_t y, uint32_t mean) {
        if (y != out_y) {
          out_y = y;
          out = image[y];
        }
        out[x] = static_cast<uint8_t>(mean);
      });
  return done ? kOk : kOutOfMemory;
}

}  // namespace vorsensor
