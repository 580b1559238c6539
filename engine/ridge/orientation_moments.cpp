// Orientation and reliability from gradient moments and directional differences.
#include "engine/ridge/orientation_moments.h"

#include <array>

#include "engine/simd_level.h"
#include "engine/wide_mean_divider.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define VS_MOMENTS_SSE2 1
#endif
#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {
namespace {

// The moment components are scaled down to 0..kHalfAngleMax before the table look-up.
constexpr uint64_t kHalfAngleMax = 49;
constexpr uint64_t kHalfAngleScaleFrom = 50;
// Squared weight sum of the gradient mask: (4 + 1 + 1)².
constexpr int32_t kGradientWeightSquared = 36;
// Coherence is sqrt(q) scaled so that a perfect window gives 255: q is divided by s² / 255².
constexpr uint64_t kCoherenceScaleSquared = 255 * 255;
// q at or above this rounds to 256 or more: coherence capped at 255.
constexpr uint32_t kCoherenceCapSquared = 65281;
// Offset of the interpolated orientation from the pair's base, in units of 1/15 of a pair step.
constexpr int32_t kOffsetScale = 15;
constexpr int32_t kOffsetOppositeWeight = 3;

// Nearest roots: kRoundsTo[k] is the smallest q whose nearest root is k
// (k² - k + 1; 0 for k = 0), up to k = 256 (65281, the cap). Start tables give
// the nearest root of the lowest value of a range of q, a lower bound at most
// two below the root of any q in that range: bytes for q < 256 (exact), steps
// of 16 below 4096, steps of 256 above.
constexpr uint32_t kRootEntries = 256;
constexpr uint32_t kMidRootLimit = 4096;
constexpr uint32_t kMidRootShift = 4;
constexpr uint32_t kHighRootShift = 8;

constexpr std::array<uint32_t, kRootEntries + 1> MakeRoundsTo() {
  std::array<uint32_t, kRootEntries + 1> table{};
  for (uint32_t k = 1; k <= kRootEntries; ++k) table[k] = k * k - k + 1;
  return table;
}
constexpr std::array<uint32_t, kRootEntries + 1> kRoundsTo = MakeRoundsTo();

// Nearest root of q <= 65280 by counting thresholds (compile time only).
constexpr uint8_t SlowNearestRoot(uint32_t q) {
  uint32_t k = 0;
  while (k + 1 < kRootEntries && kRoundsTo[k + 1] <= q) ++k;
  return static_cast<uint8_t>(k);
}
constexpr std::array<uint8_t, kRootEntries> MakeRootStarts(uint32_t shift) {
  std::array<uint8_t, kRootEntries> table{};
  for (uint32_t i = 0; i < kRootEntries; ++i) table[i] = SlowNearestRoot(i << shift);
  return table;
}
constexpr std::array<uint8_t, kRootEntries> kSmallRoots = MakeRootStarts(0);
constexpr std::array<uint8_t, kRootEntries> kMidRootStarts = MakeRootStarts(kMidRootShift);
constexpr std::array<uint8_t, kRootEntries> kHighRootStarts = MakeRootStarts(kHighRootShift);

// Half angles: [b][a] = round(atan2(b, a) x 60 / pi), halves up; [0][0] = 30.
constexpr uint8_t kHalfAngle[50][50] = {
    {30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {30, 15, 9, 6, 5, 4, 3, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {30, 21, 15, 11, 9, 7, 6, 5, 5, 4, 4, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {30, 24, 19, 15, 12, 10, 9, 8, 7, 6, 6, 5, 5, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    {30, 25, 21, 18, 15, 13, 11, 10, 9, 8, 7, 7, 6, 6, 5, 5, 5, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
    {30, 26, 23, 20, 17, 15, 13, 12, 11, 10, 9, 8, 8, 7, 7, 6, 6, 5, 5, 5, 5, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
    {30, 27, 24, 21, 19, 17, 15, 14, 12, 11, 10, 10, 9, 8, 8, 7, 7, 6, 6, 6, 6, 5, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2},
    {30, 27, 25, 22, 20, 18, 16, 15, 14, 13, 12, 11, 10, 9, 9, 8, 8, 7, 7, 7, 6, 6, 6, 6, 5, 5, 5, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {30, 28, 25, 23, 21, 19, 18, 16, 15, 14, 13, 12, 11, 11, 10, 9, 9, 8, 8, 8, 7, 7, 7, 6, 6, 6, 6, 6, 5, 5, 5, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3},
    {30, 28, 26, 24, 22, 20, 19, 17, 16, 15, 14, 13, 12, 12, 11, 10, 10, 9, 9, 8, 8, 8, 7, 7, 7, 7, 6, 6, 6, 6, 6, 5, 5, 5, 5, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3},
    {30, 28, 26, 24, 23, 21, 20, 18, 17, 16, 15, 14, 13, 13, 12, 11, 11, 10, 10, 9, 9, 8, 8, 8, 8, 7, 7, 7, 7, 6, 6, 6, 6, 6, 5, 5, 5, 5, 5, 5, 5, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {30, 28, 27, 25, 23, 22, 20, 19, 18, 17, 16, 15, 14, 13, 13, 12, 12, 11, 10, 10, 10, 9, 9, 9, 8, 8, 8, 7, 7, 7, 7, 7, 6, 6, 6, 6, 6, 6, 5, 5, 5, 5, 5, 5, 5, 5, 4, 4, 4, 4},
    {30, 28, 27, 25, 24, 22, 21, 20, 19, 18, 17, 16, 15, 14, 14, 13, 12, 12, 11, 11, 10, 10, 10, 9, 9, 9, 8, 8, 8, 7, 7, 7, 7, 7, 6, 6, 6, 6, 6, 6, 6, 5, 5, 5, 5, 5, 5, 5, 5, 5},
    {30, 29, 27, 26, 24, 23, 22, 21, 19, 18, 17, 17, 16, 15, 14, 14, 13, 12, 12, 11, 11, 11, 10, 10, 9, 9, 9, 9, 8, 8, 8, 8, 7, 7, 7, 7, 7, 6, 6, 6, 6, 6, 6, 6, 5, 5, 5, 5, 5, 5},
    {30, 29, 27, 26, 25, 23, 22, 21, 20, 19, 18, 17, 16, 16, 15, 14, 14, 13, 13, 12, 12, 11, 11, 10, 10, 10, 9, 9, 9, 9, 8, 8, 8, 8, 7, 7, 7, 7, 7, 7, 6, 6, 6, 6, 6, 6, 6, 6, 5, 5},
    {30, 29, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 16, 15, 14, 14, 13, 13, 12, 12, 11, 11, 11, 10, 10, 10, 9, 9, 9, 9, 8, 8, 8, 8, 8, 7, 7, 7, 7, 7, 7, 6, 6, 6, 6, 6, 6, 6},
    {30, 29, 28, 26, 25, 24, 23, 22, 21, 20, 19, 18, 18, 17, 16, 16, 15, 14, 14, 13, 13, 12, 12, 12, 11, 11, 11, 10, 10, 10, 9, 9, 9, 9, 8, 8, 8, 8, 8, 7, 7, 7, 7, 7, 7, 7, 6, 6, 6, 6},
    {30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 18, 17, 16, 16, 15, 14, 14, 13, 13, 13, 12, 12, 11, 11, 11, 10, 10, 10, 10, 9, 9, 9, 9, 8, 8, 8, 8, 8, 8, 7, 7, 7, 7, 7, 7, 7, 6},
    {30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 20, 19, 18, 17, 17, 16, 16, 15, 14, 14, 14, 13, 13, 12, 12, 12, 11, 11, 11, 10, 10, 10, 10, 9, 9, 9, 9, 8, 8, 8, 8, 8, 8, 7, 7, 7, 7, 7, 7},
    {30, 29, 28, 27, 26, 25, 24, 23, 22, 22, 21, 20, 19, 19, 18, 17, 17, 16, 16, 15, 15, 14, 14, 13, 13, 12, 12, 12, 11, 11, 11, 11, 10, 10, 10, 9, 9, 9, 9, 9, 8, 8, 8, 8, 8, 8, 7, 7, 7, 7},
    {30, 29, 28, 27, 26, 25, 24, 24, 23, 22, 21, 20, 20, 19, 18, 18, 17, 17, 16, 15, 15, 15, 14, 14, 13, 13, 13, 12, 12, 12, 11, 11, 11, 10, 10, 10, 10, 9, 9, 9, 9, 9, 8, 8, 8, 8, 8, 8, 8, 7},
    {30, 29, 28, 27, 26, 26, 25, 24, 23, 22, 22, 21, 20, 19, 19, 18, 18, 17, 16, 16, 15, 15, 15, 14, 14, 13, 13, 13, 12, 12, 12, 11, 11, 11, 11, 10, 10, 10, 10, 9, 9, 9, 9, 9, 9, 8, 8, 8, 8, 8},
    {30, 29, 28, 27, 27, 26, 25, 24, 23, 23, 22, 21, 20, 20, 19, 19, 18, 17, 17, 16, 16, 15, 15, 15, 14, 14, 13, 13, 13, 12, 12, 12, 12, 11, 11, 11, 10, 10, 10, 10, 10, 9, 9, 9, 9, 9, 9, 8, 8, 8},
    {30, 29, 28, 28, 27, 26, 25, 24, 24, 23, 22, 21, 21, 20, 20, 19, 18, 18, 17, 17, 16, 16, 15, 15, 15, 14, 14, 13, 13, 13, 12, 12, 12, 12, 11, 11, 11, 11, 10, 10, 10, 10, 10, 9, 9, 9, 9, 9, 9, 8},
    {30, 29, 28, 28, 27, 26, 25, 25, 24, 23, 22, 22, 21, 21, 20, 19, 19, 18, 18, 17, 17, 16, 16, 15, 15, 15, 14, 14, 14, 13, 13, 13, 12, 12, 12, 11, 11, 11, 11, 11, 10, 10, 10, 10, 10, 9, 9, 9, 9, 9},
    {30, 29, 28, 28, 27, 26, 26, 25, 24, 23, 23, 22, 21, 21, 20, 20, 19, 19, 18, 18, 17, 17, 16, 16, 15, 15, 15, 14, 14, 14, 13, 13, 13, 12, 12, 12, 12, 11, 11, 11, 11, 10, 10, 10, 10, 10, 10, 9, 9, 9},
    {30, 29, 29, 28, 27, 26, 26, 25, 24, 24, 23, 22, 22, 21, 21, 20, 19, 19, 18, 18, 17, 17, 17, 16, 16, 15, 15, 15, 14, 14, 14, 13, 13, 13, 12, 12, 12, 12, 11, 11, 11, 11, 11, 10, 10, 10, 10, 10, 9, 9},
    {30, 29, 29, 28, 27, 27, 26, 25, 24, 24, 23, 23, 22, 21, 21, 20, 20, 19, 19, 18, 18, 17, 17, 17, 16, 16, 15, 15, 15, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12, 11, 11, 11, 11, 11, 10, 10, 10, 10, 10},
    {30, 29, 29, 28, 27, 27, 26, 25, 25, 24, 23, 23, 22, 22, 21, 21, 20, 20, 19, 19, 18, 18, 17, 17, 16, 16, 16, 15, 15, 15, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12, 11, 11, 11, 11, 11, 10, 10, 10, 10},
    {30, 29, 29, 28, 27, 27, 26, 25, 25, 24, 24, 23, 23, 22, 21, 21, 20, 20, 19, 19, 18, 18, 18, 17, 17, 16, 16, 16, 15, 15, 15, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12, 12, 11, 11, 11, 11, 11, 10, 10},
    {30, 29, 29, 28, 27, 27, 26, 26, 25, 24, 24, 23, 23, 22, 22, 21, 21, 20, 20, 19, 19, 18, 18, 18, 17, 17, 16, 16, 16, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12, 11, 11, 11, 11, 11, 10},
    {30, 29, 29, 28, 28, 27, 26, 26, 25, 25, 24, 23, 23, 22, 22, 21, 21, 20, 20, 19, 19, 19, 18, 18, 17, 17, 17, 16, 16, 16, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12, 12, 11, 11, 11, 11},
    {30, 29, 29, 28, 28, 27, 26, 26, 25, 25, 24, 24, 23, 23, 22, 22, 21, 21, 20, 20, 19, 19, 18, 18, 18, 17, 17, 17, 16, 16, 16, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12, 12, 12, 11, 11, 11},
    {30, 29, 29, 28, 28, 27, 27, 26, 25, 25, 24, 24, 23, 23, 22, 22, 21, 21, 20, 20, 20, 19, 19, 18, 18, 18, 17, 17, 17, 16, 16, 16, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 13, 12, 12, 12, 12, 12, 11},
    {30, 29, 29, 28, 28, 27, 27, 26, 26, 25, 25, 24, 24, 23, 23, 22, 22, 21, 21, 20, 20, 19, 19, 19, 18, 18, 18, 17, 17, 17, 16, 16, 16, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 13, 12, 12, 12, 12, 12},
    {30, 29, 29, 28, 28, 27, 27, 26, 26, 25, 25, 24, 24, 23, 23, 22, 22, 21, 21, 21, 20, 20, 19, 19, 19, 18, 18, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 13, 12, 12, 12, 12},
    {30, 29, 29, 28, 28, 27, 27, 26, 26, 25, 25, 24, 24, 23, 23, 22, 22, 22, 21, 21, 20, 20, 20, 19, 19, 18, 18, 18, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 14, 14, 14, 14, 14, 13, 13, 13, 13, 12, 12, 12},
    {30, 29, 29, 28, 28, 27, 27, 26, 26, 25, 25, 24, 24, 24, 23, 23, 22, 22, 21, 21, 21, 20, 20, 19, 19, 19, 18, 18, 18, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 14, 14, 14, 14, 14, 13, 13, 13, 13, 13, 12},
    {30, 29, 29, 28, 28, 28, 27, 27, 26, 26, 25, 25, 24, 24, 23, 23, 22, 22, 22, 21, 21, 20, 20, 20, 19, 19, 19, 18, 18, 18, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13, 13},
    {30, 30, 29, 29, 28, 28, 27, 27, 26, 26, 25, 25, 24, 24, 23, 23, 23, 22, 22, 21, 21, 21, 20, 20, 19, 19, 19, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13, 13},
    {30, 30, 29, 29, 28, 28, 27, 27, 26, 26, 25, 25, 24, 24, 24, 23, 23, 22, 22, 22, 21, 21, 20, 20, 20, 19, 19, 19, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 15, 15, 15, 15, 15, 14, 14, 14, 14, 13, 13, 13},
    {30, 30, 29, 29, 28, 28, 27, 27, 26, 26, 25, 25, 25, 24, 24, 23, 23, 22, 22, 22, 21, 21, 21, 20, 20, 20, 19, 19, 19, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 15, 15, 15, 15, 15, 14, 14, 14, 14, 14, 13},
    {30, 30, 29, 29, 28, 28, 27, 27, 26, 26, 26, 25, 25, 24, 24, 23, 23, 23, 22, 22, 22, 21, 21, 20, 20, 20, 19, 19, 19, 18, 18, 18, 18, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 15, 15, 14, 14, 14, 14, 14},
    {30, 30, 29, 29, 28, 28, 27, 27, 26, 26, 26, 25, 25, 24, 24, 24, 23, 23, 22, 22, 22, 21, 21, 21, 20, 20, 20, 19, 19, 19, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 15, 15, 14, 14, 14, 14},
    {30, 30, 29, 29, 28, 28, 27, 27, 27, 26, 26, 25, 25, 25, 24, 24, 23, 23, 23, 22, 22, 21, 21, 21, 20, 20, 20, 19, 19, 19, 19, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 15, 15, 14, 14, 14},
    {30, 30, 29, 29, 28, 28, 27, 27, 27, 26, 26, 25, 25, 25, 24, 24, 23, 23, 23, 22, 22, 22, 21, 21, 21, 20, 20, 20, 19, 19, 19, 18, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 15, 15, 14, 14},
    {30, 30, 29, 29, 28, 28, 28, 27, 27, 26, 26, 26, 25, 25, 24, 24, 24, 23, 23, 23, 22, 22, 21, 21, 21, 20, 20, 20, 20, 19, 19, 19, 18, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 15, 15, 14},
    {30, 30, 29, 29, 28, 28, 28, 27, 27, 26, 26, 26, 25, 25, 24, 24, 24, 23, 23, 23, 22, 22, 22, 21, 21, 21, 20, 20, 20, 19, 19, 19, 19, 18, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 16, 15, 15, 15, 15, 15},
    {30, 30, 29, 29, 28, 28, 28, 27, 27, 26, 26, 26, 25, 25, 25, 24, 24, 23, 23, 23, 22, 22, 22, 21, 21, 21, 21, 20, 20, 20, 19, 19, 19, 18, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 16, 16, 15, 15, 15, 15},
    {30, 30, 29, 29, 28, 28, 28, 27, 27, 27, 26, 26, 25, 25, 25, 24, 24, 24, 23, 23, 23, 22, 22, 22, 21, 21, 21, 20, 20, 20, 20, 19, 19, 19, 18, 18, 18, 18, 17, 17, 17, 17, 16, 16, 16, 16, 16, 15, 15, 15},
};

int64_t Absolute(int64_t value) { return value < 0 ? -value : value; }

// Up to this larger component the scaled dividend 49 x smaller + larger / 2
// (below 50 x larger) and the divisor fit 32 bits, so a 32-bit division serves.
constexpr uint64_t kNarrowScaleLimit = UINT32_MAX / kHalfAngleScaleFrom;

// Ridge orientation from the table angle t (0..30) and the signs of a and b:
// [sign case][t] with sign case 3 x (a > 0) + (sign of b) + 1. The gradient
// angle g is t, 120 - t, 60 - t or 60 + t by quadrant (120 wraps to 0); the
// ridge runs across it, 60 further on.
constexpr int32_t kSignsOfB = 3;  // negative, zero, positive
constexpr int32_t kSignCases = 2 * kSignsOfB;
constexpr int32_t kTableAngles = 31;
struct RidgeByQuadrant {
  uint8_t at[kSignCases][kTableAngles];
};
constexpr RidgeByQuadrant MakeRidgeByQuadrant() {
  constexpr int32_t kQuarter = kHalfTurnOrientations / 2;
  RidgeByQuadrant table{};
  for (int32_t signCase = 0; signCase < kSignCases; ++signCase) {
    const bool aPositive = signCase >= kSignsOfB;
    const int32_t bSign = signCase % kSignsOfB - 1;
    for (int32_t t = 0; t < kTableAngles; ++t) {
      int32_t g = 0;
      if (aPositive) {
        g = bSign < 0 ? kHalfTurnOrientations - t : t;
      } else {
        g = bSign > 0 ? kQuarter - t : kQuarter + t;
      }
      if (g == kHalfTurnOrientations) g = 0;
      table.at[signCase][t] = static_cast<uint8_t>(g < kQuarter ? g + kQuarter : g - kQuarter);
    }
  }
  return table;
}
constexpr RidgeByQuadrant kRidgeByQuadrant = MakeRidgeByQuadrant();

inline uint8_t OrientationOf(int32_t gxx, int32_t gyy, int32_t gxy) {
  const int64_t a = static_cast<int64_t>(gxx) - gyy;
  const int64_t b = 2 * static_cast<int64_t>(gxy);
  const uint64_t magnitudeA = static_cast<uint64_t>(Absolute(a));
  const uint64_t magnitudeB = static_cast<uint64_t>(Absolute(b));
  // Both components are scaled by 49 / the larger one, rounded: the larger
  // becomes (49 L + L/2) / L = 49 exactly, so only the smaller needs a division.
  const bool aLarger = magnitudeA >= magnitudeB;
  const uint64_t larger = aLarger ? magnitudeA : magnitudeB;
  uint64_t smaller = aLarger ? magnitudeB : magnitudeA;
  uint64_t largerIndex = larger;
  if (larger >= kHalfAngleScaleFrom) {
    largerIndex = kHalfAngleMax;
    const uint64_t dividend = smaller * kHalfAngleMax + (larger >> 1);
    smaller = larger <= kNarrowScaleLimit ? static_cast<uint32_t>(dividend) / static_cast<uint32_t>(larger)
                                          : dividend / larger;
  }
  const int32_t t = aLarger ? kHalfAngle[smaller][largerIndex] : kHalfAngle[largerIndex][smaller];
  const int32_t signCase = kSignsOfB * (a > 0 ? 1 : 0) + (b > 0 ? 1 : 0) - (b < 0 ? 1 : 0) + 1;
  return kRidgeByQuadrant.at[signCase][t];
}

#ifdef VS_MOMENTS_SSE2
// The ridge orientation of every table cell and sign case at once:
// [cell x kSignCases + sign case], cell = row x 50 + column of kHalfAngle.
constexpr int32_t kHalfAngleSide = static_cast<int32_t>(kHalfAngleMax) + 1;
constexpr int32_t kHalfAngleCells = kHalfAngleSide * kHalfAngleSide;
struct RidgeByCell {
  uint8_t at[kHalfAngleCells * kSignCases];
};
constexpr RidgeByCell MakeRidgeByCell() {
  RidgeByCell table{};
  for (int32_t cell = 0; cell < kHalfAngleCells; ++cell) {
    for (int32_t signCase = 0; signCase < kSignCases; ++signCase) {
      table.at[cell * kSignCases + signCase] =
          kRidgeByQuadrant.at[signCase][kHalfAngle[cell / kHalfAngleSide][cell % kHalfAngleSide]];
    }
  }
  return table;
}
constexpr RidgeByCell kRidgeByCell = MakeRidgeByCell();

// Moments up to 2^24 in magnitude keep |a|, |b| and the scaled dividend
// (below 50 x the larger component) within 31 bits; four windows with a
// larger moment take OrientationOf.
constexpr int32_t kFourWideMomentLimit = 1 << 24;

inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
  return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}
inline __m128i Magnitude(__m128i v) {
  const __m128i sign = _mm_srai_epi32(v, 31);
  return _mm_sub_epi32(_mm_xor_si128(v, sign), sign);
}
inline __m128i Times50(__m128i v) {
  return _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(v, 5), _mm_slli_epi32(v, 4)), _mm_slli_epi32(v, 1));
}
// Truncated quotients of four non-negative dividends and positive divisors
// below 2^31: each quotient is below 2^31 and differs from the double
// quotient by far less than 1 / divisor, so truncating the double is exact.
inline __m128i Quotients(__m128i dividend, __m128i divisor) {
  const __m128i low = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(dividend), _mm_cvtepi32_pd(divisor)));
  const __m128i high = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(dividend, _MM_SHUFFLE(1, 0, 3, 2))),
                                                   _mm_cvtepi32_pd(_mm_shuffle_epi32(divisor, _MM_SHUFFLE(1, 0, 3, 2)))));
  return _mm_unpacklo_epi64(low, high);
}

// OrientationOf for the windows i .. i + 3: the same scaling, table cell and
// sign case, computed four at a time, then one look-up each. False (nothing
// written) when a moment passes kFourWideMomentLimit.
inline bool OrientationOfFour(const int32_t* gxx, const int32_t* gyy, const int32_t* gxy, uint8_t* orientation) {
  const __m128i xx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gxx));
  const __m128i yy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gyy));
  const __m128i xy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gxy));
  const __m128i high = _mm_set1_epi32(kFourWideMomentLimit), low = _mm_set1_epi32(-kFourWideMomentLimit);
  auto beyond = [&](__m128i v) { return _mm_or_si128(_mm_cmpgt_epi32(v, high), _mm_cmplt_epi32(v, low)); };
  const __m128i outside = _mm_or_si128(_mm_or_si128(beyond(xx), beyond(yy)), beyond(xy));
  if (_mm_movemask_epi8(outside) != 0) return false;
  const __m128i zero = _mm_setzero_si128();
  const __m128i a = _mm_sub_epi32(xx, yy);
  const __m128i b = _mm_add_epi32(xy, xy);
  const __m128i magnitudeA = Magnitude(a), magnitudeB = Magnitude(b);
  const __m128i bLarger = _mm_cmpgt_epi32(magnitudeB, magnitudeA);
  const __m128i larger = Select(bLarger, magnitudeB, magnitudeA);
  const __m128i smaller = Select(bLarger, magnitudeA, magnitudeB);
  const __m128i scaled = _mm_cmpgt_epi32(larger, _mm_set1_epi32(static_cast<int32_t>(kHalfAngleMax)));
  const __m128i dividend = _mm_add_epi32(
      _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(smaller, 5), _mm_slli_epi32(smaller, 4)), smaller),  // 49 x smaller
      _mm_srli_epi32(larger, 1));
  const __m128i divisor = Select(scaled, larger, _mm_set1_epi32(1));
  const __m128i smallIndex = Select(scaled, Quotients(Select(scaled, dividend, zero), divisor), smaller);
  const __m128i largeIndex = Select(scaled, _mm_set1_epi32(static_cast<int32_t>(kHalfAngleMax)), larger);
  // The table's row is the b component, its column the a component.
  const __m128i row = Select(bLarger, largeIndex, smallIndex);
  const __m128i column = Select(bLarger, smallIndex, largeIndex);
  // Sign case 3 x (a > 0) + (b > 0) - (b < 0) + 1; the comparisons give -1 for true.
  const __m128i aPositive = _mm_cmpgt_epi32(a, zero);
  const __m128i signCase = _mm_add_epi32(
      _mm_sub_epi32(_mm_sub_epi32(_mm_set1_epi32(1), _mm_add_epi32(aPositive, _mm_add_epi32(aPositive, aPositive))),
                    _mm_cmpgt_epi32(b, zero)),
      _mm_cmpgt_epi32(zero, b));
  const __m128i cell = _mm_add_epi32(Times50(row), column);
  const __m128i index = _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(cell, 2), _mm_slli_epi32(cell, 1)), signCase);
  alignas(16) int32_t indices[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(indices), index);
  for (int lane = 0; lane < 4; ++lane) orientation[lane] = kRidgeByCell.at[indices[lane]];
  return true;
}
#endif

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// Table angles of the scaled cells, where the larger component became 49:
// the column of 49 (a larger) by the smaller component, as 16-bit lanes for a
// two-register permutation (64 entries, the last 14 unused). The row of 49
// (b larger) is 30 minus the same, as no table angle lies at a half.
constexpr int32_t kPermutedAngles = 64;
struct ScaledAngles {
  uint16_t at[kPermutedAngles];
};
constexpr ScaledAngles MakeScaledAngles() {
  ScaledAngles table{};
  for (uint64_t small = 0; small <= kHalfAngleMax; ++small) table.at[small] = kHalfAngle[small][kHalfAngleMax];
  return table;
}
constexpr ScaledAngles kScaledAngles = MakeScaledAngles();
constexpr int32_t kQuarterAngle = 30;  // the table angle of a right angle
constexpr bool RowOf49MirrorsColumn() {
  for (uint64_t small = 0; small <= kHalfAngleMax; ++small) {
    if (kHalfAngle[kHalfAngleMax][small] != kQuarterAngle - kHalfAngle[small][kHalfAngleMax]) return false;
  }
  return true;
}
static_assert(RowOf49MirrorsColumn());

// OrientationOfFour for 16 windows with AVX-512. The quotient of the scaled
// smaller component (0..49) comes from a reciprocal estimate in floats, at
// most one off, and one step each way by its remainder makes it exact. The
// table angle comes from one permutation of kScaledAngles, the sign case by
// arithmetic: the ridge is 60 + t or 60 - t for a > 0 (b >= 0 or b < 0), t or
// 120 - t (modulo 120) for a <= 0 (b <= 0 or b > 0). Returns the lanes left
// for OrientationOf: all when a moment passes kFourWideMomentLimit (nothing
// written), else those whose larger component is below 50 (their table angle
// is not in kScaledAngles; their bytes are written, but not as orientations).
VS_AVX512 uint32_t OrientationOfSixteen(const int32_t* gxx, const int32_t* gyy, const int32_t* gxy,
                                        uint8_t* orientation) {
  const __m512i xx = _mm512_loadu_si512(gxx), yy = _mm512_loadu_si512(gyy), xy = _mm512_loadu_si512(gxy);
  const __m512i limit = _mm512_set1_epi32(kFourWideMomentLimit);
  const __mmask16 outside = _mm512_cmpgt_epu32_mask(_mm512_abs_epi32(xx), limit) |
                            _mm512_cmpgt_epu32_mask(_mm512_abs_epi32(yy), limit) |
                            _mm512_cmpgt_epu32_mask(_mm512_abs_epi32(xy), limit);
  if (outside != 0) return 0xFFFF;
  const __m512i zero = _mm512_setzero_si512();
  const __m512i a = _mm512_sub_epi32(xx, yy);
  const __m512i b = _mm512_add_epi32(xy, xy);
  const __m512i magnitudeA = _mm512_abs_epi32(a), magnitudeB = _mm512_abs_epi32(b);
  const __mmask16 bLarger = _mm512_cmpgt_epi32_mask(magnitudeB, magnitudeA);
  const __m512i largest = _mm512_set1_epi32(static_cast<int32_t>(kHalfAngleMax));
  // Lanes below the scaling limit take a larger component of 50 here (their
  // results are replaced by the caller).
  const __mmask16 scaled = _mm512_cmpgt_epi32_mask(_mm512_max_epi32(magnitudeA, magnitudeB), largest);
  const __m512i larger =
      _mm512_mask_mov_epi32(_mm512_set1_epi32(static_cast<int32_t>(kHalfAngleScaleFrom)), scaled, _mm512_max_epi32(magnitudeA, magnitudeB));
  const __m512i smaller = _mm512_maskz_mov_epi32(scaled, _mm512_min_epi32(magnitudeA, magnitudeB));
  const __m512i dividend = _mm512_add_epi32(_mm512_mullo_epi32(smaller, largest), _mm512_srli_epi32(larger, 1));
  const __m512i quotient = SmallQuotients(dividend, larger);
  // The permutation reads the low 16 bits of each lane (the quotient); the
  // high half of each lane is cleared after.
  const __m512i* angles = reinterpret_cast<const __m512i*>(kScaledAngles.at);
  __m512i t = _mm512_and_si512(
      _mm512_permutex2var_epi16(_mm512_loadu_si512(angles), quotient, _mm512_loadu_si512(angles + 1)),
      _mm512_set1_epi32(0xFFFF));
  t = _mm512_mask_sub_epi32(t, bLarger, _mm512_set1_epi32(kQuarterAngle), t);
  const __mmask16 aPositive = _mm512_cmpgt_epi32_mask(a, zero);
  const __mmask16 turnedBack = (aPositive & _mm512_cmplt_epi32_mask(b, zero)) |
                               (static_cast<__mmask16>(~aPositive) & _mm512_cmpgt_epi32_mask(b, zero));
  constexpr int32_t kQuarter = kHalfTurnOrientations / 2;
  __m512i base = _mm512_maskz_mov_epi32(aPositive, _mm512_set1_epi32(kQuarter));
  base = _mm512_mask_mov_epi32(base, static_cast<__mmask16>(~aPositive) & turnedBack,
                               _mm512_set1_epi32(kHalfTurnOrientations));
  __m512i ridge = _mm512_mask_sub_epi32(_mm512_add_epi32(base, t), turnedBack, base, t);
  ridge = _mm512_mask_mov_epi32(ridge, _mm512_cmpeq_epi32_mask(ridge, _mm512_set1_epi32(kHalfTurnOrientations)), zero);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(orientation), _mm512_cvtepi32_epi8(ridge));
  return static_cast<uint16_t>(~scaled);
}
VS_WIDE_CODE_END
#endif

// OrientationOf over a row, 16 or four windows at a time where the vector
// level allows.
inline void OrientationsOf(const int32_t* gxx, const int32_t* gyy, const int32_t* gxy, int32_t count, uint8_t* orientation,
                           [[maybe_unused]] SimdLevel level) {
  int32_t i = 0;
#ifdef VS_WIDE_VECTORS
  for (; level == SimdLevel::kAvx512 && i + 16 <= count; i += 16) {
    for (uint32_t left = OrientationOfSixteen(gxx + i, gyy + i, gxy + i, orientation + i); left != 0; left &= left - 1) {
      const int32_t k = i + __builtin_ctz(left);
      orientation[k] = OrientationOf(gxx[k], gyy[k], gxy[k]);
    }
  }
#endif
#ifdef VS_MOMENTS_SSE2
  for (; level != SimdLevel::kPlain && i + 4 <= count; i += 4) {
    if (OrientationOfFour(gxx + i, gyy + i, gxy + i, orientation + i)) continue;
    for (int32_t k = i; k < i + 4; ++k) orientation[k] = OrientationOf(gxx[k], gyy[k], gxy[k]);
  }
#endif
  for (; i < count; ++i) orientation[i] = OrientationOf(gxx[i], gyy[i], gxy[i]);
}

inline uint8_t NearestRootOf(uint32_t q) {
  if (q >= kCoherenceCapSquared) return kReliabilityMax;
  if (q < kRootEntries) return kSmallRoots[q];
  uint32_t root = q < kMidRootLimit ? kMidRootStarts[q >> kMidRootShift] : kHighRootStarts[q >> kHighRootShift];
  root += kRoundsTo[root + 1] <= q ? 1 : 0;
  root += kRoundsTo[root + 1] <= q ? 1 : 0;
  return static_cast<uint8_t>(root);
}

inline uint8_t CoherenceOf(int32_t gxx, int32_t gyy, int32_t gxy, uint8_t energyMin) {
  const int32_t meanX = gxx / kGradientWeightSquared;
  const int32_t meanY = gyy / kGradientWeightSquared;
  const int64_t energy = static_cast<int64_t>(meanX) + meanY;
  if (energy < static_cast<int64_t>(energyMin) * energyMin) return 0;
  const int64_t x = meanX >> 2;
  const int64_t y = meanY >> 2;
  const int64_t z = (gxy / kGradientWeightSquared) >> 2;
  const int64_t d = x - y;
  const int64_t e = 2 * z;
  const int64_t s = x + y;
  const uint64_t den = static_cast<uint64_t>(s * s) / kCoherenceScaleSquared;
  const uint64_t n = static_cast<uint64_t>(d * d + e * e);
  if (den == 0 || n < den) return 0;
  // n fits 32 bits in every real window (and den <= n then does too).
  const uint64_t q = n <= UINT32_MAX ? static_cast<uint32_t>(n) / static_cast<uint32_t>(den) : n / den;
  return NearestRootOf(q > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(q));
}

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// Moments the 16-lane coherence takes: gxx and gyy in 0..kCoherenceWideLimit,
// |gxy| up to it (every real window: a mean of gx² is at most 1530²). Then
// the mean moments over 36 are below 2^16, x, y and |z| below 2^14, the sum s
// below 2^15, s² and d² + e² below 2^31, and den below 2^15.
constexpr int32_t kCoherenceWideLimit = (9 << 18) - 1;
// Exact n / 36 for 0 <= n < 2^22 and n / 65025 for 0 <= n < 2^30 as (n M) >>
// k with M = ceil(2^k / d): M d - 2^k is 8 and 24193, times the largest n
// below 2^k, so the fraction dropped stays below 1 (see MeanReciprocal).
constexpr uint32_t kThirtySixthMultiplier = 29826162;
constexpr int32_t kThirtySixthShift = 30;
constexpr uint32_t kCoherenceScaleMultiplier = 541089921;
constexpr int32_t kCoherenceScaleShift = 45;
static_assert(uint64_t{kThirtySixthMultiplier} * kGradientWeightSquared - (uint64_t{1} << kThirtySixthShift) == 8);
static_assert(uint64_t{kCoherenceScaleMultiplier} * kCoherenceScaleSquared - (uint64_t{1} << kCoherenceScaleShift) ==
              24193);

// floor(n / d) of 16 non-negative lanes by the multiplier and shift above.
VS_AVX512 inline __m512i DivideByReciprocal(__m512i n, uint32_t multiplier, int32_t shift) {
  const __m512i m = _mm512_set1_epi32(static_cast<int32_t>(multiplier));
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m512i even = _mm512_srl_epi64(_mm512_mul_epu32(n, m), count);
  const __m512i odd = _mm512_srl_epi64(_mm512_mul_epu32(_mm512_srli_epi64(n, 32), m), count);
  return _mm512_or_si512(even, _mm512_slli_epi64(odd, 32));
}

// CoherenceOf for 16 windows; false (nothing written) when a moment lies
// outside the range above. q = n / den comes from a float quotient, which is
// within 0.01 of n / den below the cap (so at most one off after truncation,
// and the remainder corrects it); the nearest root of q < 2^17 is the float
// root rounded to nearest, as no root of an integer lies within 4.9e-4 of a
// half.
VS_AVX512 bool CoherenceOfSixteen(const int32_t* gxx, const int32_t* gyy, const int32_t* gxy, uint8_t energyMin,
                                  uint8_t* coherence) {
  const __m512i xx = _mm512_loadu_si512(gxx), yy = _mm512_loadu_si512(gyy), xy = _mm512_loadu_si512(gxy);
  const __m512i limit = _mm512_set1_epi32(kCoherenceWideLimit);
  const __mmask16 outside = _mm512_cmpgt_epu32_mask(xx, limit) | _mm512_cmpgt_epu32_mask(yy, limit) |
                            _mm512_cmpgt_epu32_mask(_mm512_abs_epi32(xy), limit);
  if (outside != 0) return false;
  const __m512i zero = _mm512_setzero_si512();
  const __m512i meanX = DivideByReciprocal(xx, kThirtySixthMultiplier, kThirtySixthShift);
  const __m512i meanY = DivideByReciprocal(yy, kThirtySixthMultiplier, kThirtySixthShift);
  // gxy / 36 truncates towards zero, then the shift floors.
  const __mmask16 negative = _mm512_cmplt_epi32_mask(xy, zero);
  __m512i meanXY = DivideByReciprocal(_mm512_abs_epi32(xy), kThirtySixthMultiplier, kThirtySixthShift);
  meanXY = _mm512_mask_sub_epi32(meanXY, negative, zero, meanXY);
  const int32_t energyFloor = static_cast<int32_t>(energyMin) * energyMin;
  const __mmask16 weak = _mm512_cmplt_epi32_mask(_mm512_add_epi32(meanX, meanY), _mm512_set1_epi32(energyFloor));
  const __m512i x = _mm512_srai_epi32(meanX, 2), y = _mm512_srai_epi32(meanY, 2);
  const __m512i e = _mm512_slli_epi32(_mm512_srai_epi32(meanXY, 2), 1);
  const __m512i d = _mm512_sub_epi32(x, y);
  const __m512i s = _mm512_add_epi32(x, y);
  const __m512i den = DivideByReciprocal(_mm512_mullo_epi32(s, s), kCoherenceScaleMultiplier, kCoherenceScaleShift);
  const __m512i n = _mm512_add_epi32(_mm512_mullo_epi32(d, d), _mm512_mullo_epi32(e, e));
  const __mmask16 noDen = _mm512_cmpeq_epi32_mask(den, zero);
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i divisor = _mm512_mask_mov_epi32(den, noDen, one);
  const __m512 quotient = _mm512_div_ps(_mm512_cvtepi32_ps(n), _mm512_cvtepi32_ps(divisor));
  const __mmask16 capped = _mm512_cmp_ps_mask(quotient, _mm512_set1_ps(static_cast<float>(kCoherenceCapSquared + 1)),
                                              _CMP_GE_OQ);
  __m512i q = _mm512_cvttps_epi32(_mm512_mask_mov_ps(quotient, capped, _mm512_setzero_ps()));
  const __m512i rest = _mm512_sub_epi32(n, _mm512_mullo_epi32(q, divisor));
  q = _mm512_mask_sub_epi32(q, _mm512_cmplt_epi32_mask(rest, zero), q, one);
  q = _mm512_mask_add_epi32(q, _mm512_cmpge_epi32_mask(rest, divisor), q, one);
  __m512i root = _mm512_cvt_roundps_epi32(_mm512_sqrt_ps(_mm512_cvtepi32_ps(q)),
                                          _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  root = _mm512_min_epi32(root, _mm512_set1_epi32(kReliabilityMax));
  root = _mm512_mask_mov_epi32(root, capped, _mm512_set1_epi32(kReliabilityMax));
  root = _mm512_maskz_mov_epi32(static_cast<__mmask16>(~(weak | noDen)), root);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(coherence), _mm512_cvtepi32_epi8(root));
  return true;
}
VS_WIDE_CODE_END
#endif

}  // namespace

int32_t MomentMean(int64_t sum, int32_t count) {
  return static_cast<int32_t>((sum + (count >> 1)) / count);
}

uint8_t NearestRootCapped(uint32_t q) { return NearestRootOf(q); }

uint8_t OrientationFromMoments(int32_t gxx, int32_t gyy, int32_t gxy) { return OrientationOf(gxx, gyy, gxy); }

uint8_t CoherenceFromMoments(int32_t gxx, int32_t gyy, int32_t gxy, uint8_t energyMin) {
  return CoherenceOf(gxx, gyy, gxy, energyMin);
}

void OrientationAndCoherenceRow(const int32_t* gxx, const int32_t* gyy, const int32_t* gxy, int32_t count,
                                uint8_t energyMin, uint8_t* orientation, uint8_t* coherence, SimdLevel level) {
  OrientationsOf(gxx, gyy, gxy, count, orientation, level);
  int32_t i = 0;
#ifdef VS_WIDE_VECTORS
  for (; level == SimdLevel::kAvx512 && i + 16 <= count; i += 16) {
    if (CoherenceOfSixteen(gxx + i, gyy + i, gxy + i, energyMin, coherence + i)) continue;
    for (int32_t k = i; k < i + 16; ++k) coherence[k] = CoherenceOf(gxx[k], gyy[k], gxy[k], energyMin);
  }
#endif
  for (; i < count; ++i) coherence[i] = CoherenceOf(gxx[i], gyy[i], gxy[i], energyMin);
}

void OrientationRow(const int32_t* gxx, const int32_t* gyy, const int32_t* gxy, int32_t count, uint8_t* orientation,
                    SimdLevel level) {
  OrientationsOf(gxx, gyy, gxy, count, orientation, level);
}

namespace {

// The difference orientation in integers of type Wide: 64 bits always
// suffice; 32 bits do while the largest value m stays below kNarrowDifferences.
// The offset is bounded by 45 (|b - a| <= (m - a) + (m - b) and likewise
// |e - c|, so |(b - a) + 3 (e - c)| <= 3 x -spread), hence every product
// stays below 255 m (the ratio), and 255 m < 2^31 for m below 2^23.
constexpr int32_t kNarrowDifferences = 1 << 23;

template <typename Wide>
DifferenceOrientation DifferenceOrientationIn(int32_t h, int32_t d1, int32_t v, int32_t d2, int32_t m) {
  // Adjacent pairs in trial order, each with the values before and after it
  // (c, a, b, e) and the orientation between a and b; the first smallest sum wins.
  struct Pair {
    int32_t base, c, a, b, e;
  };
  const Pair pairs[4] = {{45, h, d1, v, d2}, {75, d1, v, d2, h}, {105, v, d2, h, d1}, {15, d2, h, d1, v}};
  const Pair* chosen = &pairs[0];
  for (const Pair& pair : pairs) {
    if (pair.a + pair.b < chosen->a + chosen->b) chosen = &pair;
  }
  const Wide a = chosen->a, b = chosen->b, c = chosen->c, e = chosen->e;
  const Wide sum = a + b + c + e;
  const Wide spread = sum - 4 * static_cast<Wide>(m);  // negative unless all four are equal
  if (spread == 0) return DifferenceOrientation{kUndefinedOrientation, kReliabilityMax};

  const Wide off = kOffsetScale * ((b - a) + kOffsetOppositeWeight * (e - c)) / spread;
  Wide orientation = chosen->base + off;
  if (orientation == kHalfTurnOrientations) orientation = 0;

  // lo: the smaller value of the pair; hi: the value at right angles to it.
  const Wide lo = b < a ? b : a;
  const Wide hi = b < a ? c : e;
  const Wide k = (hi - lo) * (kOffsetScale - (off < 0 ? -off : off)) / (2 * kOffsetScale);
  const Wide num = k > lo ? 0 : lo - k;
  const Wide den = hi + k;
  const Wide ratio = den == 0 ? kReliabilityMax : num * kReliabilityMax / den;
  return DifferenceOrientation{static_cast<uint8_t>(orientation), static_cast<uint8_t>(ratio)};
}

}  // namespace

DifferenceOrientation OrientationFromDifferences(int32_t h, int32_t d1, int32_t v, int32_t d2) {
  int32_t m = h;
  if (d1 > m) m = d1;
  if (v > m) m = v;
  if (d2 > m) m = d2;
  if (m < kNarrowDifferences) return DifferenceOrientationIn<int32_t>(h, d1, v, d2, m);
  return DifferenceOrientationIn<int64_t>(h, d1, v, d2, m);
}

namespace {

#ifdef VS_MOMENTS_SSE2
inline __m128d SelectWide(__m128d mask, __m128d ifSet, __m128d ifClear) {
  return _mm_or_pd(_mm_and_pd(mask, ifSet), _mm_andnot_pd(mask, ifClear));
}
// Truncates towards zero, as integer division does. Every quotient here has
// a dividend below 2^53 and an integer divisor, so the rounded double
// quotient lies on the same side of every integer as the exact one.
inline __m128d Truncated(__m128d v) { return _mm_cvtepi32_pd(_mm_cvttpd_epi32(v)); }
inline __m128d LoadTwo(const int32_t* p) { return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))); }

// DifferenceOrientationIn for two windows in doubles (every value an exact
// integer below 2^53), pairs chosen by masks; the largest scaled value too.
// Only for scaled values below kNarrowDifferences, where the 32-bit results
// (orientation and ratio before their narrowing to a byte) are the integer ones.
inline void DifferenceOrientationTwo(__m128d h, __m128d d1, __m128d v, __m128d d2, int32_t* orientation,
                                     int32_t* ratio) {
  const __m128d zero = _mm_setzero_pd();
  const __m128d largest = _mm_max_pd(_mm_max_pd(h, d1), _mm_max_pd(v, d2));
  // Pairs (c, a, b, e) in trial order; the first smallest a + b wins.
  __m128d base = _mm_set1_pd(45), c = h, a = d1, b = v, e = d2, sum = _mm_add_pd(d1, v);
  auto trial = [&](double pairBase, __m128d pc, __m128d pa, __m128d pb, __m128d pe) {
    const __m128d pairSum = _mm_add_pd(pa, pb);
    const __m128d smaller = _mm_cmplt_pd(pairSum, sum);
    base = SelectWide(smaller, _mm_set1_pd(pairBase), base);
    c = SelectWide(smaller, pc, c);
    a = SelectWide(smaller, pa, a);
    b = SelectWide(smaller, pb, b);
    e = SelectWide(smaller, pe, e);
    sum = SelectWide(smaller, pairSum, sum);
  };
  trial(75, d1, v, d2, h);
  trial(105, v, d2, h, d1);
  trial(15, d2, h, d1, v);
  // The four values are the same in every pair: the spread is too.
  const __m128d spread = _mm_sub_pd(_mm_add_pd(_mm_add_pd(h, d1), _mm_add_pd(v, d2)), _mm_mul_pd(largest, _mm_set1_pd(4)));
  const __m128d flat = _mm_cmpeq_pd(spread, zero);
  const __m128d divisor = SelectWide(flat, _mm_set1_pd(1), spread);
  const __m128d offsetScale = _mm_set1_pd(kOffsetScale);
  const __m128d off = Truncated(_mm_div_pd(
      _mm_mul_pd(offsetScale, _mm_add_pd(_mm_sub_pd(b, a), _mm_mul_pd(_mm_set1_pd(kOffsetOppositeWeight), _mm_sub_pd(e, c)))),
      divisor));
  __m128d turned = _mm_add_pd(base, off);
  turned = _mm_andnot_pd(_mm_cmpeq_pd(turned, _mm_set1_pd(kHalfTurnOrientations)), turned);
  const __m128d bSmaller = _mm_cmplt_pd(b, a);
  const __m128d lo = SelectWide(bSmaller, b, a);
  const __m128d hi = SelectWide(bSmaller, c, e);
  const __m128d offMagnitude = _mm_max_pd(off, _mm_sub_pd(zero, off));
  const __m128d k = Truncated(_mm_div_pd(_mm_mul_pd(_mm_sub_pd(hi, lo), _mm_sub_pd(offsetScale, offMagnitude)),
                                         _mm_set1_pd(2 * kOffsetScale)));
  const __m128d num = _mm_andnot_pd(_mm_cmpgt_pd(k, lo), _mm_sub_pd(lo, k));
  const __m128d den = _mm_add_pd(hi, k);
  const __m128d noDen = _mm_cmpeq_pd(den, zero);
  const __m128d maxRatio = _mm_set1_pd(kReliabilityMax);
  __m128d r = Truncated(_mm_div_pd(_mm_mul_pd(num, maxRatio), SelectWide(noDen, _mm_set1_pd(1), den)));
  r = SelectWide(_mm_or_pd(noDen, flat), maxRatio, r);
  turned = SelectWide(flat, _mm_set1_pd(kUndefinedOrientation), turned);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(orientation), _mm_cvttpd_epi32(turned));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(ratio), _mm_cvttpd_epi32(r));
}
#endif

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN

// Exact x / 100 for 0 <= x < 2^32: (x M) >> 37 with M = ceil(2^37 / 100).
constexpr uint64_t kHundredthReciprocal = ((uint64_t{1} << 37) + kDiagonalScaleDivisor - 1) / kDiagonalScaleDivisor;
constexpr int32_t kHundredthShift = 37;

// d x 71 / 100 of eight non-negative sums below 2^31 / 71, as doubles.
VS_AVX512 inline __m512d ScaledDiagonals(const int32_t* d) {
  const __m256i times = _mm256_mullo_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(d)),
                                           _mm256_set1_epi32(kDiagonalScale));
  const __m512i scaled = _mm512_srli_epi64(
      _mm512_mul_epu32(_mm512_cvtepu32_epi64(times), _mm512_set1_epi64(static_cast<int64_t>(kHundredthReciprocal))),
      kHundredthShift);
  return _mm512_cvtepi32_pd(_mm512_cvtepi64_epi32(scaled));
}

VS_AVX512 inline __m512d EightValues(const int32_t* p) {
  return _mm512_cvtepi32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

// Truncated towards zero, as integer division does (every value an integer
// below 2^53 in magnitude).
VS_AVX512 inline __m512d WideTruncated(__m512d v) { return _mm512_roundscale_pd(v, _MM_FROUND_TO_ZERO); }

// x / 30 truncated towards zero for integer x below 2^52 in magnitude, without
// a division: the product with the rounded reciprocal is at most one off,
// and the remainder says which way.
VS_AVX512 inline __m512d ThirtiethTruncated(__m512d x) {
  const __m512d thirty = _mm512_set1_pd(2 * kOffsetScale);
  const __m512d one = _mm512_set1_pd(1);
  __m512d q = WideTruncated(_mm512_mul_pd(x, _mm512_set1_pd(1.0 / (2 * kOffsetScale))));
  const __m512d rest = _mm512_sub_pd(x, _mm512_mul_pd(q, thirty));
  const __mmask8 positive = _mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_GE_OQ);
  // x >= 0: 0 <= rest < 30; x < 0: -30 < rest <= 0.
  q = _mm512_mask_add_pd(q, positive & _mm512_cmp_pd_mask(rest, thirty, _CMP_GE_OQ), q, one);
  q = _mm512_mask_sub_pd(q, positive & _mm512_cmp_pd_mask(rest, _mm512_setzero_pd(), _CMP_LT_OQ), q, one);
  q = _mm512_mask_sub_pd(q, ~positive & _mm512_cmp_pd_mask(rest, _mm512_sub_pd(_mm512_setzero_pd(), thirty), _CMP_LE_OQ),
                         q, one);
  q = _mm512_mask_add_pd(q, ~positive & _mm512_cmp_pd_mask(rest, _mm512_setzero_pd(), _CMP_GT_OQ), q, one);
  return q;
}

// DifferenceOrientationRow for the windows i .. i + 7 in doubles, as
// DifferenceOrientationTwo; false (nothing written) when a scaled value
// reaches kNarrowDifferences.
VS_AVX512 bool DifferenceOrientationEight(const int32_t* hs, const int32_t* d1s, const int32_t* vs,
                                          const int32_t* d2s, int64_t flatLimit, uint8_t* orientation,
                                          uint8_t* reliability) {
  const __m512d h = EightValues(hs), v = EightValues(vs), d1 = ScaledDiagonals(d1s), d2 = ScaledDiagonals(d2s);
  const __m512d largest = _mm512_max_pd(_mm512_max_pd(h, d1), _mm512_max_pd(v, d2));
  if (_mm512_cmp_pd_mask(largest, _mm512_set1_pd(kNarrowDifferences), _CMP_LT_OQ) != 0xFF) return false;
  const __m512d zero = _mm512_setzero_pd();
  // Pairs (c, a, b, e) in trial order; the first smallest a + b wins.
  __m512d base = _mm512_set1_pd(45), c = h, a = d1, b = v, e = d2, sum = _mm512_add_pd(d1, v);
  const double bases[3] = {75, 105, 15};
  const __m512d* trials[3][4] = {{&d1, &v, &d2, &h}, {&v, &d2, &h, &d1}, {&d2, &h, &d1, &v}};
  for (int32_t t = 0; t < 3; ++t) {
    const __m512d pairSum = _mm512_add_pd(*trials[t][1], *trials[t][2]);
    const __mmask8 smaller = _mm512_cmp_pd_mask(pairSum, sum, _CMP_LT_OQ);
    base = _mm512_mask_mov_pd(base, smaller, _mm512_set1_pd(bases[t]));
    c = _mm512_mask_mov_pd(c, smaller, *trials[t][0]);
    a = _mm512_mask_mov_pd(a, smaller, *trials[t][1]);
    b = _mm512_mask_mov_pd(b, smaller, *trials[t][2]);
    e = _mm512_mask_mov_pd(e, smaller, *trials[t][3]);
    sum = _mm512_mask_mov_pd(sum, smaller, pairSum);
  }
  const __m512d spread =
      _mm512_sub_pd(_mm512_add_pd(_mm512_add_pd(h, d1), _mm512_add_pd(v, d2)), _mm512_mul_pd(largest, _mm512_set1_pd(4)));
  const __mmask8 flat = _mm512_cmp_pd_mask(spread, zero, _CMP_EQ_OQ);
  const __m512d divisor = _mm512_mask_mov_pd(spread, flat, _mm512_set1_pd(1));
  const __m512d offsetScale = _mm512_set1_pd(kOffsetScale);
  const __m512d off = WideTruncated(_mm512_div_pd(
      _mm512_mul_pd(offsetScale,
                    _mm512_add_pd(_mm512_sub_pd(b, a), _mm512_mul_pd(_mm512_set1_pd(kOffsetOppositeWeight), _mm512_sub_pd(e, c)))),
      divisor));
  __m512d turned = _mm512_add_pd(base, off);
  turned = _mm512_mask_mov_pd(turned, _mm512_cmp_pd_mask(turned, _mm512_set1_pd(kHalfTurnOrientations), _CMP_EQ_OQ),
                              zero);
  const __mmask8 bSmaller = _mm512_cmp_pd_mask(b, a, _CMP_LT_OQ);
  const __m512d lo = _mm512_mask_mov_pd(a, bSmaller, b);
  const __m512d hi = _mm512_mask_mov_pd(e, bSmaller, c);
  const __m512d offMagnitude = _mm512_max_pd(off, _mm512_sub_pd(zero, off));
  const __m512d k = ThirtiethTruncated(_mm512_mul_pd(_mm512_sub_pd(hi, lo), _mm512_sub_pd(offsetScale, offMagnitude)));
  const __m512d num = _mm512_mask_mov_pd(_mm512_sub_pd(lo, k), _mm512_cmp_pd_mask(k, lo, _CMP_GT_OQ), zero);
  const __m512d den = _mm512_add_pd(hi, k);
  const __mmask8 noDen = _mm512_cmp_pd_mask(den, zero, _CMP_EQ_OQ);
  const __m512d maxRatio = _mm512_set1_pd(kReliabilityMax);
  __m512d r = WideTruncated(
      _mm512_div_pd(_mm512_mul_pd(num, maxRatio), _mm512_mask_mov_pd(den, noDen, _mm512_set1_pd(1))));
  turned = _mm512_mask_mov_pd(turned, flat, _mm512_set1_pd(kUndefinedOrientation));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(orientation), _mm256_cvtepi32_epi8(_mm512_cvttpd_epi32(turned)));
  if (reliability != nullptr) {
    // The flat limit as a double keeps its order against the values (all below 2^31).
    const __mmask8 level = _mm512_cmp_pd_mask(largest, _mm512_set1_pd(static_cast<double>(flatLimit)), _CMP_LE_OQ);
    r = _mm512_mask_mov_pd(r, static_cast<__mmask8>(noDen | flat | level), maxRatio);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(reliability), _mm256_cvtepi32_epi8(_mm512_cvttpd_epi32(r)));
  }
  return true;
}

// floor(x / 30) for 0 <= x < 2^28: (x M) >> 32 with M = ceil(2^32 / 30), M x
// 30 - 2^32 = 14, and x x 14 < 2^32.
constexpr uint32_t kThirtiethMultiplier = 143165577;
constexpr int32_t kThirtiethShift = 32;
static_assert(uint64_t{kThirtiethMultiplier} * (2 * kOffsetScale) - (uint64_t{1} << kThirtiethShift) == 14);

// DifferenceOrientationRow for the windows i .. i + 15 in 32-bit lanes, as
// DifferenceOrientationIn<int32_t>: the diagonals scaled by an exact multiply
// and shift, the offset (at most 45 in magnitude) and the ratio (at most 255
// where num <= den) as SmallQuotients, the division by 30 by multiply and
// shift. False (nothing written) when a scaled value reaches
// kNarrowDifferences or a window's ratio could pass 255 (den < num or den
// negative); DifferenceOrientationEight takes those.
VS_AVX512 bool DifferenceOrientationSixteen(const int32_t* hs, const int32_t* d1s, const int32_t* vs,
                                            const int32_t* d2s, int32_t flatLimit, uint8_t* orientation,
                                            uint8_t* reliability) {
  const __m512i scale = _mm512_set1_epi32(kDiagonalScale);
  const __m512i h = _mm512_loadu_si512(hs), v = _mm512_loadu_si512(vs);
  const __m512i d1 = DivideByReciprocal(_mm512_mullo_epi32(_mm512_loadu_si512(d1s), scale),
                                        static_cast<uint32_t>(kHundredthReciprocal), kHundredthShift);
  const __m512i d2 = DivideByReciprocal(_mm512_mullo_epi32(_mm512_loadu_si512(d2s), scale),
                                        static_cast<uint32_t>(kHundredthReciprocal), kHundredthShift);
  const __m512i largest = _mm512_max_epi32(_mm512_max_epi32(h, d1), _mm512_max_epi32(v, d2));
  if (_mm512_cmplt_epi32_mask(largest, _mm512_set1_epi32(kNarrowDifferences)) != 0xFFFF) return false;
  const __m512i zero = _mm512_setzero_si512();
  const __m512i one = _mm512_set1_epi32(1);
  // Pairs (c, a, b, e) in trial order; the first smallest a + b wins.
  __m512i base = _mm512_set1_epi32(45), c = h, a = d1, b = v, e = d2, sum = _mm512_add_epi32(d1, v);
  const int32_t bases[3] = {75, 105, 15};
  const __m512i* trials[3][4] = {{&d1, &v, &d2, &h}, {&v, &d2, &h, &d1}, {&d2, &h, &d1, &v}};
  for (int32_t t = 0; t < 3; ++t) {
    const __m512i pairSum = _mm512_add_epi32(*trials[t][1], *trials[t][2]);
    const __mmask16 smaller = _mm512_cmplt_epi32_mask(pairSum, sum);
    base = _mm512_mask_mov_epi32(base, smaller, _mm512_set1_epi32(bases[t]));
    c = _mm512_mask_mov_epi32(c, smaller, *trials[t][0]);
    a = _mm512_mask_mov_epi32(a, smaller, *trials[t][1]);
    b = _mm512_mask_mov_epi32(b, smaller, *trials[t][2]);
    e = _mm512_mask_mov_epi32(e, smaller, *trials[t][3]);
    sum = _mm512_mask_mov_epi32(sum, smaller, pairSum);
  }
  // The spread is at most 0, and 0 only where all four are equal.
  const __m512i spread =
      _mm512_sub_epi32(_mm512_add_epi32(_mm512_add_epi32(h, d1), _mm512_add_epi32(v, d2)), _mm512_slli_epi32(largest, 2));
  const __mmask16 flat = _mm512_cmpeq_epi32_mask(spread, zero);
  // off = 15 ((b - a) + 3 (e - c)) / spread, truncated: by magnitudes, negative
  // where the dividend is positive.
  // 15 x and 3 x by shifts (shorter latency than a 32-bit multiply).
  static_assert(kOffsetScale == 15 && kOffsetOppositeWeight == 3);
  const __m512i opposite = _mm512_sub_epi32(e, c);
  const __m512i turn = _mm512_add_epi32(_mm512_sub_epi32(b, a), _mm512_add_epi32(_mm512_slli_epi32(opposite, 1), opposite));
  const __m512i dividend = _mm512_sub_epi32(_mm512_slli_epi32(turn, 4), turn);
  const __m512i divisor = _mm512_mask_mov_epi32(_mm512_abs_epi32(spread), flat, one);
  const __m512i offMagnitude = SmallQuotients(_mm512_abs_epi32(dividend), divisor);
  const __m512i off = _mm512_mask_sub_epi32(offMagnitude, _mm512_cmpgt_epi32_mask(dividend, zero), zero, offMagnitude);
  const __m512i halfTurn = _mm512_set1_epi32(kHalfTurnOrientations);
  __m512i turned = _mm512_add_epi32(base, off);
  turned = _mm512_mask_mov_epi32(turned, _mm512_cmpeq_epi32_mask(turned, halfTurn), zero);
  turned = _mm512_mask_mov_epi32(turned, flat, _mm512_set1_epi32(kUndefinedOrientation));

  const __mmask16 bSmaller = _mm512_cmplt_epi32_mask(b, a);
  const __m512i lo = _mm512_mask_mov_epi32(a, bSmaller, b);
  const __m512i hi = _mm512_mask_mov_epi32(e, bSmaller, c);
  // k = (hi - lo)(15 - |off|) / 30, truncated (|product| < 2^28).
  const __m512i product =
      _mm512_mullo_epi32(_mm512_sub_epi32(hi, lo), _mm512_sub_epi32(_mm512_set1_epi32(kOffsetScale), offMagnitude));
  __m512i k = DivideByReciprocal(_mm512_abs_epi32(product), kThirtiethMultiplier, kThirtiethShift);
  k = _mm512_mask_sub_epi32(k, _mm512_cmplt_epi32_mask(product, zero), zero, k);
  const __m512i num = _mm512_mask_mov_epi32(_mm512_sub_epi32(lo, k), _mm512_cmpgt_epi32_mask(k, lo), zero);
  const __m512i den = _mm512_add_epi32(hi, k);
  const __mmask16 noDen = _mm512_cmpeq_epi32_mask(den, zero);
  const __mmask16 inRange = _mm512_cmple_epi32_mask(num, den) & _mm512_cmpgt_epi32_mask(den, zero);
  if (static_cast<__mmask16>(inRange | noDen | flat) != 0xFFFF) return false;
  static_assert(kReliabilityMax == 255);
  __m512i ratio = SmallQuotients(_mm512_sub_epi32(_mm512_slli_epi32(num, 8), num),
                                 _mm512_mask_mov_epi32(den, static_cast<__mmask16>(~inRange), one));
  const __mmask16 level = _mm512_cmple_epi32_mask(largest, _mm512_set1_epi32(flatLimit));
  ratio = _mm512_mask_mov_epi32(ratio, static_cast<__mmask16>(noDen | flat | level), _mm512_set1_epi32(kReliabilityMax));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(orientation), _mm512_cvtepi32_epi8(turned));
  if (reliability != nullptr) _mm_storeu_si128(reinterpret_cast<__m128i*>(reliability), _mm512_cvtepi32_epi8(ratio));
  return true;
}
VS_WIDE_CODE_END
#endif

}  // namespace

void DifferenceOrientationRow(const int32_t* h, const int32_t* d1, const int32_t* v, const int32_t* d2, int32_t count,
                              int64_t flatLimit, uint8_t* orientation, uint8_t* reliability,
                              [[maybe_unused]] SimdLevel level) {
  auto largestOf = [](int32_t a, int32_t b, int32_t c, int32_t d) {
    const int32_t ab = a > b ? a : b, cd = c > d ? c : d;
    return ab > cd ? ab : cd;
  };
  int32_t i = 0;
#ifdef VS_WIDE_VECTORS
  auto plain = [&](int32_t k) {
    const int32_t s1 = d1[k] * kDiagonalScale / kDiagonalScaleDivisor;
    const int32_t s2 = d2[k] * kDiagonalScale / kDiagonalScaleDivisor;
    const DifferenceOrientation one = OrientationFromDifferences(h[k], s1, v[k], s2);
    orientation[k] = one.orientation;
    if (reliability != nullptr) reliability[k] = largestOf(h[k], s1, v[k], s2) <= flatLimit ? kReliabilityMax : one.ratio;
  };
  auto eight = [&](int32_t from) {
    if (DifferenceOrientationEight(h + from, d1 + from, v + from, d2 + from, flatLimit, orientation + from,
                                   reliability == nullptr ? nullptr : reliability + from)) {
      return;
    }
    for (int32_t k = from; k < from + 8; ++k) plain(k);
  };
  // The flat limit held to 32 bits keeps its order against the values (below 2^23).
  const int32_t narrowFlatLimit =
      static_cast<int32_t>(flatLimit < INT32_MIN ? INT32_MIN : (flatLimit > INT32_MAX ? INT32_MAX : flatLimit));
  for (; level == SimdLevel::kAvx512 && i + 16 <= count; i += 16) {
    if (DifferenceOrientationSixteen(h + i, d1 + i, v + i, d2 + i, narrowFlatLimit, orientation + i,
                                     reliability == nullptr ? nullptr : reliability + i)) {
      continue;
    }
    eight(i);
    eight(i + 8);
  }
  for (; level == SimdLevel::kAvx512 && i + 8 <= count; i += 8) eight(i);
#endif
#ifdef VS_MOMENTS_SSE2
  const __m128d scale = _mm_set1_pd(kDiagonalScale), scaleDivisor = _mm_set1_pd(kDiagonalScaleDivisor);
  const __m128d narrow = _mm_set1_pd(kNarrowDifferences);
  for (; level != SimdLevel::kPlain && i + 2 <= count; i += 2) {
    const __m128d sh = LoadTwo(h + i), sv = LoadTwo(v + i);
    const __m128d s1 = Truncated(_mm_div_pd(_mm_mul_pd(LoadTwo(d1 + i), scale), scaleDivisor));
    const __m128d s2 = Truncated(_mm_div_pd(_mm_mul_pd(LoadTwo(d2 + i), scale), scaleDivisor));
    const __m128d largest = _mm_max_pd(_mm_max_pd(sh, s1), _mm_max_pd(sv, s2));
    alignas(16) int32_t turned[4], ratio[4], scaled[4];
    if (_mm_movemask_pd(_mm_cmplt_pd(largest, narrow)) == 3) {
      DifferenceOrientationTwo(sh, s1, sv, s2, turned, ratio);
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(scaled), _mm_cvttpd_epi32(s1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(scaled + 2), _mm_cvttpd_epi32(s2));
      for (int32_t lane = 0; lane < 2; ++lane) {
        const DifferenceOrientation one =
            OrientationFromDifferences(h[i + lane], scaled[lane], v[i + lane], scaled[2 + lane]);
        turned[lane] = one.orientation;
        ratio[lane] = one.ratio;
      }
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(scaled), _mm_cvttpd_epi32(largest));
    for (int32_t lane = 0; lane < 2; ++lane) {
      orientation[i + lane] = static_cast<uint8_t>(turned[lane]);
      if (reliability != nullptr) {
        reliability[i + lane] = scaled[lane] <= flatLimit ? kReliabilityMax : static_cast<uint8_t>(ratio[lane]);
      }
    }
  }
#endif
  for (; i < count; ++i) {
    const int32_t s1 = d1[i] * kDiagonalScale / kDiagonalScaleDivisor;
    const int32_t s2 = d2[i] * kDiagonalScale / kDiagonalScaleDivisor;
    const DifferenceOrientation one = OrientationFromDifferences(h[i], s1, v[i], s2);
    orientation[i] = one.orientation;
    if (reliability != nullptr) reliability[i] = largestOf(h[i], s1, v[i], s2) <= flatLimit ? kReliabilityMax : one.ratio;
  }
}

}  // namespace vorsensor
