#pragma once
// Slow references for the ridge image stages, written from the definitions
// with direct loops over whole images (no row rings, no running sums).
#include <cstdint>
#include <vector>

#include "engine/ridge/line_smoothing.h"
#include "engine/row_image.h"

namespace vorsensor::testing {

// The kernel of orientation o as a 13 x 13 weight mask (index [dy + 6][dx + 6]).
struct LineMask {
  uint32_t weight[kLineRows][kLineRows] = {};
};
inline LineMask MaskOf(uint8_t o) {
  LineMask mask;
  const LineKernel& kernel = LineKernelOf(o);
  mask.weight[kLineReach][kLineReach] = kernel.centre;
  for (int32_t t = 0; t < kernel.count; ++t) {
    const LineTap& tap = kernel.taps[t];
    mask.weight[kLineReach + tap.dy][kLineReach + tap.dx] += tap.weight;
    mask.weight[kLineReach - tap.dy][kLineReach - tap.dx] += tap.weight;
  }
  return mask;
}

// The smoothed value of (x, y) of `image`: the weighted sum of the mask
// positions inside the image divided by their weights; without orientation
// the mean of the 3 x 3 pixels inside.
inline uint8_t SlowLineSmooth(const RowImage& image, int32_t x, int32_t y, uint8_t o) {
  const int32_t w = image.width(), h = image.height();
  uint64_t sum = 0, total = 0;
  if (o >= kLineOrientations) {
    for (int32_t yy = y - 1; yy <= y + 1; ++yy) {
      for (int32_t xx = x - 1; xx <= x + 1; ++xx) {
        if (yy < 0 || yy >= h || xx < 0 || xx >= w) continue;
        sum += image[yy][xx];
        ++total;
      }
    }
    return static_cast<uint8_t>(sum / total);
  }
  const LineMask mask = MaskOf(o);
  for (int32_t dy = -kLineReach; dy <= kLineReach; ++dy) {
    for (int32_t dx = -kLineReach; dx <= kLineReach; ++dx) {
      const uint32_t weight = mask.weight[dy + kLineReach][dx + kLineReach];
      if (weight == 0 || y + dy < 0 || y + dy >= h || x + dx < 0 || x + dx >= w) continue;
      sum += static_cast<uint64_t>(weight) * image[y + dy][x + dx];
      total += weight;
    }
  }
  return static_cast<uint8_t>(sum / total);
}

// Every pixel whose `selected` holds smoothed from a copy of the image along
// the low 7 bits of its orientation.
template <typename Selected>
void SlowSmoothImage(RowImage& image, const RowImage& orientation, Selected selected) {
  RowImage entry = AllocRowImage(image.width(), image.height());
  CopyRowImage(entry.rows(), image.rows(), image.width(), image.height());
  for (int32_t y = 0; y < image.height(); ++y) {
    for (int32_t x = 0; x < image.width(); ++x) {
      if (selected(x, y)) image[y][x] = SlowLineSmooth(entry, x, y, static_cast<uint8_t>(orientation[y][x] & 0x7F));
    }
  }
}

}  // namespace vorsensor::testing
