// Contrast normalisation with the deviation window kept as running sums.
#include "engine/contrast_normalisation.h"

#include "engine/result_codes.h"
#include "engine/row_ring.h"

namespace vorsensor {
namespace {

constexpr int32_t kGreyMax = 255;

// Stretches p from [lo, hi] onto 0..255; values outside are cut.
uint8_t Stretch(int32_t p, int32_t m, int32_t d) {
  const int32_t lo = d > m ? 0 : m - d;
  const int32_t hi = m + d > kGreyMax ? kGreyMax : m + d;
  if (hi == lo) return static_cast<uint8_t>(p);
  if (p <= lo) return 0;
  if (p >= hi) return kGreyMax;
  return static_cast<uint8_t>((p - lo) * kGreyMax / (hi - lo));
}

}  // namespace

int32_t NormaliseContrast(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* mean, uint32_t r) {
  // The ring holds |mean - grey| of the rows still in a window: the mean rows
  // themselves are overwritten by the output as the window moves down.
  const bool done = StreamWindowSums(
      w, h, r,
      [&](int32_t y, uint8_t* row) {
        const uint8_t* g = grey[y];
        const uint8_t* m = mean[y];
        for (int32_t x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(m[x] > g[x] ? m[x] - g[x] : g[x] - m[x]);
      },
      [&](int32_t x, int32_t y, auto sum, auto count) {
        const int32_t d = static_cast<int32_t>(sum / count);
        mean[y][x] = Stretch(grey[y][x], mean[y][x], d);
      });
  return done ? kOk : kOutOfMemory;
}

}  // namespace vorsensor
