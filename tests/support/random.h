#pragma once
// A small fixed generator for tests: the same sequence on every platform and
// standard library (std::uniform_int_distribution is not fixed across them).
#include <cstdint>

namespace vorsensor::testing {

class TestRandom {
 public:
  explicit TestRandom(uint64_t seed) : state_(seed) {}
  // splitmix64
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [lo, hi] (inclusive); the tiny modulo bias does not matter for tests.
  int32_t Range(int32_t lo, int32_t hi) {
    return lo + static_cast<int32_t>(Next() % static_cast<uint64_t>(static_cast<int64_t>(hi) - lo + 1));
  }
  uint8_t Byte() { return static_cast<uint8_t>(Next()); }

 private:
  uint64_t state_;
};

}  // namespace vorsensor::testing
