#pragma once
// floor(n / d) of 16 lanes at a time with AVX-512: by the multiplier and
// shift of MeanReciprocal (engine/integer_division.h) for one divisor (the
// window means of the box mean and the two-means binarisation), and from a
// float estimate for small quotients of divisors that differ by lane.
#include "engine/integer_division.h"
#include "engine/simd_level.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>

namespace vorsensor {

VS_WIDE_CODE_BEGIN
struct WideMeanDivider {
  VS_AVX512 explicit WideMeanDivider(MeanReciprocal r)
      : multiplier(_mm512_set1_epi32(static_cast<int32_t>(r.multiplier))), shift(_mm_cvtsi32_si128(r.shift)) {}
  VS_AVX512 __m512i operator()(__m512i n) const {
    const __m512i even = _mm512_srl_epi64(_mm512_mul_epu32(n, multiplier), shift);
    const __m512i odd = _mm512_srl_epi64(_mm512_mul_epu32(_mm512_srli_epi64(n, 32), multiplier), shift);
    return _mm512_or_si512(even, _mm512_slli_epi64(odd, 32));
  }
  __m512i multiplier;
  __m128i shift;
};

// floor(n / d) for 0 <= n < 2^31 and 0 < d < 2^26 whose quotient is at most
// 256: the float estimate with the reciprocal's relative error below 2^-14 is
// within 0.02 of n / d, so one step each way by the remainder (exact modulo
// 2^32, and small) makes it exact.
VS_AVX512 inline __m512i SmallQuotients(__m512i n, __m512i d) {
  const __m512i one = _mm512_set1_epi32(1);
  __m512i q = _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(n), _mm512_rcp14_ps(_mm512_cvtepi32_ps(d))));
  const __m512i rest = _mm512_sub_epi32(n, _mm512_mullo_epi32(q, d));
  q = _mm512_mask_sub_epi32(q, _mm512_cmplt_epi32_mask(rest, _mm512_setzero_si512()), q, one);
  return _mm512_mask_add_epi32(q, _mm512_cmpge_epi32_mask(rest, d), q, one);
}
VS_WIDE_CODE_END

}  // namespace vorsensor
#endif
