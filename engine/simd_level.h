#pragma once
// Which vector instructions the hot loops of the engine use. The level is
// decided once per process from what the processor offers and what this
// build can compile, and never changes; every level gives the same bits.
#include <cstdint>

// Builds that may hold functions compiled for AVX-512 beside the generic code
// (GCC and Clang on 64-bit x86 outside Windows).
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && !defined(_WIN32)
#define VS_WIDE_VECTORS 1
// Functions of the AVX-512 level (foundation, byte and word, 128/256-bit
// forms, with the bit manipulation instructions of the same processors).
#define VS_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2")))
// GCC 12 takes the undefined first operand inside some of its AVX-512
// intrinsics for an uninitialised variable: code of that level sits between
// these two.
#if defined(__clang__)
#define VS_WIDE_CODE_BEGIN
#define VS_WIDE_CODE_END
#else
#define VS_WIDE_CODE_BEGIN                                    \
  _Pragma("GCC diagnostic push")                              \
  _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")       \
  _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define VS_WIDE_CODE_END _Pragma("GCC diagnostic pop")
#endif
#endif

namespace vorsensor {

enum class SimdLevel : int32_t {
  kPlain = 0,   // portable C++ only
  kSse2 = 1,    // 128-bit vectors, where the build targets them
  kAvx512 = 2,  // 512-bit vectors with byte and word lanes, chosen at run time
};

// The best level this process runs.
SimdLevel MachineSimdLevel();

// True when this process can run `level` (every level up to the machine's).
// Functions that take a level (their default is the machine's) must be given
// one that runs; tests pass each such level to compare them.
inline bool SimdLevelRuns(SimdLevel level) {
  return static_cast<int32_t>(level) <= static_cast<int32_t>(MachineSimdLevel());
}

}  // namespace vorsensor
