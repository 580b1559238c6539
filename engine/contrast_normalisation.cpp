// Contrast normalisation with the deviation window kept as running sums.
#include "engine/contrast_normalisation.h"

#include <memory>
#include <new>

#include "engine/integer_division.h"
#include "engine/result_codes.h"
#include "engine/row_ring.h"
#include "engine/running_totals.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

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

#ifdef VS_WIDE_VECTORS
constexpr int32_t kLanes = 16;

VS_WIDE_CODE_BEGIN
// Stretch of the 16 pixels x .. x + 15 of a row (lanes outside `valid` are
// left alone): the mean deviation from ClippedMeans, the stretch's quotient
// from a float division, exact as dividend and divisor lie below 2^24 (the
// quotient cannot round across an integer).
VS_AVX512 void StretchSixteen(const ClippedTotals& totals, int32_t x, uint32_t rowsInside, const uint8_t* grey,
                              uint8_t* mean, __mmask16 valid) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i d = ClippedMeans(totals, x, rowsInside, valid);
  const __m512i p = _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(valid, grey + x));
  const __m512i m = _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(valid, mean + x));
  const __m512i greyMax = _mm512_set1_epi32(kGreyMax);
  const __m512i lo = _mm512_max_epi32(_mm512_sub_epi32(m, d), zero);
  const __m512i hi = _mm512_min_epi32(_mm512_add_epi32(m, d), greyMax);
  const __m512i range = _mm512_sub_epi32(hi, lo);
  const __m512i above = _mm512_min_epi32(_mm512_max_epi32(_mm512_sub_epi32(p, lo), zero), range);
  const __mmask16 flat = _mm512_cmpeq_epi32_mask(range, zero);
  const __m512 dividend = _mm512_cvtepi32_ps(_mm512_mullo_epi32(above, greyMax));
  const __m512 divisor = _mm512_cvtepi32_ps(_mm512_mask_mov_epi32(range, flat, one));
  const __m512i stretched = _mm512_mask_mov_epi32(_mm512_cvttps_epi32(_mm512_div_ps(dividend, divisor)), flat, p);
  _mm_mask_storeu_epi8(mean + x, valid, _mm512_cvtepi32_epi8(stretched));
}
VS_WIDE_CODE_END

// The whole stage with the deviation's window sums from clipped running
// totals and 16 pixels at a time (images below 2^23 pixels, so that every
// window sum and count x 256 stay below 2^31).
int32_t NormaliseContrastWide(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* mean, int32_t r) {
  ClippedTotals totals;
  if (!totals.Allocate(w, r)) return kOutOfMemory;
  auto load = [&](int32_t y, uint8_t* row) {
    const uint8_t* g = grey[y];
    const uint8_t* m = mean[y];
    for (int32_t x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(m[x] > g[x] ? m[x] - g[x] : g[x] - m[x]);
  };
  auto stretch = [&](int32_t y, const uint32_t* column, uint32_t rowsInside) {
    totals.Fill(column, SimdLevel::kAvx512);
    for (int32_t x = 0; x < w; x += kLanes) StretchSixteen(totals, x, rowsInside, grey[y], mean[y], RowLanes(x, w));
  };
  return StreamColumnSumsWide(w, h, r, load, stretch) ? kOk : kOutOfMemory;
}
#endif

}  // namespace

int32_t NormaliseContrast(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* mean, uint32_t r,
                          SimdLevel level) {
#ifdef VS_WIDE_VECTORS
  if (level == SimdLevel::kAvx512 && w > 0 && h > 0 &&
      static_cast<uint64_t>(w) * static_cast<uint64_t>(h) < ByteMeanDivider::kMaxCount) {
    return NormaliseContrastWide(w, h, grey, mean, ClampRadius(r, w, h));
  }
#else
  (void)level;
#endif
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
