#pragma once
// The generator's random numbers: xoshiro256** seeded through splitmix64, with
// its own conversions to doubles, so one seed gives one sequence everywhere
// (the standard library's distributions differ between implementations).
// Callers draw at most once per expression: the order in which function
// arguments and operands are evaluated differs between compilers.
#include <cstdint>

namespace vorsensor::synth {

// splitmix64 step: also used to derive independent seeds from (seed, index).
inline uint64_t MixSeed(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}
inline uint64_t DeriveSeed(uint64_t seed, uint64_t index) { return MixSeed(seed ^ MixSeed(index + 0x5A17ull)); }

class SynthRandom {
 public:
  explicit SynthRandom(uint64_t seed) {
    for (uint64_t& s : state_) {
      seed = MixSeed(seed);
      s = seed;
    }
  }

  uint64_t Next() {
    const uint64_t result = Rotl(state_[1] * 5, 7) * 9;
    const uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = Rotl(state_[3], 45);
    return result;
  }

  // Uniform in [0, 1) with 53 random bits.
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  // Uniform in [lo, hi).
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Unit(); }
  // Uniform integer in [0, n) for n > 0 (tiny bias irrelevant here).
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>((Next() >> 32) % n); }
  // Approximately normal with mean 0 and deviation 1 (sum of four uniforms,
  // scaled): bounded by +-3.46, which suits image noise.
  double Normal() {
    // One draw per statement: the order of evaluating the operands of + is unspecified.
    double s = Unit();
    s += Unit();
    s += Unit();
    s += Unit();
    return (s - 2.0) * 1.7320508075688772;
  }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t state_[4];
};

}  // namespace vorsensor::synth
