#include "engine/integer_division.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "support/random.h"

namespace vorsensor {
namespace {

TEST(IntegerDivision, SmallDivisionIsExactOverItsWholeRange) {
  for (uint32_t d = 1; d <= 255; ++d) {
    for (uint32_t n = 0; n <= 65535; ++n) {
      if (DivideSmall(n, d) != n / d) FAIL() << n << " / " << d;
    }
  }
}

TEST(IntegerDivision, ByteMeanDividerIsExactAtEveryQuotientStep) {
  testing::TestRandom random(17);
  ByteMeanDivider divide;
  for (int i = 0; i < 3000; ++i) {
    // Small counts all, then counts spread up to the limit.
    const uint64_t count = i < 1200 ? static_cast<uint64_t>(i + 1)
                                    : static_cast<uint64_t>(random.Range(1, static_cast<int32_t>(ByteMeanDivider::kMaxCount - 1)));
    divide.Set(count);
    for (uint64_t q = 0; q <= 255; ++q) {
      const uint64_t low = q * count;
      if (divide(low) != q) FAIL() << low << " / " << count;
      if (q > 0 && divide(low - 1) != q - 1) FAIL() << low - 1 << " / " << count;
    }
  }
}

}  // namespace
}  // namespace vorsensor
