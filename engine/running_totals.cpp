// Running totals, 16 values at a time with AVX-512: the totals within a block
// by four shifted additions, plus the total before the block. Clipped totals
// and the column sums of the windowed filters.
#include "engine/running_totals.h"

#include <algorithm>
#include <new>

namespace vorsensor {
namespace {

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
constexpr int32_t kLanes = 16;

VS_AVX512 int32_t RunningTotalsWide(const uint32_t* values, int32_t count, uint32_t* totals) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lastLane = _mm512_set1_epi32(kLanes - 1);
  __m512i before = zero;
  int32_t j = 0;
  for (; j + kLanes <= count; j += kLanes) {
    __m512i v = _mm512_loadu_si512(values + j);
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, kLanes - 1));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, kLanes - 2));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, kLanes - 4));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, kLanes - 8));
    v = _mm512_add_epi32(v, before);
    _mm512_storeu_si512(totals + j, v);
    before = _mm512_permutexvar_epi32(lastLane, v);
  }
  return j;
}
VS_WIDE_CODE_END
#endif

}  // namespace

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
VS_AVX512 void UpdateColumnSumsWide(uint32_t* sums, const uint8_t* entering, const uint8_t* leaving, int32_t w) {
  for (int32_t x = 0; x < w; x += kLanes) {
    const __mmask16 valid = RowLanes(x, w);
    __m512i sum = _mm512_maskz_loadu_epi32(valid, sums + x);
    if (entering != nullptr) sum = _mm512_add_epi32(sum, _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(valid, entering + x)));
    if (leaving != nullptr) sum = _mm512_sub_epi32(sum, _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(valid, leaving + x)));
    _mm512_mask_storeu_epi32(sums + x, valid, sum);
  }
}
VS_WIDE_CODE_END
#endif

bool ClippedTotals::Allocate(int32_t w, int32_t r) {
  w_ = w;
  r_ = r;
  at_.reset(new (std::nothrow) uint32_t[Size()]());
  return at_ != nullptr;
}

void ClippedTotals::Fill(const uint32_t* values, SimdLevel level) {
  if (w_ <= 0) return;
  uint32_t* totals = at_.get() + r_ + 2;  // [j]: columns 0 .. j
  RunningTotals(values, w_, totals, level);
  // The r totals past the row's end hold its whole sum.
  std::fill(totals + w_, totals + w_ + r_, totals[w_ - 1]);
}

void RunningTotals(const uint32_t* values, int32_t count, uint32_t* totals, SimdLevel level) {
  int32_t j = 0;
#ifdef VS_WIDE_VECTORS
  if (level == SimdLevel::kAvx512) j = RunningTotalsWide(values, count, totals);
#else
  (void)level;
#endif
  uint32_t total = j > 0 ? totals[j - 1] : 0;
  for (; j < count; ++j) {
    total += values[j];
    totals[j] = total;
  }
}

}  // namespace vorsensor
