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

// One row's window totals with the clipping built in: at[i] is the total of
// columns 0 .. i - r - 2, cut to 0 .. w (zero before the row, the row's total
// after it), so that the clipped window of x sums at[x + 2r + 2] - at[x + 1].
struct ClippedTotals {
  std::unique_ptr<uint32_t[]> at;
  int32_t w = 0;
  int32_t r = 0;

  bool Allocate(int32_t width, int32_t radius) {
    w = width;
    r = radius;
    at.reset(new (std::nothrow) uint32_t[Size()]());
    return at != nullptr;
  }
  size_t Size() const { return static_cast<size_t>(w) + 2 * static_cast<size_t>(r) + 2; }
  void Fill(const uint32_t* column) {
    uint32_t* totals = at.get() + r + 2;  // [j]: columns 0 .. j
    RunningTotals(column, w, totals, SimdLevel::kAvx512);
    const uint32_t all = totals[w - 1];
    for (size_t i = static_cast<size_t>(r) + 2 + static_cast<size_t>(w); i < Size(); ++i) at[i] = all;
  }
};

VS_WIDE_CODE_BEGIN
// Stretch of the 16 pixels x .. x + 15 of a row (lanes from `valid` on are
// left alone): the mean deviation floor(sum / count) from a float estimate
// (within 0.02 of the quotient, which is at most 255, so at most one off and
// corrected by its remainder), the stretch's quotient from a float division,
// exact as dividend and divisor lie below 2^24 (the quotient cannot round
// across an integer).
VS_AVX512 void StretchSixteen(const ClippedTotals& totals, int32_t x, uint32_t rowsInside, const uint8_t* grey,
                              uint8_t* mean, __mmask16 valid) {
  const int32_t r = totals.r;
  const __m512i lane = _mm512_add_epi32(_mm512_set1_epi32(x), _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                                                                12, 13, 14, 15));
  const __m512i zero = _mm512_setzero_si512();
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i right = _mm512_min_epi32(_mm512_add_epi32(lane, _mm512_set1_epi32(r + 1)), _mm512_set1_epi32(totals.w));
  const __m512i left = _mm512_max_epi32(_mm512_sub_epi32(lane, _mm512_set1_epi32(r)), zero);
  __m512i count = _mm512_mullo_epi32(_mm512_sub_epi32(right, left), _mm512_set1_epi32(static_cast<int32_t>(rowsInside)));
  count = _mm512_max_epi32(count, one);  // lanes past the row
  const __m512i sum = _mm512_sub_epi32(_mm512_maskz_loadu_epi32(valid, totals.at.get() + x + 2 * r + 2),
                                       _mm512_maskz_loadu_epi32(valid, totals.at.get() + x + 1));
  __m512i d = _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(sum), _mm512_rcp14_ps(_mm512_cvtepi32_ps(count))));
  const __m512i rest = _mm512_sub_epi32(sum, _mm512_mullo_epi32(d, count));
  d = _mm512_mask_sub_epi32(d, _mm512_cmplt_epi32_mask(rest, zero), d, one);
  d = _mm512_mask_add_epi32(d, _mm512_cmpge_epi32_mask(rest, count), d, one);

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
    totals.Fill(column);
    for (int32_t x = 0; x < w; x += kLanes) {
      const int32_t left = w - x;
      const __mmask16 valid = left >= kLanes ? static_cast<__mmask16>(0xFFFF) : static_cast<__mmask16>((1u << left) - 1);
      StretchSixteen(totals, x, rowsInside, grey[y], mean[y], valid);
    }
  };
  return detail::StreamColumnSums<uint32_t>(w, h, r, load, stretch) ? kOk : kOutOfMemory;
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
