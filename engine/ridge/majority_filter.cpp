// Majority vote over copies of the row above and the current row (the row
// below is still unwritten) and three-row column sums.
#include "engine/ridge/majority_filter.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/result_codes.h"

namespace vorsensor {
namespace {
constexpr uint32_t kMajoritySum = 128 * 9;  // a square summing below this is mostly ridge
constexpr uint8_t kRidge = 0;
constexpr uint8_t kFrame = 255;
}  // namespace

int32_t MajorityFilter(int32_t w, int32_t h, uint8_t* const* ridgeImage) {
  if (w <= 0 || h <= 0) return kOk;
  const size_t width = static_cast<size_t>(w);
  std::unique_ptr<uint8_t[]> copies(new (std::nothrow) uint8_t[2 * width]);
  std::unique_ptr<uint16_t[]> column(new (std::nothrow) uint16_t[width]);
  if (copies == nullptr || column == nullptr) return kOutOfMemory;
  uint8_t* above = copies.get();
  uint8_t* current = copies.get() + width;
  uint16_t* sums = column.get();
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* out = ridgeImage[y];
    std::memcpy(current, out, width);
    if (y == 0 || y == h - 1) {
      std::memset(out, kFrame, width);
    } else {
      const uint8_t* below = ridgeImage[y + 1];
      for (int32_t x = 0; x < w; ++x) sums[x] = static_cast<uint16_t>(above[x] + current[x] + below[x]);
      out[0] = kFrame;
      for (int32_t x = 1; x < w - 1; ++x) {
        out[x] = static_cast<uint32_t>(sums[x - 1]) + sums[x] + sums[x + 1] < kMajoritySum ? kRidge : kFrame;
      }
      out[w - 1] = kFrame;
    }
    uint8_t* swap = above;
    above = current;
    current = swap;
  }
  return kOk;
}

}  // namespace vorsensor
