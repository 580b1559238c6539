// Box mean over a ring of row copies and running column sums; the 3 x 3 mean,
// which the pipeline runs several times per image, has a direct form.
#include "engine/box_mean.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "engine/result_codes.h"
#include "engine/row_ring.h"
#include "engine/running_totals.h"

namespace vorsensor {
namespace {

constexpr uint32_t kSmallRadius = 1;

#ifdef VS_WIDE_VECTORS
constexpr int32_t kWordLanes = 32;
// Exact n / 9 and n / 6 for n < 2^15 (three columns of three or two rows of
// bytes stay far below) as the high half of n x ceil(2^16 / d): the excess of
// the multiplier times d over 2^16 is 2, and n x 2 < 2^16.
constexpr uint16_t kNinthMultiplier = 7282;
constexpr uint16_t kSixthMultiplier = 10923;
static_assert(uint32_t{kNinthMultiplier} * 9 - 65536 == 2 && uint32_t{kSixthMultiplier} * 6 - 65536 == 2);

VS_WIDE_CODE_BEGIN
inline VS_AVX512 __mmask32 FirstLanes(int32_t count) {
  return count >= kWordLanes ? ~__mmask32{0} : static_cast<__mmask32>((1u << count) - 1);
}

// sums[x] = above[x] + current[x] (+ below[x]) for the w columns, 32 at a time.
VS_AVX512 void ColumnSumsWide(const uint8_t* above, const uint8_t* current, const uint8_t* below, int32_t w,
                              uint16_t* sums) {
  for (int32_t x = 0; x < w; x += kWordLanes) {
    const __mmask32 valid = FirstLanes(w - x);
    __m512i sum = _mm512_add_epi16(_mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(valid, above + x)),
                                   _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(valid, current + x)));
    if (below != nullptr) sum = _mm512_add_epi16(sum, _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(valid, below + x)));
    _mm512_mask_storeu_epi16(sums + x, valid, sum);
  }
}

// out[x] = (sums[x - 1] + sums[x] + sums[x + 1]) / divisor for x = 1 .. w - 2,
// 32 at a time (divisor 9 or 6, by its multiplier).
VS_AVX512 void InnerMeansWide(const uint16_t* sums, int32_t w, uint16_t multiplier, uint8_t* out) {
  const __m512i m = _mm512_set1_epi16(static_cast<int16_t>(multiplier));
  for (int32_t x = 1; x < w - 1; x += kWordLanes) {
    const __mmask32 valid = FirstLanes(w - 1 - x);
    const __m512i sum = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_maskz_loadu_epi16(valid, sums + x - 1), _mm512_maskz_loadu_epi16(valid, sums + x)),
        _mm512_maskz_loadu_epi16(valid, sums + x + 1));
    _mm256_mask_storeu_epi8(out + x, valid, _mm512_cvtepi16_epi8(_mm512_mulhi_epu16(sum, m)));
  }
}
VS_WIDE_CODE_END
#endif

// The 3 x 3 mean for images of at least 2 x 2 pixels: per row, the three-row
// column sums of the input (the row above from a copy, since it has already
// been overwritten), then three columns at a time. Inside pixels divide by 9
// (or 6 on the top and bottom rows), the first and last column by 6 (or 4).
int32_t BoxMeanRadiusOne(int32_t w, int32_t h, uint8_t* const* image, SimdLevel level) {
  const size_t width = static_cast<size_t>(w);
  std::unique_ptr<uint8_t[]> copies(new (std::nothrow) uint8_t[2 * width]);
  std::unique_ptr<uint16_t[]> column(new (std::nothrow) uint16_t[width]);
  if (copies == nullptr || column == nullptr) return kOutOfMemory;
  uint8_t* above = copies.get();  // input of row y - 1
  uint8_t* current = copies.get() + width;  // input of row y
  uint16_t* sums = column.get();

  for (int32_t y = 0; y < h; ++y) {
    uint8_t* out = image[y];
    std::memcpy(current, out, width);
    const uint8_t* below = y + 1 < h ? image[y + 1] : nullptr;
    const uint32_t rows = y > 0 && below != nullptr ? 3 : 2;
#ifdef VS_WIDE_VECTORS
    if (level == SimdLevel::kAvx512) {
      if (rows == 3) {
        ColumnSumsWide(above, current, below, w, sums);
      } else {
        ColumnSumsWide(y > 0 ? above : below, current, nullptr, w, sums);
      }
      InnerMeansWide(sums, w, rows == 3 ? kNinthMultiplier : kSixthMultiplier, out);
      out[0] = static_cast<uint8_t>((sums[0] + sums[1]) / (2 * rows));
      out[w - 1] = static_cast<uint8_t>((sums[w - 2] + sums[w - 1]) / (2 * rows));
      std::swap(above, current);
      continue;
    }
#else
    (void)level;
#endif
    if (y > 0 && below != nullptr) {
      for (int32_t x = 0; x < w; ++x) sums[x] = static_cast<uint16_t>(above[x] + current[x] + below[x]);
    } else {
      const uint8_t* other = y > 0 ? above : below;
      for (int32_t x = 0; x < w; ++x) sums[x] = static_cast<uint16_t>(current[x] + other[x]);
    }
    out[0] = static_cast<uint8_t>((sums[0] + sums[1]) / (2 * rows));
    if (rows == 3) {
      for (int32_t x = 1; x < w - 1; ++x) out[x] = static_cast<uint8_t>((sums[x - 1] + sums[x] + sums[x + 1]) / 9u);
    } else {
      for (int32_t x = 1; x < w - 1; ++x) out[x] = static_cast<uint8_t>((sums[x - 1] + sums[x] + sums[x + 1]) / 6u);
    }
    out[w - 1] = static_cast<uint8_t>((sums[w - 2] + sums[w - 1]) / (2 * rows));
    uint8_t* swap = above;
    above = current;
    current = swap;
  }
  return kOk;
}

#ifdef VS_WIDE_VECTORS
constexpr int32_t kWideLanes = 16;

VS_WIDE_CODE_BEGIN
// The means of one row's pixels, 16 at a time, from its clipped totals.
VS_AVX512 void RowMeansWide(const ClippedTotals& totals, uint32_t rowsInside, uint8_t* out) {
  const int32_t w = totals.Width();
  for (int32_t x = 0; x < w; x += kWideLanes) {
    const __mmask16 valid = RowLanes(x, w);
    _mm_mask_storeu_epi8(out + x, valid, _mm512_cvtepi32_epi8(ClippedMeans(totals, x, rowsInside, valid)));
  }
}
VS_WIDE_CODE_END

// The box mean with column sums over a ring of row copies, each row's window
// sums from clipped running totals along it (images whose sums and counts x
// 256 stay below 2^31).
int32_t BoxMeanWide(int32_t w, int32_t h, uint8_t* const* image, int32_t r) {
  ClippedTotals totals;
  if (!totals.Allocate(w, r)) return kOutOfMemory;
  auto load = [&](int32_t y, uint8_t* row) { std::memcpy(row, image[y], static_cast<size_t>(w)); };
  auto means = [&](int32_t y, const uint32_t* column, uint32_t rowsInside) {
    totals.Fill(column, SimdLevel::kAvx512);
    RowMeansWide(totals, rowsInside, image[y]);
  };
  return StreamColumnSumsWide(w, h, r, load, means) ? kOk : kOutOfMemory;
}
#endif

}  // namespace

int32_t BoxMean(int32_t w, int32_t h, uint8_t* const* image, uint32_t r, SimdLevel level) {
  if (r == kSmallRadius && w >= 2 && h >= 2) return BoxMeanRadiusOne(w, h, image, level);
#ifdef VS_WIDE_VECTORS
  constexpr uint64_t kCountFactor = 256;
  if (level == SimdLevel::kAvx512 && w > 0 && h > 0 &&
      static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * kCountFactor <= INT32_MAX) {
    return BoxMeanWide(w, h, image, ClampRadius(r, w, h));
  }
#else
  (void)level;
#endif
  uint8_t* out = nullptr;  // the row being written, taken once per row
  int32_t out_y = -1;
  const bool done = StreamWindowMeans(
      w, h, r, [&](int32_t y, uint8_t* row) { std::memcpy(row, image[y], static_cast<size_t>(w)); },
      [&](int32_t x, int32_t y, uint32_t mean) {
        if (y != out_y) {
          out_y = y;
          out = image[y];
        }
        out[x] = static_cast<uint8_t>(mean);
      });
  return done ? kOk : kOutOfMemory;
}

}  // namespace vorsensor
