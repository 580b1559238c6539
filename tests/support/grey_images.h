#pragma once
// Small grey test images: random, constant and stripe patterns as row images.
#include <cmath>
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

// A flat w x h image holding, inside the ellipse that fills [x0, x1) x [y0, y1),
// concentric rings of `period` about its centre (a whorl-like pattern for the
// whole pipeline), white round it.
inline std::vector<uint8_t> RingPixels(int32_t w, int32_t h, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
                                       double period) {
  std::vector<uint8_t> image(static_cast<size_t>(w) * static_cast<size_t>(h), 255);
  const double cx = (x0 + x1) / 2.0, cy = (y0 + y1) / 2.0, rx = (x1 - x0) / 2.0, ry = (y1 - y0) / 2.0;
  for (int32_t y = y0; y < y1; ++y) {
    for (int32_t x = x0; x < x1; ++x) {
      const double dx = x - cx, dy = y - cy;
      if ((dx * dx) / (rx * rx) + (dy * dy) / (ry * ry) >= 1) continue;
      const double wave = std::cos(std::sqrt(dx * dx + dy * dy) * 2 * 3.14159265358979 / period);
      image[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
          static_cast<uint8_t>(128 + 100 * wave);
    }
  }
  return image;
}
inline std::vector<uint8_t> RingPixels(int32_t w, int32_t h, double period) {
  return RingPixels(w, h, 0, w, 0, h, period);
}

// A flat w x h image as a row image.
inline RowImage RowImageOf(const std::vector<uint8_t>& flat, int32_t w, int32_t h) {
  return MakeImage(w, h, [&](int32_t x, int32_t y) { return flat[static_cast<size_t>(y) * w + static_cast<size_t>(x)]; });
}

}  // namespace vorsensor::testing
