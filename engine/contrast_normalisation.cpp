// Contrast normalisation with the deviation window kept as running sums.
#include "engine/contrast_normalisation.h"

#include "engine/integer_division.h"
#include "engine/result_codes.h"
#include "engine/row_ring.h"

namespace vorsensor {
namespace {

constexpr int32_t kGreyMax = 255;

// Stretches p from [lo, hi] onto 0..255; values outside are cut, and p stays
// as it is when hi = lo. Written without branches on p: grey values fall on
// either side of the bounds at random.
uint8_t Stretch(int32_t p, int32_t m, int32_t d) {
  const int32_t lo = d > m ? 0 : m - d;
  const int32_t hi = m + d > kGreyMax ? kGreyMax : m + d;
  const int32_t range = hi - lo;
  int32_t above = p - lo;
  above = above < 0 ? 0 : above;
  above = above > range ? range : above;
  // above x 255 <= 65025 and range <= 255: DivideSmall's range (range 0 gives 0).
  const int32_t stretched =
      static_cast<int32_t>(DivideSmall(static_cast<uint32_t>(above * kGreyMax), static_cast<uint32_t>(range)));
  return static_cast<uint8_t>(range == 0 ? p : stretched);
}

}  // namespace

int32_t NormaliseContrast(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* mean, uint32_t r) {
  // The ring holds |mean - grey| of the rows still in a window: the mean rows
  // themselves are overwritten by the output as the window moves down. Row
  // pointers are taken once per row (byte stores could alias them).
  const uint8_t* grey_row = nullptr;
  uint8_t* mean_row = nullptr;
  int32_t row_y = -1;
  const bool done = StreamWindowMeans(
      w, h, r,
      [&](int32_t y, uint8_t* row) {
        const uint8_t* g = grey[y];
        const uint8_t* m = mean[y];
        for (int32_t x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(m[x] > g[x] ? m[x] - g[x] : g[x] - m[x]);
      },
      [&](int32_t x, int32_t y, uint32_t deviation) {
        if (y != row_y) {
          row_y = y;
          grey_row = grey[y];
          mean_row = mean[y];
        }
        mean_row[x] = Stretch(grey_row[x], mean_row[x], static_cast<int32_t>(deviation));
      });
  return done ? kOk : kOutOfMemory;
}

}  // namespace vorsensor
