// Running totals, 16 values at a time with AVX-512: the totals within a block
// by four shifted additions, plus the total before the block.
#include "engine/running_totals.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

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
