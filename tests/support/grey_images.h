#pragma once
// Small grey test images: random, constant and stripe patterns as row images.
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/row_image.h"
#include "support/random.h"

namespace vorsensor::testing {

// A w x h image whose pixel (x, y) is value(x, y).
inline RowImage MakeImage(int32_t w, int32_t h, const std::function<uint8_t(int32_t, int32_t)>& value) {
  RowImage image = AllocRowImage(w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) image[y][x] = value(x, y);
  }
  return image;
}

inline RowImage RandomImage(int32_t w, int32_t h, TestRandom& random) {
  return MakeImage(w, h, [&](int32_t, int32_t) { return random.Byte(); });
}

inline RowImage ConstantImage(int32_t w, int32_t h, uint8_t value) {
  return MakeImage(w, h, [value](int32_t, int32_t) { return value; });
}

// Full-contrast stripes: black for the first half of each period of `phase`, white after.
inline uint8_t Stripe(int32_t phase, int32_t period) {
  const int32_t p = ((phase % period) + period) % period;
  return p < period / 2 ? 0 : 255;
}

// A triangle wave over 0..255 with the given period, smoother than Stripe.
inline uint8_t Wave(int32_t phase, int32_t period) {
  const int32_t p = ((phase % period) + period) % period;
  const int32_t half = period / 2;
  return static_cast<uint8_t>((p < half ? p : period - p) * 255 / half);
}

// Sum and count of value(x', y') over the (2r + 1) x (2r + 1) window about
// (x, y), clipped to the w x h image: the plain reference of the window stages.
struct WindowSum {
  int64_t sum;
  int64_t count;
};
template <typename Value>
WindowSum ClippedWindowSum(int32_t w, int32_t h, int32_t x, int32_t y, int64_t r, Value value) {
  WindowSum total{0, 0};
  for (int64_t yy = y - r; yy <= y + r; ++yy) {
    for (int64_t xx = x - r; xx <= x + r; ++xx) {
      if (yy < 0 || yy >= h || xx < 0 || xx >= w) continue;
      total.sum += value(static_cast<int32_t>(xx), static_cast<int32_t>(yy));
      ++total.count;
    }
  }
  return total;
}

inline std::vector<uint8_t> Pixels(const RowImage& image) {
  std::vector<uint8_t> pixels;
  for (int32_t y = 0; y < image.height(); ++y) pixels.insert(pixels.end(), image[y], image[y] + image.width());
  return pixels;
}

}  // namespace vorsensor::testing
