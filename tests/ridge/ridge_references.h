#pragma once
// Slow references for the ridge image stages, written from the definitions
// with direct loops over whole images (no row rings, no running sums).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/ridge/line_smoothing.h"
#include "engine/ridge/orientation_moments.h"
#include "engine/row_image.h"

namespace vorsensor::testing {

inline RowImage Clone(const RowImage& image) {
  RowImage copy = AllocRowImage(image.width(), image.height());
  CopyRowImage(copy.rows(), image.rows(), image.width(), image.height());
  return copy;
}

// The pixel kernels written out again: gradients with weights 1, 4, 1, and the
// four directional differences, straight from the neighbours of (u, v).
inline PixelGradient SlowGradientAt(const RowImage& g, int32_t u, int32_t v) {
  auto p = [&](int32_t du, int32_t dv) { return int32_t{g[v + dv][u + du]}; };
  return {p(1, -1) + 4 * p(1, 0) + p(1, 1) - p(-1, -1) - 4 * p(-1, 0) - p(-1, 1),
          p(-1, 1) + 4 * p(0, 1) + p(1, 1) - p(-1, -1) - 4 * p(0, -1) - p(1, -1)};
}
inline PixelDifferences SlowDifferencesAt(const RowImage& g, int32_t u, int32_t v) {
  auto d = [&](int32_t du, int32_t dv) { return std::abs(g[v][u] - g[v + dv][u + du]) + std::abs(g[v][u] - g[v - dv][u - du]); };
  return {d(1, 0), d(1, 1), d(0, 1), d(-1, 1)};
}

// The pixel orientation map and the reliability beside it.
struct OrientationImages {
  RowImage orientation;
  RowImage reliability;
};

// Each pixel straight from its (2r + 1)² window of the entry image, no rings
// and no running sums: the gradient moments as rounded means, or the
// difference sums (diagonals x 71 / 100) with the flatness limit.
inline OrientationImages SlowGradient(const RowImage& grey, int32_t r, uint8_t energyMin) {
  const int32_t w = grey.width(), h = grey.height();
  OrientationImages out{AllocRowImage(w, h), AllocRowImage(w, h)};
  const int64_t n = static_cast<int64_t>(2 * r + 1) * (2 * r + 1);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int64_t xx = 0, yy = 0, xy = 0;
      for (int32_t v = std::max(1, y - r); v <= std::min(h - 2, y + r); ++v) {
        for (int32_t u = std::max(1, x - r); u <= std::min(w - 2, x + r); ++u) {
          const PixelGradient g = SlowGradientAt(grey, u, v);
          xx += g.gx * g.gx;
          yy += g.gy * g.gy;
          xy += g.gx * g.gy;
        }
      }
      const auto mean = [n](int64_t sum) { return static_cast<int32_t>((sum + n / 2) / n); };
      out.orientation[y][x] = OrientationFromMoments(mean(xx), mean(yy), mean(xy));
      out.reliability[y][x] = CoherenceFromMoments(mean(xx), mean(yy), mean(xy), energyMin);
    }
  }
  return out;
}

inline OrientationImages SlowDifference(const RowImage& grey, int32_t r, uint8_t flatnessMax) {
  const int32_t w = grey.width(), h = grey.height();
  OrientationImages out{AllocRowImage(w, h), AllocRowImage(w, h)};
  const int64_t flat = static_cast<int64_t>(2 * r + 1) * (2 * r + 1) * flatnessMax * 2;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int64_t sh = 0, sd1 = 0, sv = 0, sd2 = 0;
      for (int32_t v = std::max(1, y - r); v <= std::min(h - 2, y + r); ++v) {
        for (int32_t u = std::max(1, x - r); u <= std::min(w - 2, x + r); ++u) {
          const PixelDifferences d = SlowDifferencesAt(grey, u, v);
          sh += d.h, sd1 += d.d1, sv += d.v, sd2 += d.d2;
        }
      }
      const int32_t d1 = static_cast<int32_t>(sd1 * 71 / 100), d2 = static_cast<int32_t>(sd2 * 71 / 100);
      const DifferenceOrientation result =
          OrientationFromDifferences(static_cast<int32_t>(sh), d1, static_cast<int32_t>(sv), d2);
      const int64_t largest = std::max({sh, static_cast<int64_t>(d1), sv, static_cast<int64_t>(d2)});
      out.orientation[y][x] = result.orientation;
      out.reliability[y][x] = largest <= flat ? 255 : result.ratio;
    }
  }
  return out;
}

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

// An orientation map that turns slowly along the rows and across them,
// passing orientation 0, with a little noise, some pixels without orientation
// (120..127) and background marks (bit 7): rows of 16 pixels mostly span a
// few orientations, sometimes many.
template <typename Random>
RowImage FlowMap(int32_t w, int32_t h, Random& random) {
  RowImage map = AllocRowImage(w, h);
  const int32_t start = random.Range(0, 119), slope = random.Range(-3, 3), drift = random.Range(-4, 4);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int32_t o = (start + slope * x + drift * y + random.Range(-2, 2)) % 120;
      o = o < 0 ? o + 120 : o;
      if (random.Range(0, 40) == 0) o = random.Range(120, 127);
      if (random.Range(0, 60) == 0) o = random.Range(0, 119);
      map[y][x] = static_cast<uint8_t>(o | (random.Range(0, 3) == 0 ? 0x80 : 0));
    }
  }
  return map;
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
