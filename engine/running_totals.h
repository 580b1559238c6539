#pragma once
// Running totals along a row: the windowed filters take a window's sum along
// the row as the difference of two totals.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "engine/row_ring.h"
#include "engine/simd_level.h"
#include "engine/wide_mean_divider.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {

// totals[j] = values[0] + .. + values[j] for j < count, wrapping modulo 2^32
// (a difference of two totals is the exact sum between them whenever that sum
// fits 32 bits). `level` picks the vector code (every level gives the same
// values).
void RunningTotals(const uint32_t* values, int32_t count, uint32_t* totals, SimdLevel level = MachineSimdLevel());

// One row's running totals with the clipping of windows of radius r at the
// row ends built in: At()[i] is the total of columns 0 .. i - r - 2, cut to
// 0 .. w (zero before the row, the row's total after it), so that the window
// of x clipped to the row sums At()[x + 2r + 2] - At()[x + 1] for every x of
// the row, without a test for the ends.
class ClippedTotals {
 public:
  // False when the memory cannot be had.
  bool Allocate(int32_t w, int32_t r);
  // The totals of one row of w column values.
  void Fill(const uint32_t* values, SimdLevel level = MachineSimdLevel());
  const uint32_t* At() const { return at_.get(); }
  int32_t Width() const { return w_; }
  int32_t Radius() const { return r_; }

 private:
  size_t Size() const { return static_cast<size_t>(w_) + 2 * static_cast<size_t>(r_) + 2; }
  std::unique_ptr<uint32_t[]> at_;
  int32_t w_ = 0;
  int32_t r_ = 0;
};

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// The lanes x .. x + 15 of a row that `valid` holds (the rest 0).
VS_AVX512 inline __mmask16 RowLanes(int32_t x, int32_t w) {
  constexpr int32_t kLanes = 16;
  const int32_t left = w - x;
  return left >= kLanes ? static_cast<__mmask16>(0xFFFF) : static_cast<__mmask16>((1u << left) - 1);
}

// The window sums of x .. x + 15 clipped to the row (lanes outside `valid`
// give 0, and nothing outside the totals is read).
VS_AVX512 inline __m512i ClippedSums(const ClippedTotals& totals, int32_t x, __mmask16 valid) {
  const uint32_t* at = totals.At();
  return _mm512_sub_epi32(_mm512_maskz_loadu_epi32(valid, at + x + 2 * totals.Radius() + 2),
                          _mm512_maskz_loadu_epi32(valid, at + x + 1));
}

// The truncated means of those windows over `rowsInside` rows, for window
// sums of bytes (every mean at most 255) below 2^31 with counts x 256 below
// 2^31, as SmallQuotients. Lanes outside `valid` give 0.
VS_AVX512 inline __m512i ClippedMeans(const ClippedTotals& totals, int32_t x, uint32_t rowsInside, __mmask16 valid) {
  const int32_t r = totals.Radius();
  const __m512i lane =
      _mm512_add_epi32(_mm512_set1_epi32(x), _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  const __m512i zero = _mm512_setzero_si512();
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i right = _mm512_min_epi32(_mm512_add_epi32(lane, _mm512_set1_epi32(r + 1)), _mm512_set1_epi32(totals.Width()));
  const __m512i left = _mm512_max_epi32(_mm512_sub_epi32(lane, _mm512_set1_epi32(r)), zero);
  __m512i count = _mm512_mullo_epi32(_mm512_sub_epi32(right, left), _mm512_set1_epi32(static_cast<int32_t>(rowsInside)));
  count = _mm512_max_epi32(count, one);  // lanes past the row
  const __m512i sum = ClippedSums(totals, x, valid);
  return SmallQuotients(sum, count);
}

// Column sums for one row step, 16 columns at a time: the entering row's
// bytes added and the leaving row's taken off (either may be null).
VS_AVX512 void UpdateColumnSumsWide(uint32_t* sums, const uint8_t* entering, const uint8_t* leaving, int32_t w);
VS_WIDE_CODE_END

// detail::StreamColumnSums (engine/row_ring.h) with 32-bit column sums
// updated 16 columns at a time: the same calls of load and row in the same
// order.
template <typename Load, typename Row>
bool StreamColumnSumsWide(int32_t w, int32_t h, int32_t r, Load& load, Row& row) {
  auto update = [w](uint32_t* column, const uint8_t* entering, const uint8_t* leaving) {
    UpdateColumnSumsWide(column, entering, leaving, w);
  };
  return detail::StreamColumnSumsWith<uint32_t>(w, h, r, load, row, update);
}
#endif

}  // namespace vorsensor
