#include "matching/exact_divide.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vorsensor {
namespace {

// Every divisor the pair score can use (densityScale 1..65535 and the
// squares of spreadTolerance 1..65535), each at the numerators that decide
// exactness: the multiply's excess over n / d grows with n, so if it is exact
// at the largest n below 2^31 leaving remainder d - 1 (the n closest to the
// next quotient) it is exact for every smaller n. Small numerators, the
// limit itself and beyond (the plain division) are checked too.
void ExpectExact(int64_t d) {
  const ExactDivisor r = MakeExactDivisor(d);
  const int64_t limit = kExactNumeratorLimit;
  const int64_t worst = (limit / d) * d - 1;  // the largest n < limit with remainder d - 1, or below 0
  const int64_t numerators[] = {0, 1, d - 1, d, d + 1, worst, worst - d, limit - 1, limit, limit + d - 1, limit * 5};
  for (const int64_t n : numerators) {
    if (n < 0) continue;
    ASSERT_EQ(DivideExact(n, r), n / d) << n << " / " << d;
  }
}

TEST(ExactDivide, EveryScoreDivisorAtItsCriticalNumerators) {
  for (int64_t v = 1; v <= 65535; ++v) {
    ExpectExact(v);
    ExpectExact(v * v);
  }
}

}  // namespace
}  // namespace vorsensor
