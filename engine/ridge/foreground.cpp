// Foreground vote: per-column counts of reliable pixels over the rows of the
// window plus a running count along the row, so the cost per pixel does not
// depend on the radius.
#include "engine/ridge/foreground.h"

#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/ridge/singular_points.h"
#include "engine/running_totals.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {

namespace {

constexpr int32_t kNoForegroundCoherence = 0;   // quality when every pixel is background
constexpr int32_t kNoForegroundVariation = 255;

int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// Singular points whose guard may reach the row being voted (none: no pixel
// of the row is guarded).
struct RowGuard {
  const SingularPoint* points;
  int32_t count;
  int32_t radius;
  int32_t y;
};

// The vote of one row, 16 pixels at a time: window counts from the running
// totals of the padded column counts (prefix[j]: columns -r - 1 .. j - r - 1,
// so the window of x is prefix[x + 2r + 1] - prefix[x]), the mark set where a
// count is at most `half` unless the pixel is guarded, and the foreground's
// reliability values and pixels added to the totals.
VS_AVX512 void VoteRowWide(const uint32_t* prefix, int32_t w, int32_t r, int32_t half, const RowGuard& guard,
                           const uint8_t* values, uint8_t* map, int64_t& qualitySum, int64_t& foreground) {
  constexpr int32_t kLanes = 16;
  const __m512i limit = _mm512_set1_epi32(half);
  __m128i sums = _mm_setzero_si128();
  __m512i pixels = _mm512_setzero_si512();
  for (int32_t x = 0; x < w; x += kLanes) {
    const int32_t left = w - x;
    const __mmask16 valid = left >= kLanes ? static_cast<__mmask16>(0xFFFF) : static_cast<__mmask16>((1u << left) - 1);
    const __m512i count = _mm512_sub_epi32(_mm512_maskz_loadu_epi32(valid, prefix + x + 2 * r + 1),
                                           _mm512_maskz_loadu_epi32(valid, prefix + x));
    __mmask16 background = static_cast<__mmask16>(valid & _mm512_cmple_epi32_mask(count, limit));
    if (guard.count > 0) {
      for (uint32_t lanes = background; lanes != 0; lanes &= lanes - 1) {
        const int32_t lane = __builtin_ctz(lanes);
        if (NearSingularPoint(guard.points, guard.count, x + lane, guard.y, guard.radius) != 0) {
          background = static_cast<__mmask16>(background & ~(1u << lane));
        }
      }
    }
    const __mmask16 kept = static_cast<__mmask16>(valid & ~background);
    const __m128i marks = _mm_maskz_set1_epi8(background, static_cast<char>(kBackgroundMark));
    _mm_mask_storeu_epi8(map + x, valid, _mm_or_si128(_mm_maskz_loadu_epi8(valid, map + x), marks));
    sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_maskz_loadu_epi8(kept, values + x), _mm_setzero_si128()));
    pixels = _mm512_mask_sub_epi32(pixels, kept, pixels, _mm512_set1_epi32(-1));
  }
  qualitySum += _mm_cvtsi128_si64(sums) + _mm_extract_epi64(sums, 1);
  foreground += _mm512_reduce_add_epi32(pixels);
}
VS_WIDE_CODE_END
#endif

template <typename Reliable>
int32_t ForegroundVote(int32_t w, int32_t h, uint8_t* const* orientationMap, const uint8_t* const* reliability,
                       const SingularPoint* singularPoints, int32_t singularCount, uint32_t radius,
                       uint32_t singularGuardRadius, int32_t emptyQuality, SimdLevel level, Reliable reliable) {
  if (w <= 0 || h <= 0) return emptyQuality;
  // The threshold is half of the full window also where the window is clipped.
  const int64_t side = 2 * static_cast<int64_t>(radius) + 1;
  const int64_t halfWindow = side * side / 2;
  const int32_t rowRadius = radius > static_cast<uint32_t>(h) ? h : static_cast<int32_t>(radius);
  const int32_t columnRadius = radius > static_cast<uint32_t>(w) ? w : static_cast<int32_t>(radius);
  const int32_t guard = singularGuardRadius > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX
                                                                                : static_cast<int32_t>(singularGuardRadius);

  // Per-column counts with columnRadius + 1 zero columns on either side, so
  // that the window along a row always adds the column at x + r and drops the
  // one at x - r - 1.
  const int32_t pad = columnRadius + 1;
  const size_t padded = static_cast<size_t>(w) + 2 * static_cast<size_t>(pad);
  std::unique_ptr<int32_t[]> storage(new (std::nothrow) int32_t[padded]());
  if (storage == nullptr) return kOutOfMemory;
  int32_t* column = storage.get() + pad;
  // The vector rows need running totals of the padded counts; every window
  // count (at most w x h) then stays below 2^31.
#ifdef VS_WIDE_VECTORS
  bool wide = false;
  std::unique_ptr<uint32_t[]> prefix;
  if (level == SimdLevel::kAvx512 && static_cast<int64_t>(w) * h <= INT32_MAX) {
    prefix.reset(new (std::nothrow) uint32_t[padded]);
    if (prefix == nullptr) return kOutOfMemory;
    wide = true;
  }
  const int32_t wideHalf = static_cast<int32_t>(halfWindow < INT32_MAX ? halfWindow : INT32_MAX);
#else
  (void)level;
#endif
  auto count_row = [&](int32_t row, int32_t sign) {
    const uint8_t* values = reliability[row];
    for (int32_t x = 0; x < w; ++x) column[x] += sign * static_cast<int32_t>(reliable(values[x]));
  };
  // A row that no singular point comes nearer than the guard radius (in rows
  // alone) has no guarded pixel, so the point list is asked only on the others.
  const int64_t guardSquared = static_cast<int64_t>(guard) * guard;
  auto row_may_be_guarded = [&](int32_t y) {
    for (int32_t i = 0; i < singularCount; ++i) {
      const int64_t dy = static_cast<int64_t>(singularPoints[i].y) - y;
      if (dy * dy < guardSquared) return true;
    }
    return false;
  };

  int64_t qualitySum = 0;
  int64_t foreground = 0;
  for (int32_t row = 0; row < Smaller(rowRadius, h); ++row) count_row(row, 1);
  for (int32_t y = 0; y < h; ++y) {
    if (y + rowRadius < h) count_row(y + rowRadius, 1);
    if (y - rowRadius - 1 >= 0) count_row(y - rowRadius - 1, -1);
    const bool guardedRow = row_may_be_guarded(y);
    const uint8_t* values = reliability[y];
    uint8_t* map = orientationMap[y];
#ifdef VS_WIDE_VECTORS
    if (wide) {
      RunningTotals(reinterpret_cast<const uint32_t*>(storage.get()), static_cast<int32_t>(padded), prefix.get(),
                    level);
      const RowGuard rowGuard{singularPoints, guardedRow ? singularCount : 0, guard, y};
      VoteRowWide(prefix.get(), w, columnRadius, wideHalf, rowGuard, values, map, qualitySum, foreground);
      continue;
    }
#endif
    int64_t count = 0;
    for (int32_t x = 0; x <= columnRadius && x < w; ++x) count += column[x];
    for (int32_t x = 0; x < w; ++x) {
      if (x > 0) count += column[x + columnRadius] - column[x - columnRadius - 1];
      bool background = count <= halfWindow;
      if (background && guardedRow) background = NearSingularPoint(singularPoints, singularCount, x, y, guard) == 0;
      map[x] = static_cast<uint8_t>(map[x] | (background ? kBackgroundMark : 0));
      qualitySum += background ? 0 : values[x];
      foreground += background ? 0 : 1;
    }
  }
  return foreground > 0 ? static_cast<int32_t>(qualitySum / foreground) : emptyQuality;
}

}  // namespace

int32_t ForegroundVoteByCoherence(int32_t w, int32_t h, uint8_t* const* orientationMap,
                                  const uint8_t* const* coherence, const SingularPoint* singularPoints,
                                  int32_t singularCount, uint32_t radius, uint8_t coherenceMin,
                                  uint32_t singularGuardRadius, SimdLevel level) {
  return ForegroundVote(w, h, orientationMap, coherence, singularPoints, singularCount, radius, singularGuardRadius,
                        kNoForegroundCoherence, level, [coherenceMin](uint8_t value) { return value > coherenceMin; });
}

int32_t ForegroundVoteByVariation(int32_t w, int32_t h, uint8_t* const* orientationMap,
                                  const uint8_t* const* variation, const SingularPoint* singularPoints,
                                  int32_t singularCount, uint32_t radius, uint8_t pixelVariationMax,
                                  uint32_t singularGuardRadius, SimdLevel level) {
  return ForegroundVote(w, h, orientationMap, variation, singularPoints, singularCount, radius, singularGuardRadius,
                        kNoForegroundVariation, level, [pixelVariationMax](uint8_t value) { return value < pixelVariationMax; });
}

}  // namespace vorsensor
