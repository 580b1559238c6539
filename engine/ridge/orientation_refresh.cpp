// The refresh streams the orientation and its reliability of the smoothed
// image row by row (the per-pixel orientation measurement, no energy or
// flatness limit) and turns each row's reliability into pass counts at once.
#include "engine/ridge/orientation_refresh.h"

#include "engine/result_codes.h"
#include "engine/ridge/foreground.h"
#include "engine/ridge/orientation_moments.h"
#include "engine/ridge/pixel_orientation.h"
#include "engine/ridge/singular_points.h"
#include "engine/simd_level.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {
namespace {

// The pass table read as 16 rows of 16 entries: the high half of a value
// picks the row, the low half the entry.
constexpr int32_t kTableRow = 16;
constexpr int32_t kTableRows = (kReliabilityMax + 1) / kTableRow;

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// One refreshed row 64 pixels at a time with AVX-512: the fresh orientations
// under the kept background marks, and the passes of foreground pixels (the
// table entry of their value) where guarded(x, foreground lanes) leaves them.
template <typename Guarded>
VS_AVX512 void RefreshRowWide(int32_t w, const uint8_t* fresh, const uint8_t* value, const uint8_t* passes,
                              uint8_t* map, uint8_t* counts, Guarded guarded) {
  constexpr int32_t kLanes = 64;
  const __m512i mark = _mm512_set1_epi8(static_cast<char>(kBackgroundMark));
  const __m512i countBits = _mm512_set1_epi8(static_cast<char>(kPassCountBits));
  const __m512i lowHalf = _mm512_set1_epi8(kTableRow - 1);
  for (int32_t x = 0; x < w; x += kLanes) {
    const int32_t left = w - x;
    const __mmask64 valid = left >= kLanes ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
    const __m512i old = _mm512_maskz_loadu_epi8(valid, map + x);
    const __m512i background = _mm512_and_si512(old, mark);
    _mm512_mask_storeu_epi8(map + x, valid, _mm512_or_si512(_mm512_maskz_loadu_epi8(valid, fresh + x), background));
    __mmask64 counted = _mm512_mask_testn_epi8_mask(valid, old, mark);
    const __m512i v = _mm512_maskz_loadu_epi8(valid, value + x);
    const __m512i row = _mm512_srli_epi16(_mm512_andnot_si512(lowHalf, v), 4);  // high half, 0 .. 15
    const __m512i entry = _mm512_and_si512(v, lowHalf);
    __m512i taken = _mm512_setzero_si512();
    for (int32_t r = 0; r < kTableRows; ++r) {
      const __m512i table = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(passes + r * kTableRow)));
      const __mmask64 inRow = _mm512_cmpeq_epi8_mask(row, _mm512_set1_epi8(static_cast<char>(r)));
      taken = _mm512_mask_shuffle_epi8(taken, inRow, table, entry);
    }
    counted = guarded(x, counted);
    const __m512i kept = _mm512_andnot_si512(countBits, _mm512_maskz_loadu_epi8(valid, counts + x));
    _mm512_mask_storeu_epi8(counts + x, valid, _mm512_or_si512(kept, _mm512_maskz_mov_epi8(counted, taken)));
  }
}
VS_WIDE_CODE_END
#endif

int32_t GuardRadius(uint32_t radius) { return radius > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(radius); }

// Writes each streamed row into the map and the pass counts. The extra
// passes of every reliability value are looked up in a table made once, and
// only the singular points whose guard reaches the row are tested.
template <typename Extra>
class RefreshRows : public OrientationRows {
 public:
  RefreshRows(int32_t w, uint8_t* const* orientationMap, uint8_t* const* scratch, const SingularPoint* singularPoints,
              int32_t singularCount, const PassCountRule& rule, int32_t guard, Extra extra,
              SimdLevel level)
      : w_(w), map_(orientationMap), scratch_(scratch), singular_(singularPoints),
        singularCount_(singularCount),
        guard_(guard), level_(level) {
    for (uint32_t value = 0; value <= kReliabilityMax; ++value) {
      passes_[value] = static_cast<uint8_t>((rule.base + extra(static_cast<uint8_t>(value))) & kPassCountBits);
    }
  }
  void Row(int32_t y, const uint8_t* fresh, const uint8_t* value) override {
    // The points within the guard radius of the row (|dy| < guard).
    // (A list longer than any the pipeline makes is tested whole.)
    SingularPoint nearRow[kMaxSingularPoints];
    const SingularPoint* near = singular_;
    int32_t nearCount = singularCount_;
    if (singularCount_ <= kMaxSingularPoints) {
      near = nearRow;
      nearCount = 0;
      const int64_t limit = static_cast<int64_t>(guard_) * guard_;
      for (int32_t i = 0; i < singularCount_; ++i) {
        const int64_t dy = static_cast<int64_t>(singular_[i].y) - y;
        if (dy * dy < limit) nearRow[nearCount++] = singular_[i];
      }
    }
    uint8_t* map = map_[y];
    uint8_t* counts = scratch_[y];
#ifdef VS_WIDE_VECTORS
    if (level_ == SimdLevel::kAvx512) {
      // Foreground lanes near a point lose their count, tested one at a time.
      RefreshRowWide(w_, fresh, value, passes_, map, counts, [&](int32_t x, __mmask64 counted) {
        if (nearCount <= 0) return counted;
        for (__mmask64 rest = counted; rest != 0; rest &= rest - 1) {
          const int32_t lane = static_cast<int32_t>(__builtin_ctzll(rest));
          if (NearSingularPoint(near, nearCount, x + lane, y, guard_) != 0) counted &= ~(__mmask64{1} << lane);
        }
        return counted;
      });
      return;
    }
#endif
    for (int32_t x = 0; x < w_; ++x) {
      const uint8_t background = static_cast<uint8_t>(map[x] & kBackgroundMark);
      map[x] = static_cast<uint8_t>(fresh[x] | background);
      uint8_t passes = 0;
      if (background == 0 && (nearCount <= 0 || NearSingularPoint(near, nearCount, x, y, guard_) == 0)) {
        passes = passes_[value[x]];
      }
      counts[x] = static_cast<uint8_t>((counts[x] & ~kPassCountBits) | passes);
    }
  }

 private:
  int32_t w_;
  uint8_t* const* map_;
  uint8_t* const* scratch_;
  const SingularPoint* singular_;
  int32_t singularCount_;
  int32_t guard_;
  SimdLevel level_;
  uint8_t passes_[kReliabilityMax + 1];
};

template <typename Stream, typename Extra>
int32_t Refresh(int32_t w, uint8_t* const* orientationMap, uint8_t* const* scratch,
                const SingularPoint* singularPoints, int32_t singularCount, const PassCountRule& rule,
                uint32_t singularGuardRadius, Stream stream, Extra extra, SimdLevel level) {
  RefreshRows<Extra> rows(w, orientationMap, scratch, singularPoints, singularCount, rule,
                          GuardRadius(singularGuardRadius), extra, level);
  return stream(rows);
}

}  // namespace

uint32_t GradientExtraPasses(uint8_t coherence, const PassCountRule& rule) {
  const int32_t high = rule.high, low = rule.low;
  if (high == low) return 0;
  const int32_t c = coherence < low ? low : coherence;
  const int64_t a = c > high ? 0 : high - c;
  const int64_t span = high - low;
  return static_cast<uint32_t>((static_cast<int64_t>(rule.range) * a + span / 2) / span);
}

uint32_t DifferenceExtraPasses(uint8_t ratio, const PassCountRule& rule) {
  const int64_t high = rule.high, low = rule.low;
  const int64_t q = ratio > high ? high : ratio;
  const int64_t a = q < low ? 0 : q - low;
  int64_t v = a * rule.range;
  const int64_t step = high - low;
  uint32_t k = 0;
  if (step <= 0) return 0;  // no span to count in (refused by the configuration check)
  while (v >= step >> 1) {
    v -= step;
    ++k;
  }
  // With a span of 1 half a step is 0, so the count would run one past the
  // range (and into the density bits); it stops at the range.
  return k > rule.range ? rule.range : k;
}

int32_t RefreshByGradient(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* orientationMap,
                          uint8_t* const* scratch, const SingularPoint* singularPoints, int32_t singularCount,
                          uint32_t r, const PassCountRule& rule, uint32_t singularGuardRadius, SimdLevel level) {
  return Refresh(
      w, orientationMap, scratch, singularPoints, singularCount, rule, singularGuardRadius,
      [&](OrientationRows& rows) { return StreamGradientOrientation(w, h, ridgeImage, r, true, rows); },
      [&](uint8_t coherence) { return GradientExtraPasses(coherence, rule); }, level);
}

int32_t RefreshByDifferences(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* orientationMap,
                             uint8_t* const* scratch, const SingularPoint* singularPoints, int32_t singularCount,
                             uint32_t r, const PassCountRule& rule, uint32_t singularGuardRadius, SimdLevel level) {
  return Refresh(
      w, orientationMap, scratch, singularPoints, singularCount, rule, singularGuardRadius,
      [&](OrientationRows& rows) { return StreamDifferenceOrientation(w, h, ridgeImage, r, true, rows); },
      [&](uint8_t ratio) { return DifferenceExtraPasses(ratio, rule); }, level);
}

}  // namespace vorsensor
