// Box mean over a ring of row copies and running column sums.
#include "engine/box_mean.h"

#include <cstring>

#include "engine/result_codes.h"
#include "engine/row_ring.h"

namespace vorsensor {

int32_t BoxMean(int32_t w, int32_t h, uint8_t* const* image, uint32_t r) {
  const bool done = StreamWindowSums(
      w, h, r, [&](int32_t y, uint8_t* row) { std::memcpy(row, image[y], static_cast<size_t>(w)); },
      [&](int32_t x, int32_t y, auto sum, auto count) { image[y][x] = static_cast<uint8_t>(sum / count); });
  return done ? kOk : kOutOfMemory;
}

}  // namespace vorsensor
