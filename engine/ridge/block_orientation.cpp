// Block orientation field: per-block sums of gradient moments or directional
// differences, summed over the 3 x 3 blocks round each block.
//
// Streaming: block sums are kept for three block rows only (a ring, the oldest
// row reused for the newest); per-column sums over those three rows gain the
// entering row and lose the leaving one; along a row the three columns of the
// window are added directly. Each pixel is visited once.
#include "engine/ridge/block_orientation.h"

#include <cstddef>
#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/ridge/orientation_moments.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {
namespace {

// The window of a block: itself and its neighbours, clipped at the grid edges.
constexpr int32_t kWindowReach = 1;
constexpr int32_t kRingRows = 2 * kWindowReach + 1;
// Gradient means always divide by a full window: 9 blocks of 256 pixels.
constexpr int32_t kFullWindowPixels = kRingRows * kRingRows * kBlockSide * kBlockSide;
// A block's largest mean difference is compared with blockFlatnessMax times
// this: 2 differences for each of its 256 pixels.
constexpr int32_t kFlatnessScale = 2 * kBlockSide * kBlockSide;

// First and one-past-last pixel of block `index` along a side of `length`
// pixels: every pixel needs a neighbour on each side, so the first block starts
// at 1 and a block ending exactly at the image edge stops one short of it.
struct PixelRange {
  int32_t first;
  int32_t end;
};
PixelRange BlockPixels(int32_t index, int32_t length) {
  PixelRange range{kBlockSide * index, kBlockSide * (index + 1)};
  if (range.first == 0) range.first = 1;
  if (range.end == length) range.end = length - 1;
  return range;
}

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// The 3 x 3 neighbourhood of the 16 pixels of one block row segment, as
// bytes: [row above, row, row below][x - 1, x, x + 1].
struct Neighbourhood {
  __m128i at[3][3];
};

// The gradient moments gx², gy², gx·gy of 16 pixels (|g| <= 1530 fits 16
// bits; a multiply-add of a lane against a zero neighbour gives the product).
struct GradientTerms {
  static constexpr int kChannels = 3;
  VS_AVX512 void operator()(const Neighbourhood& n, __m512i* terms) const {
    const __m256i aL = _mm256_cvtepu8_epi16(n.at[0][0]), aC = _mm256_cvtepu8_epi16(n.at[0][1]),
                  aR = _mm256_cvtepu8_epi16(n.at[0][2]);
    const __m256i rL = _mm256_cvtepu8_epi16(n.at[1][0]), rR = _mm256_cvtepu8_epi16(n.at[1][2]);
    const __m256i bL = _mm256_cvtepu8_epi16(n.at[2][0]), bC = _mm256_cvtepu8_epi16(n.at[2][1]),
                  bR = _mm256_cvtepu8_epi16(n.at[2][2]);
    GradientTermsSixteen(aL, aC, aR, rL, rR, bL, bC, bR, terms);
  }
};

// |c - one| + |c - other| of 16 bytes, as 32-bit lanes.
VS_AVX512 inline __m512i DistancePair(__m128i c, __m128i one, __m128i other) {
  const __m128i first = _mm_or_si128(_mm_subs_epu8(c, one), _mm_subs_epu8(one, c));
  const __m128i second = _mm_or_si128(_mm_subs_epu8(c, other), _mm_subs_epu8(other, c));
  return _mm512_add_epi32(_mm512_cvtepu8_epi32(first), _mm512_cvtepu8_epi32(second));
}

// The directional differences h, d1, v, d2 of 16 pixels.
struct DifferenceTerms {
  static constexpr int kChannels = 4;
  VS_AVX512 void operator()(const Neighbourhood& n, __m512i* terms) const {
    const __m128i c = n.at[1][1];
    terms[0] = DistancePair(c, n.at[1][0], n.at[1][2]);
    terms[1] = DistancePair(c, n.at[0][0], n.at[2][2]);
    terms[2] = DistancePair(c, n.at[0][1], n.at[2][1]);
    terms[3] = DistancePair(c, n.at[0][2], n.at[2][0]);
  }
};

// The sums of every block of block row `by` (kChannels values per block into
// `sums`), 16 pixels (one block's row) at a time: each block's terms summed
// in lanes over its rows, then across the lanes. Lanes of pixels without all
// neighbours (column 0 and w - 1) are left out, and their neighbours outside
// the row are never read (byte shifts stand in for those loads).
template <typename Terms>
VS_AVX512 void SumBlockRowWide(const uint8_t* const* image, int32_t w, int32_t firstRow, int32_t endRow, int32_t bw,
                               const Terms& terms, int32_t* sums) {
  constexpr int C = Terms::kChannels;
  for (int32_t bx = 0; bx < bw; ++bx) {
    const int32_t x0 = bx * kBlockSide;
    const bool first = x0 == 0, last = x0 + kBlockSide == w;
    __mmask16 lanes = 0xFFFF;
    if (first) lanes = static_cast<__mmask16>(lanes & ~1u);
    if (last) lanes = static_cast<__mmask16>(lanes & ~(1u << (kBlockSide - 1)));
    __m512i total[C];
    for (int c = 0; c < C; ++c) total[c] = _mm512_setzero_si512();
    for (int32_t y = firstRow; y < endRow; ++y) {
      Neighbourhood n;
      const uint8_t* rows[3] = {image[y - 1], image[y], image[y + 1]};
      for (int k = 0; k < 3; ++k) {
        const __m128i centre = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x0));
        n.at[k][0] = first ? _mm_bslli_si128(centre, 1) : _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x0 - 1));
        n.at[k][1] = centre;
        n.at[k][2] = last ? _mm_bsrli_si128(centre, 1) : _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x0 + 1));
      }
      __m512i t[C];
      terms(n, t);
      for (int c = 0; c < C; ++c) total[c] = _mm512_mask_add_epi32(total[c], lanes, total[c], t[c]);
    }
    for (int c = 0; c < C; ++c) sums[static_cast<size_t>(bx) * C + c] = _mm512_reduce_add_epi32(total[c]);
  }
}
VS_WIDE_CODE_END
#else
struct GradientTerms {};
struct DifferenceTerms {};
#endif

// Runs the block window scheme with kValues sums per block. accumulate(above,
// row, below, x, sums) adds the values of interior pixel x to a block's sums;
// output(bx, by, windowSums, blocksInWindow) receives each block's window sums.
// With the AVX-512 level the block sums come from SumBlockRowWide with `Terms`.
template <int kValues, typename Terms, typename Accumulate, typename Output>
int32_t StreamBlockWindows(int32_t w, int32_t h, const uint8_t* const* image, int32_t bw, int32_t bh,
                           [[maybe_unused]] SimdLevel level, Accumulate accumulate, Output output) {
  if (bw < 0 || bh < 0) return kOutOfRange;
  const BlockGridDimensions grid = BlockGridSize(w, h);
  if (bw > grid.bw || bh > grid.bh) return kOutOfRange;
  if (bw == 0 || bh == 0) return kOk;

  // A single block's sums fit in 32 bits (256 pixels); window sums take 64.
  const size_t row_values = static_cast<size_t>(bw) * kValues;
  std::unique_ptr<int32_t[]> ring(new (std::nothrow) int32_t[kRingRows * row_values]);
  std::unique_ptr<int64_t[]> column(new (std::nothrow) int64_t[row_values]());
  if (ring == nullptr || column == nullptr) return kOutOfMemory;
  auto ring_row = [&](int32_t by) { return ring.get() + static_cast<size_t>(by % kRingRows) * row_values; };

  auto sum_block_row = [&](int32_t by) {
    int32_t* sums = ring_row(by);
    for (size_t i = 0; i < row_values; ++i) sums[i] = 0;
    const PixelRange rows = BlockPixels(by, h);
#ifdef VS_WIDE_VECTORS
    if (level == SimdLevel::kAvx512) {
      SumBlockRowWide(image, w, rows.first, rows.end, bw, Terms{}, sums);
      for (size_t i = 0; i < row_values; ++i) column[i] += sums[i];
      return;
    }
#endif
    for (int32_t y = rows.first; y < rows.end; ++y) {
      const uint8_t* above = image[y - 1];
      const uint8_t* row = image[y];
      const uint8_t* below = image[y + 1];
      for (int32_t bx = 0; bx < bw; ++bx) {
        const PixelRange columns = BlockPixels(bx, w);
        int32_t* block = sums + static_cast<size_t>(bx) * kValues;
        for (int32_t x = columns.first; x < columns.end; ++x) accumulate(above, row, below, x, block);
      }
    }
    for (size_t i = 0; i < row_values; ++i) column[i] += sums[i];
  };
  auto drop_block_row = [&](int32_t by) {
    const int32_t* sums = ring_row(by);
    for (size_t i = 0; i < row_values; ++i) column[i] -= sums[i];
  };

  for (int32_t by = 0; by < kWindowReach && by < bh; ++by) sum_block_row(by);
  for (int32_t by = 0; by < bh; ++by) {
    // The leaving row's ring slot is the one the entering row takes.
    if (by - kWindowReach - 1 >= 0) drop_block_row(by - kWindowReach - 1);
    if (by + kWindowReach < bh) sum_block_row(by + kWindowReach);
    const int32_t top = by - kWindowReach > 0 ? by - kWindowReach : 0;
    const int32_t bottom = by + kWindowReach < bh - 1 ? by + kWindowReach : bh - 1;
    for (int32_t bx = 0; bx < bw; ++bx) {
      const int32_t left = bx - kWindowReach > 0 ? bx - kWindowReach : 0;
      const int32_t right = bx + kWindowReach < bw - 1 ? bx + kWindowReach : bw - 1;
      int64_t window[kValues] = {};
      for (int32_t c = left; c <= right; ++c) {
        for (int v = 0; v < kValues; ++v) window[v] += column[static_cast<size_t>(c) * kValues + v];
      }
      output(bx, by, window, (bottom - top + 1) * (right - left + 1));
    }
  }
  return kOk;
}

}  // namespace

BlockGridDimensions BlockGridSize(int32_t w, int32_t h) {
  return BlockGridDimensions{w / kBlockSide, h / kBlockSide};
}

int32_t GradientBlockOrientation(int32_t w, int32_t h, const uint8_t* const* image, int32_t bw, int32_t bh,
                                 uint8_t* const* directionGrid, uint8_t* const* reliabilityGrid,
                                 uint8_t gradientEnergyMin, SimdLevel level) {
  enum { kXX, kYY, kXY, kMoments };
  return StreamBlockWindows<kMoments, GradientTerms>(
      w, h, image, bw, bh, level,
      [](const uint8_t* above, const uint8_t* row, const uint8_t* below, int32_t x, int32_t* sums) {
        const PixelGradient g = GradientAt(above, row, below, x);
        sums[kXX] += g.gx * g.gx;
        sums[kYY] += g.gy * g.gy;
        sums[kXY] += g.gx * g.gy;
      },
      [&](int32_t bx, int32_t by, const int64_t* window, int32_t) {
        // Window sums of a full-contrast pattern can pass 32 bits; the 64-bit
        // sums give the intended means (see MomentMean).
        const int32_t gxx = MomentMean(window[kXX], kFullWindowPixels);
        const int32_t gyy = MomentMean(window[kYY], kFullWindowPixels);
        const int32_t gxy = MomentMean(window[kXY], kFullWindowPixels);
        directionGrid[by][bx] = OrientationFromMoments(gxx, gyy, gxy);
        reliabilityGrid[by][bx] = CoherenceFromMoments(gxx, gyy, gxy, gradientEnergyMin);
      });
}

int32_t DifferenceBlockOrientation(int32_t w, int32_t h, const uint8_t* const* image, int32_t bw, int32_t bh,
                                   uint8_t* const* directionGrid, uint8_t* const* reliabilityGrid,
                                   uint8_t blockFlatnessMax, SimdLevel level) {
  enum { kH, kD1, kV, kD2, kDifferences };
  const int64_t flat_limit = static_cast<int64_t>(blockFlatnessMax) * kFlatnessScale;
  return StreamBlockWindows<kDifferences, DifferenceTerms>(
      w, h, image, bw, bh, level,
      [](const uint8_t* above, const uint8_t* row, const uint8_t* below, int32_t x, int32_t* sums) {
        const PixelDifferences d = DifferencesAt(above, row, below, x);
        sums[kH] += d.h;
        sums[kD1] += d.d1;
        sums[kV] += d.v;
        sums[kD2] += d.d2;
      },
      [&](int32_t bx, int32_t by, const int64_t* window, int32_t blocks) {
        // Means per block of the window; the diagonal ones scaled for their longer reach.
        const int64_t diagonal_divisor = static_cast<int64_t>(blocks) * kDiagonalScaleDivisor;
        const int32_t h_mean = static_cast<int32_t>(window[kH] / blocks);
        const int32_t d1_mean = static_cast<int32_t>(window[kD1] * kDiagonalScale / diagonal_divisor);
        const int32_t v_mean = static_cast<int32_t>(window[kV] / blocks);
        const int32_t d2_mean = static_cast<int32_t>(window[kD2] * kDiagonalScale / diagonal_divisor);
        DifferenceOrientation result = OrientationFromDifferences(h_mean, d1_mean, v_mean, d2_mean);
        int32_t largest = h_mean;
        if (d1_mean > largest) largest = d1_mean;
        if (v_mean > largest) largest = v_mean;
        if (d2_mean > largest) largest = d2_mean;
        if (largest <= flat_limit) result.ratio = kReliabilityMax;
        directionGrid[by][bx] = result.orientation;
        reliabilityGrid[by][bx] = result.ratio;
      });
}

}  // namespace vorsensor
