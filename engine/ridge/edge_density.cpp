// Edge density: each row's foreground and edge marks are made once, from
// copies of the binary rows round it, and enter per-column counts; a running
// count along the row gives the window, so the cost per pixel does not depend
// on the radius and the density can replace the binary image in place.
#include "engine/ridge/edge_density.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/row_ring.h"
#include "engine/running_totals.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {
namespace {

constexpr uint8_t kForegroundLimit = 128;       // map values below are foreground
constexpr uint8_t kOrientationBits = 0x7F;
constexpr uint8_t kOrientations = 120;
constexpr uint32_t kEdgeSumLow = 9;              // a 255 somewhere in the square
constexpr uint32_t kEdgeSumHigh = 254 * 9;       // a 0 somewhere in the square
constexpr uint32_t kDensityScale = 255;
constexpr uint32_t kPercent = 100;
constexpr uint8_t kForegroundMark = 1;
constexpr uint8_t kEdgeMark = 2;
constexpr int32_t kSquareRows = 3;
constexpr int32_t kHalfBits = 16;           // packed counts: foreground below, edges above
constexpr int32_t kLowHalf = 0xFFFF;

// factor[o] for o = 0..30; factor[60 - o] = factor[o + 60] = factor[o].
constexpr uint8_t kFactorEighth[31] = {100, 100, 100, 99, 99, 99, 98, 97, 96, 95, 95, 93, 92, 91, 90, 89,
                                       88,  87,  86,  85, 84, 83, 82, 81, 80, 79, 79, 79, 78, 78, 78};
constexpr uint8_t kQuarterTurn = 60;
constexpr uint8_t kEighthTurn = 30;

// x / 100 for x <= 255 x 100 as (x M) >> 19 with M = ceil(2^19 / 100).
constexpr uint32_t kPercentReciprocal = 5243;
constexpr int32_t kPercentShift = 19;
constexpr bool PercentReciprocalIsExact() {
  for (uint32_t x = 0; x <= kDensityScale * kPercent; ++x) {
    if ((x * kPercentReciprocal) >> kPercentShift != x / kPercent) return false;
  }
  return true;
}
static_assert(PercentReciprocalIsExact(), "the reciprocal must divide every scaled density exactly");

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// The factor of each orientation, 0..30 after folding, as 32-bit lanes for a
// two-register permutation (the last entry unused).
struct EighthFactors {
  int32_t of[32];
};
constexpr EighthFactors MakeEighthFactors() {
  EighthFactors table{};
  for (int32_t o = 0; o <= kEighthTurn; ++o) table.of[o] = kFactorEighth[o];
  return table;
}
constexpr EighthFactors kEighthFactors = MakeEighthFactors();

// The densities of a whole row, 16 pixels at a time (the last block masked),
// from clipped running totals of the packed counts (foreground in the low 16
// bits, edges in the high ones: the two halves of a window's sum stay exact
// while a window holds fewer than 2^16 pixels); each pixel's factor from its
// orientation folded onto 0..30 (100 without one). E x 255 / F (at most 255)
// comes from a reciprocal estimate in floats, at most one off, corrected by
// its remainder; every E x 255 and 256 x F lies below 2^31.
VS_AVX512 void DensityRowWide(const ClippedTotals& at, const uint8_t* map, uint8_t* out) {
  const int32_t w = at.Width();
  constexpr int32_t kLanes = 16;
  const __m512i scale = _mm512_set1_epi32(kDensityScale);
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i zero = _mm512_setzero_si512();
  const __m512i quarter = _mm512_set1_epi32(kQuarterTurn);
  const __m512i eighth = _mm512_set1_epi32(kEighthTurn);
  const __m512i* table = reinterpret_cast<const __m512i*>(kEighthFactors.of);
  const __m512i factorsLow = _mm512_loadu_si512(table), factorsHigh = _mm512_loadu_si512(table + 1);
  for (int32_t x = 0; x < w; x += kLanes) {
    const __mmask16 valid = RowLanes(x, w);
    const __m512i counts = ClippedSums(at, x, valid);
    const __m512i f = _mm512_and_si512(counts, _mm512_set1_epi32(kLowHalf));
    const __m512i e = _mm512_srli_epi32(counts, kHalfBits);
    const __mmask16 some = _mm512_cmpneq_epi32_mask(f, zero);
    const __m512i divisor = _mm512_mask_mov_epi32(one, some, f);
    const __m512i scaled = _mm512_mullo_epi32(e, scale);
    const __m512i q = _mm512_maskz_mov_epi32(some, SmallQuotients(scaled, divisor));
    __m512i o = _mm512_and_si512(_mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(valid, map + x)),
                                 _mm512_set1_epi32(kOrientationBits));
    const __mmask16 none = _mm512_cmpge_epi32_mask(o, _mm512_set1_epi32(kOrientations));
    o = _mm512_mask_sub_epi32(o, _mm512_cmpge_epi32_mask(o, quarter), o, quarter);
    o = _mm512_mask_sub_epi32(o, _mm512_cmpgt_epi32_mask(o, eighth), quarter, o);
    __m512i factor = _mm512_permutex2var_epi32(factorsLow, o, factorsHigh);
    factor = _mm512_mask_mov_epi32(factor, none, _mm512_set1_epi32(kPercent));
    const __m512i density = _mm512_srli_epi32(
        _mm512_mullo_epi32(_mm512_mullo_epi32(q, factor), _mm512_set1_epi32(kPercentReciprocal)), kPercentShift);
    _mm_mask_storeu_epi8(out + x, valid, _mm512_cvtepi32_epi8(density));
  }
}
VS_WIDE_CODE_END
#endif

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// The foreground and edge pixels among x .. x + 31 (1 <= x, x + 32 <= w - 1).
struct MarkMasks {
  __mmask32 foreground;
  __mmask32 edge;  // edge pixels, foreground or not
};
// Only the pixels of `valid` are read (and marked).
VS_AVX512 inline MarkMasks MarksOf32(const uint8_t* above, const uint8_t* row, const uint8_t* below, const uint8_t* map,
                                     int32_t x, __mmask32 valid = ~__mmask32{0}) {
  __m512i sum = _mm512_setzero_si512();
  for (const uint8_t* p : {above, row, below}) {
    for (int32_t dx = -1; dx <= 1; ++dx) {
      sum = _mm512_add_epi16(sum, _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(valid, p + x + dx)));
    }
  }
  return MarkMasks{valid & _mm256_cmplt_epu8_mask(_mm256_maskz_loadu_epi8(valid, map + x),
                                                  _mm256_set1_epi8(static_cast<char>(kForegroundLimit))),
                   static_cast<__mmask32>(_mm512_cmpge_epu16_mask(sum, _mm512_set1_epi16(kEdgeSumLow)) &
                                          _mm512_cmple_epu16_mask(sum, _mm512_set1_epi16(kEdgeSumHigh)))};
}

// MarkRow's inner pixels 1 .. w - 2 with AVX-512, 32 at a time (the last
// block masked); returns the first x not done.
VS_AVX512 int32_t MarkRowWide(const uint8_t* above, const uint8_t* row, const uint8_t* below, const uint8_t* map,
                              int32_t w, uint8_t* marks) {
  constexpr int32_t kLanes = 32;
  int32_t x = 1;
  for (; x < w - 1; x += kLanes) {
    const int32_t left = w - 1 - x;
    const __mmask32 valid = left >= kLanes ? ~__mmask32{0} : static_cast<__mmask32>((1u << left) - 1);
    const MarkMasks masks = MarksOf32(above, row, below, map, x, valid);
    const __mmask32 edge = masks.edge, foreground = masks.foreground;
    const __m256i value = _mm256_mask_blend_epi8(edge, _mm256_set1_epi8(kForegroundMark),
                                                 _mm256_set1_epi8(kForegroundMark | kEdgeMark));
    _mm256_mask_storeu_epi8(marks + x, valid, _mm256_maskz_mov_epi8(foreground, value));
  }
  return x;
}

// The packed column counts for one row step, 16 columns at a time: the marks
// of the entering row added, those of the leaving row (null: none) taken off.
// A mark m (0, 1 or 3) counts m & 1 + (m >> 1) 2^16.
VS_AVX512 inline __m512i PackedMarks(const uint8_t* marks, __mmask16 valid) {
  const __m512i m = _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(valid, marks));
  return _mm512_add_epi32(_mm512_and_si512(m, _mm512_set1_epi32(kForegroundMark)),
                          _mm512_slli_epi32(_mm512_srli_epi32(m, 1), kHalfBits));
}
VS_AVX512 void CountMarksWide(const uint8_t* entering, const uint8_t* leaving, int32_t w, uint32_t* counts) {
  constexpr int32_t kLanes = 16;
  for (int32_t x = 0; x < w; x += kLanes) {
    const int32_t left = w - x;
    const __mmask16 valid = left >= kLanes ? static_cast<__mmask16>(0xFFFF) : static_cast<__mmask16>((1u << left) - 1);
    __m512i sum = _mm512_add_epi32(_mm512_maskz_loadu_epi32(valid, counts + x), PackedMarks(entering + x, valid));
    if (leaving != nullptr) sum = _mm512_sub_epi32(sum, PackedMarks(leaving + x, valid));
    _mm512_mask_storeu_epi32(counts + x, valid, sum);
  }
}

// RidgeDensity's counts over x .. of one row, 32 pixels at a time; x becomes
// the first pixel not counted.
struct RidgeCounts {
  uint64_t foreground;
  uint64_t edges;
};
VS_AVX512 RidgeCounts RidgeCountsWide(const uint8_t* above, const uint8_t* row, const uint8_t* below,
                                      const uint8_t* map, int32_t w, int32_t& x) {
  constexpr int32_t kLanes = 32;
  RidgeCounts counts{0, 0};
  for (; x + kLanes <= w - 1; x += kLanes) {
    const MarkMasks masks = MarksOf32(above, row, below, map, x);
    counts.foreground += static_cast<uint64_t>(__builtin_popcount(masks.foreground));
    counts.edges += static_cast<uint64_t>(__builtin_popcount(masks.foreground & masks.edge));
  }
  return counts;
}
VS_WIDE_CODE_END
#endif

// Marks of row y (kForegroundMark, plus kEdgeMark) from the binary rows above,
// at and below it (null when outside the image).
void MarkRow(const uint8_t* above, const uint8_t* row, const uint8_t* below, const uint8_t* map, int32_t w,
             uint8_t* marks, SimdLevel level) {
  std::memset(marks, 0, static_cast<size_t>(w));
  if (above == nullptr || below == nullptr) return;
  int32_t x = 1;
#ifdef VS_WIDE_VECTORS
  if (level == SimdLevel::kAvx512) x = MarkRowWide(above, row, below, map, w, marks);
#else
  (void)level;
#endif
  for (; x < w - 1; ++x) {
    if (map[x] >= kForegroundLimit) continue;
    const uint32_t s = above[x - 1] + above[x] + above[x + 1] + row[x - 1] + row[x] + row[x + 1] + below[x - 1] +
                       below[x] + below[x + 1];
    marks[x] = static_cast<uint8_t>(kForegroundMark | (s >= kEdgeSumLow && s <= kEdgeSumHigh ? kEdgeMark : 0));
  }
}

}  // namespace

uint8_t DirectionFactor(uint8_t o) {
  if (o >= kQuarterTurn) o = static_cast<uint8_t>(o - kQuarterTurn);
  if (o > kEighthTurn) o = static_cast<uint8_t>(kQuarterTurn - o);
  return kFactorEighth[o];
}

namespace {
// The factor of each orientation (low 7 bits of a map value), 100 for none.
struct Factors {
  uint8_t of[kOrientationBits + 1];
};
constexpr Factors MakeFactors() {
  Factors table{};
  for (int32_t o = 0; o <= kOrientationBits; ++o) {
    int32_t eighth = o >= kQuarterTurn ? o - kQuarterTurn : o;
    eighth = eighth > kEighthTurn ? kQuarterTurn - eighth : eighth;
    table.of[o] = o < kOrientations ? kFactorEighth[eighth] : static_cast<uint8_t>(kPercent);
  }
  return table;
}
constexpr Factors kFactors = MakeFactors();
}  // namespace

int32_t EdgeDensity(int32_t w, int32_t h, uint8_t* const* scratch, const uint8_t* const* orientationMap, uint32_t r,
                    SimdLevel level) {
  if (w <= 0 || h <= 0) return kOk;
  const int32_t radius = ClampRadius(r, w, h);
  const int32_t slots = 2 * static_cast<int64_t>(radius) + 1 < h ? 2 * radius + 1 : h;
  RowRing binary;  // entry rows e - 1 .. e + 1 while the marks of row e are made
  RowRing marks;   // marks of the rows in the window
  // Column counts of foreground and edge pixels, then their running totals
  // along the row (one more each), then the row's factors.
  const size_t width = static_cast<size_t>(w);
  std::unique_ptr<uint32_t[]> storage(new (std::nothrow) uint32_t[4 * width + 2 + (width + 3) / 4]());
  if (!binary.Allocate(w, h < kSquareRows ? h : kSquareRows) || !marks.Allocate(w, slots) || storage == nullptr) {
    return kOutOfMemory;
  }
  const bool narrow = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * kDensityScale <= UINT32_MAX;
  uint32_t* foreground = storage.get();
  uint32_t* edges = foreground + w;
  uint32_t* foregroundTotals = edges + w;  // [j]: columns 0 .. j - 1
  uint32_t* edgeTotals = foregroundTotals + w + 1;
  uint8_t* factors = reinterpret_cast<uint8_t*>(edgeTotals + w + 1);
  // The 16-pixel form needs 256 x F and E x 255 below 2^31.
  constexpr uint64_t kWideFactor = 256;
  // It packs both counts into one 32-bit lane: windows below 2^16 pixels.
  const int64_t side = 2 * static_cast<int64_t>(radius) + 1;
  const int64_t windowMost = (side < w ? side : w) * (side < h ? side : h);
  [[maybe_unused]] const bool wide = level == SimdLevel::kAvx512 &&
                                     static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * kWideFactor <= INT32_MAX &&
                                     windowMost <= kLowHalf;

#ifdef VS_WIDE_VECTORS
  // Clipped running totals of the packed counts for DensityRowWide.
  ClippedTotals clipped;
  std::unique_ptr<uint8_t[]> leavingMarks, zeros;  // a copy of the leaving row's marks; a row without marks
  uint32_t* packed = foreground;  // packed column counts
  if (wide) {
    leavingMarks.reset(new (std::nothrow) uint8_t[width]);
    zeros.reset(new (std::nothrow) uint8_t[width]());
    if (!clipped.Allocate(w, radius) || leavingMarks == nullptr || zeros == nullptr) return kOutOfMemory;
  }
#endif

  int32_t copied = 0;
  // Marks row e; with `count`, its marks enter the column counts too.
  auto mark = [&](int32_t e, bool count) {
    // Row e + 1 is copied before row e is overwritten (e >= y at every call).
    for (; copied <= e + 1 && copied < h; ++copied) {
      std::memcpy(binary[copied], scratch[copied], static_cast<size_t>(w));
    }
    const bool inside = e >= 1 && e + 1 < h;
    uint8_t* m = marks[e];
    MarkRow(inside ? binary[e - 1] : nullptr, binary[e], inside ? binary[e + 1] : nullptr, orientationMap[e], w, m,
            level);
    if (!count) return;
    for (int32_t x = 0; x < w; ++x) {
      foreground[x] += m[x] & kForegroundMark;
      edges[x] += m[x] >> 1;
    }
  };
  auto leave = [&](int32_t e) {
    const uint8_t* m = marks[e];
    for (int32_t x = 0; x < w; ++x) {
      foreground[x] -= m[x] & kForegroundMark;
      edges[x] -= m[x] >> 1;
    }
  };

  for (int32_t e = 0; e < radius && e < h; ++e) {
#ifdef VS_WIDE_VECTORS
    if (wide) {
      mark(e, false);
      CountMarksWide(marks[e], nullptr, w, packed);
      continue;
    }
#endif
    mark(e, true);
  }
  for (int32_t y = 0; y < h; ++y) {
#ifdef VS_WIDE_VECTORS
    if (wide) {
      // The leaving row's marks are read before the entering row's take its slot.
      const int32_t entering = y + radius, leaving = y - radius - 1;
      if (entering < h) {
        if (leaving >= 0) std::memcpy(leavingMarks.get(), marks[leaving], width);
        mark(entering, false);
        CountMarksWide(marks[entering], leaving >= 0 ? leavingMarks.get() : nullptr, w, packed);
      } else if (leaving >= 0) {
        CountMarksWide(zeros.get(), marks[leaving], w, packed);
      }
      clipped.Fill(packed, level);
      DensityRowWide(clipped, orientationMap[y], scratch[y]);
      continue;
    }
#endif
    if (y - radius - 1 >= 0) leave(y - radius - 1);
    if (y + radius < h) mark(y + radius, true);
    // The window of x covers the columns lo .. hi - 1, clipped at the row ends.
    RunningTotals(foreground, w, foregroundTotals + 1, level);
    RunningTotals(edges, w, edgeTotals + 1, level);
    const uint8_t* map = orientationMap[y];
    uint8_t* out = scratch[y];
    for (int32_t x = 0; x < w; ++x) factors[x] = kFactors.of[map[x] & kOrientationBits];
    auto pixel = [&](int32_t x) {
      const int32_t lo = x - radius > 0 ? x - radius : 0;
      const int32_t hi = w - x > radius ? x + radius + 1 : w;
      const uint32_t f = foregroundTotals[hi] - foregroundTotals[lo];
      const uint32_t edge = edgeTotals[hi] - edgeTotals[lo];
      // edge <= f, so the quotient is at most 255; a 32-bit division serves
      // wherever edge x 255 fits 32 bits (every image of up to 16 M pixels).
      uint64_t density = 0;
      if (f != 0) {
        density = narrow ? edge * kDensityScale / f : static_cast<uint64_t>(edge) * kDensityScale / f;
      }
      out[x] = static_cast<uint8_t>(density * factors[x] / kPercent);
    };
    for (int32_t x = 0; x < w; ++x) pixel(x);
  }
  return kOk;
}

uint8_t RidgeDensity(int32_t w, int32_t h, const uint8_t* const* binaryImage, const uint8_t* const* orientationMap,
                     SimdLevel level) {
  uint64_t foreground = 0, edges = 0;
  for (int32_t y = 1; y + 1 < h; ++y) {
    const uint8_t* above = binaryImage[y - 1];
    const uint8_t* row = binaryImage[y];
    const uint8_t* below = binaryImage[y + 1];
    const uint8_t* map = orientationMap[y];
    int32_t x = 1;
#ifdef VS_WIDE_VECTORS
    if (level == SimdLevel::kAvx512) {
      const RidgeCounts counts = RidgeCountsWide(above, row, below, map, w, x);
      foreground += counts.foreground;
      edges += counts.edges;
    }
#else
    (void)level;
#endif
    for (; x < w - 1; ++x) {
      if (map[x] >= kForegroundLimit) continue;
      const uint32_t s = above[x - 1] + above[x] + above[x + 1] + row[x - 1] + row[x] + row[x + 1] + below[x - 1] +
                         below[x] + below[x + 1];
      ++foreground;
      edges += s >= kEdgeSumLow && s <= kEdgeSumHigh ? 1 : 0;
    }
  }
  return static_cast<uint8_t>(foreground == 0 ? 0 : edges * kDensityScale / foreground);
}

}  // namespace vorsensor
