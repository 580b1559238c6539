#pragma once
// Division by a divisor fixed for a whole search, as a multiply and a shift.
// The pair score divides every candidate's score by the same two divisors;
// a hardware division takes several times as long as a multiply.
//
// Why it is exact: let d >= 1, L the least with d <= 2^L, k = 31 + L and
// m = ceil(2^k / d) = (2^k + e) / d with 0 <= e < d. For 0 <= n < 2^31,
//   n m / 2^k = n / d + n e / (d 2^k),
// and the extra term is below 1 / d because n e < 2^31 d <= 2^k; since n / d
// lies at least 1 / d below the next whole number, the floor is n / d.
// m is at most 2^32 (d > 2^(L-1) unless d = 2^L, when m = 2^31) and n below
// 2^31, so n m fits in 64 bits. Larger numerators divide as before.
#include <cstdint>

namespace vorsensor {

constexpr int64_t kExactNumeratorLimit = int64_t{1} << 31;  // numerators below this use the multiply
constexpr uint32_t kExactBaseShift = 31;

struct ExactDivisor {
  int64_t divisor;      // 1 .. 2^32 - 1
  uint64_t multiplier;  // ceil(2^shift / divisor)
  uint32_t shift;       // 31 + ceil(log2(divisor))
};

inline ExactDivisor MakeExactDivisor(int64_t divisor) {
  uint32_t bits = 0;  // the least L with divisor <= 2^L
  while ((int64_t{1} << bits) < divisor) ++bits;
  const uint32_t shift = kExactBaseShift + bits;  // at most 63
  const uint64_t power = uint64_t{1} << shift;
  const uint64_t d = static_cast<uint64_t>(divisor);
  return ExactDivisor{divisor, (power + d - 1) / d, shift};
}

// n / divisor for n >= 0. The test on n is the same for nearly every call of
// a search (numerators stay small with the usual factors), so it predicts well.
inline int64_t DivideExact(int64_t n, const ExactDivisor& d) {
  if (n < kExactNumeratorLimit) return static_cast<int64_t>((static_cast<uint64_t>(n) * d.multiplier) >> d.shift);
  return n / d.divisor;
}

}  // namespace vorsensor
