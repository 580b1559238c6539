#pragma once
// floor(n / d) of 16 lanes at a time with AVX-512, by the multiplier and
// shift of MeanReciprocal (engine/integer_division.h): the window means of
// the box mean and the two-means binarisation.
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
VS_WIDE_CODE_END

}  // namespace vorsensor
#endif
