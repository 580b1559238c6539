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

// The totals of the block of 16 values at p, of which `lanes` count (the
// rest read as 0), plus the total before the block, by four shifted
// additions. (Adding each lane's left neighbour from a load shifted by one
// value instead of the first shift measured slower: such a load spans two of
// the stores that have just written the values.)
VS_AVX512 inline __m512i BlockTotals(const uint32_t* p, __mmask16 lanes, __m512i before) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i v = _mm512_maskz_loadu_epi32(lanes, p);
  v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, kLanes - 1));
  v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, kLanes - 2));
  v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, kLanes - 4));
  v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, kLanes - 8));
  return _mm512_add_epi32(v, before);
}

// Every total, the last block masked (its lanes past the end are not stored).
VS_AVX512 void RunningTotalsWide(const uint32_t* values, int32_t count, uint32_t* totals) {
  const __m512i lastLane = _mm512_set1_epi32(kLanes - 1);
  __m512i before = _mm512_setzero_si512();
  int32_t j = 0;
  for (; j + kLanes <= count; j += kLanes) {
    const __m512i v = BlockTotals(values + j, static_cast<__mmask16>(0xFFFF), before);
    _mm512_storeu_si512(totals + j, v);
    before = _mm512_permutexvar_epi32(lastLane, v);
  }
  if (j < count) {
    const __mmask16 lanes = static_cast<__mmask16>((1u << (count - j)) - 1);
    _mm512_mask_storeu_epi32(totals + j, lanes, BlockTotals(values + j, lanes, before));
  }
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
#ifdef VS_WIDE_VECTORS
  if (level == SimdLevel::kAvx512) {
    RunningTotalsWide(values, count, totals);
    return;
  }
#else
  (void)level;
#endif
  uint32_t total = 0;
  for (int32_t j = 0; j < count; ++j) {
    total += values[j];
    totals[j] = total;
  }
}

}  // namespace vorsensor
