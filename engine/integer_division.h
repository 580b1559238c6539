#pragma once
// Exact integer division by multiplication for the per-pixel divisions of the
// grey-level filters: floor(n / d) = (n x ceil(2^k / d)) >> k whenever
// n x (ceil(2^k / d) x d - 2^k) < 2^k, which the ranges below guarantee.
#include <array>
#include <cstdint>

namespace vorsensor {

namespace detail {
constexpr int kSmallShift = 24;
constexpr uint32_t kSmallDivisors = 256;
constexpr std::array<uint64_t, kSmallDivisors> MakeSmallReciprocals() {
  std::array<uint64_t, kSmallDivisors> table{};
  for (uint32_t d = 1; d < kSmallDivisors; ++d) table[d] = ((uint64_t{1} << kSmallShift) + d - 1) / d;
  return table;
}
inline constexpr std::array<uint64_t, kSmallDivisors> kSmallReciprocals = MakeSmallReciprocals();
}  // namespace detail

// floor(n / d) for n <= 65535 and 1 <= d <= 255 (n x (d - 1) < 2^24); d = 0 gives 0.
inline uint32_t DivideSmall(uint32_t n, uint32_t d) {
  return static_cast<uint32_t>((n * detail::kSmallReciprocals[d]) >> detail::kSmallShift);
}

// floor(sum / count) for the mean of count byte values (sum <= 255 x count),
// with count < 2^23: sum x count < 2^55 and sum x ceil(2^55 / count) < 2^64.
class ByteMeanDivider {
 public:
  static constexpr uint64_t kMaxCount = uint64_t{1} << 23;
  void Set(uint64_t count) {
    count_ = count;
    reciprocal_ = ((uint64_t{1} << kShift) + count - 1) / count;
  }
  uint64_t count() const { return count_; }
  uint32_t operator()(uint64_t sum) const { return static_cast<uint32_t>((sum * reciprocal_) >> kShift); }

 private:
  static constexpr int kShift = 55;
  uint64_t count_ = 0;
  uint64_t reciprocal_ = 0;
};

// floor(n / d) for 0 <= n <= 255 d and 1 <= d < kLargestCount as (n M) >> s
// with s = 31 + floor(log2 d) and M = ceil(2^s / d) < 2^32, so that vector
// code can divide 32-bit lanes by one 32 x 32 -> 64-bit multiply and a shift.
// With n = q d + t (t < d) and e = M d - 2^s < d, (n M) / 2^s = q + (t + n e
// / 2^s) / d, and n e < 255 d^2 < 255 x 4 x 2^(2 floor(log2 d)) <= 2^s for
// d < 2^21, so the fraction stays below 1 and the quotient is exact.
struct MeanReciprocal {
  static constexpr uint32_t kLargestCount = 1u << 21;
  explicit MeanReciprocal(uint32_t d) {
    int32_t l = 0;
    while ((d >> (l + 1)) != 0) ++l;
    constexpr int32_t kBase = 31;
    shift = kBase + l;
    multiplier = static_cast<uint32_t>(((uint64_t{1} << shift) + d - 1) / d);
  }
  uint32_t multiplier;
  int32_t shift;
};

}  // namespace vorsensor
