#pragma once
// Orientation and reliability from window statistics, shared by the block
// orientation field and the per-pixel orientation stage.
//
// Gradient family: the window's mean gradient moments Gxx = mean gx², Gyy =
// mean gy², Gxy = mean gx·gy give a ridge orientation and a coherence.
// Difference family: the window's summed directional differences along the
// orientations 0, 30, 60 and 90 give an orientation and a variation ratio.
//
// Moment sums over large windows: a single gx² reaches 1530² (6 x 255 squared),
// so a window of about 920 full-contrast pixels or more exceeds 32 bits. Window
// sums are therefore accumulated in 64 bits and reduced to their mean with
// MomentMean. Wherever a 32-bit sum would not overflow, the mean is bit-identical
// to the 32-bit computation; where it would, the mean is the mathematically
// intended one (a wrapped sum would turn the orientation by up to 60 units).
// The means themselves always fit in 32 bits (|mean| <= 1530²).
#include <cstdint>

#include "engine/simd_level.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {

// Orientations are in direction units reduced to a half turn, 0..119.
constexpr uint8_t kHalfTurnOrientations = 120;
// Orientation of a window whose four directional differences are all equal.
constexpr uint8_t kUndefinedOrientation = 127;
// Largest coherence / variation ratio.
constexpr uint8_t kReliabilityMax = 255;
// Diagonal neighbours lie sqrt(2) further away: their differences are scaled by 71/100.
constexpr int32_t kDiagonalScale = 71;
constexpr int32_t kDiagonalScaleDivisor = 100;

// Gradient of the interior pixel x of row `row` with rows `above` and `below`
// (weights 1, 4, 1 across the row / column).
struct PixelGradient {
  int32_t gx;
  int32_t gy;
};
inline PixelGradient GradientAt(const uint8_t* above, const uint8_t* row, const uint8_t* below, int32_t x) {
  const int32_t right = above[x + 1] + 4 * row[x + 1] + below[x + 1];
  const int32_t left = above[x - 1] + 4 * row[x - 1] + below[x - 1];
  const int32_t down = below[x - 1] + 4 * below[x] + below[x + 1];
  const int32_t up = above[x - 1] + 4 * above[x] + above[x + 1];
  return PixelGradient{right - left, down - up};
}

// Directional differences of the interior pixel x: change along orientation 0
// (h: left/right), 30 (d1: upper-left/lower-right), 60 (v: upper/lower) and 90
// (d2: upper-right/lower-left).
struct PixelDifferences {
  int32_t h;
  int32_t d1;
  int32_t v;
  int32_t d2;
};
inline int32_t AbsoluteDifference(int32_t a, int32_t b) { return a > b ? a - b : b - a; }
inline PixelDifferences DifferencesAt(const uint8_t* above, const uint8_t* row, const uint8_t* below, int32_t x) {
  const int32_t c = row[x];
  return PixelDifferences{AbsoluteDifference(c, row[x - 1]) + AbsoluteDifference(c, row[x + 1]),
                          AbsoluteDifference(c, above[x - 1]) + AbsoluteDifference(c, below[x + 1]),
                          AbsoluteDifference(c, above[x]) + AbsoluteDifference(c, below[x]),
                          AbsoluteDifference(c, above[x + 1]) + AbsoluteDifference(c, below[x - 1])};
}

// (sum + count/2) / count, truncating towards zero, computed in 64 bits
// (count > 0). See the note on moment sums above.
int32_t MomentMean(int64_t sum, int32_t count);

// Ridge orientation 0..119 of the mean moments (across the mean gradient).
// A window without gradient (all moments 0) gives 30.
uint8_t OrientationFromMoments(int32_t gxx, int32_t gyy, int32_t gxy);

// Coherence 0..255 of the mean moments (255 = every gradient on one axis);
// 0 unless the mean gradient energy reaches energyMin².
uint8_t CoherenceFromMoments(int32_t gxx, int32_t gyy, int32_t gxy, uint8_t energyMin);

// Both of the above for `count` windows of one row at once (mean moments in
// three arrays): the per-pixel stage's inner loop. `level` picks the vector
// code here and below (every level gives the same values).
void OrientationAndCoherenceRow(const int32_t* gxx, const int32_t* gyy, const int32_t* gxy, int32_t count,
                                uint8_t energyMin, uint8_t* orientation, uint8_t* coherence,
                                SimdLevel level = MachineSimdLevel());

// The orientations alone of `count` windows of one row.
void OrientationRow(const int32_t* gxx, const int32_t* gyy, const int32_t* gxy, int32_t count, uint8_t* orientation,
                    SimdLevel level = MachineSimdLevel());

// The integer nearest to sqrt(q) (halves cannot occur), capped at 255
// (q >= 65281); the root behind the coherence.
uint8_t NearestRootCapped(uint32_t q);

// Orientation 0..119 (or kUndefinedOrientation) and variation ratio 0..255
// (0 = clear orientation, 255 = none) of four directional difference values
// (h along 0, d1 along 30, v along 60, d2 along 90; non-negative, the
// diagonal ones already scaled by kDiagonalScale / kDiagonalScaleDivisor).
struct DifferenceOrientation {
  uint8_t orientation;
  uint8_t ratio;
};
DifferenceOrientation OrientationFromDifferences(int32_t h, int32_t d1, int32_t v, int32_t d2);

// The difference orientation of `count` windows of one row from their four
// window sums (the diagonal ones d1 and d2 not yet scaled, all non-negative
// and below 2^31 / kDiagonalScale): the diagonals are scaled, then
// orientation[i] and, unless reliability is null, reliability[i] (255 where
// the largest scaled value is at most flatLimit, else the ratio) are written
// as OrientationFromDifferences gives them.
// `level` picks the vector code (every level gives the same values).
void DifferenceOrientationRow(const int32_t* h, const int32_t* d1, const int32_t* v, const int32_t* d2, int32_t count,
                              int64_t flatLimit, uint8_t* orientation, uint8_t* reliability,
                              SimdLevel level = MachineSimdLevel());

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// The gradient terms gx², gy² and gx·gy of 16 pixels from their eight
// neighbours (above, row and below; left, centre and right) as 16-bit
// values: gx and gy, at most 1530 in size, sit in the low halves of
// 32-bit lanes whose high halves stay 0, as the multiply-add reads the low
// ones signed.
VS_AVX512 inline void GradientTermsSixteen(__m256i aL, __m256i aC, __m256i aR, __m256i rL, __m256i rR, __m256i bL,
                                           __m256i bC, __m256i bR, __m512i* terms) {
  const __m256i right = _mm256_add_epi16(_mm256_add_epi16(aR, bR), _mm256_slli_epi16(rR, 2));
  const __m256i left = _mm256_add_epi16(_mm256_add_epi16(aL, bL), _mm256_slli_epi16(rL, 2));
  const __m256i down = _mm256_add_epi16(_mm256_add_epi16(bL, bR), _mm256_slli_epi16(bC, 2));
  const __m256i up = _mm256_add_epi16(_mm256_add_epi16(aL, aR), _mm256_slli_epi16(aC, 2));
  const __m512i gx = _mm512_cvtepu16_epi32(_mm256_sub_epi16(right, left));
  const __m512i gy = _mm512_cvtepu16_epi32(_mm256_sub_epi16(down, up));
  terms[0] = _mm512_madd_epi16(gx, gx);
  terms[1] = _mm512_madd_epi16(gy, gy);
  terms[2] = _mm512_madd_epi16(gx, gy);
}
VS_WIDE_CODE_END
#endif

}  // namespace vorsensor
