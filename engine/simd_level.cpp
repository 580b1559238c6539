// The process's vector level: SSE2 where the build targets it, AVX-512 (the
// foundation, byte and word instructions, and BMI1/2) when the processor also has it and
// the build can hold functions compiled for it. Windows builds keep to SSE2:
// MinGW-w64 does not align the stack for spilled 512-bit registers.
#include "engine/simd_level.h"

namespace vorsensor {
namespace {

SimdLevel Detect() {
#if defined(VS_WIDE_VECTORS)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2")) {
    return SimdLevel::kAvx512;
  }
#endif
#if defined(__SSE2__)
  return SimdLevel::kSse2;
#else
  return SimdLevel::kPlain;
#endif
}

}  // namespace

SimdLevel MachineSimdLevel() {
  static const SimdLevel level = Detect();
  return level;
}

}  // namespace vorsensor
