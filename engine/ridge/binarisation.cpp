// Binarisation against local means. The single-window methods stream window
// means as the box mean does; the density-selected one keeps three sets of
// column sums over one ring of entry rows, takes each row's window sums as
// differences of prefix sums along the row and compares without dividing:
// v < floor(sum / n) exactly when (v + 1) x n <= sum.
#include "engine/ridge/binarisation.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/row_ring.h"
#include "engine/running_totals.h"
#include "engine/wide_mean_divider.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define VS_BINARISATION_SSE2 1
#endif
#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {
namespace {

constexpr int kWindows = 3;  // small, medium, large
// The summed-area forms of the binarisations keep 2r + 2 rows of totals of
// the widest window; beyond this radius the column sums (a row of bytes per
// window row) take less memory.
constexpr int32_t kTableRadiusMax = 32;

uint8_t Threshold(uint32_t value, uint32_t mean) { return value < mean ? kRidgePixel : kValleyPixel; }

// True when the pixel v lies below the truncated mean sum / count.
template <typename Sum>
bool BelowMean(uint32_t value, Sum sum, uint64_t count) {
  return (static_cast<uint64_t>(value) + 1) * count <= static_cast<uint64_t>(sum);
}

#ifdef VS_BINARISATION_SSE2
// Four 32-bit products of lanes below 2^16 and a count (both such that every
// product lies below 2^31).
inline __m128i TimesCount(__m128i values, __m128i count) {
  const __m128i even = _mm_mul_epu32(values, count);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(values, 32), count);
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)), _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// The pixels x .. x + 3 of a row whose windows all lie inside the row (x - r
// >= 0 and x + 3 + r < w for every radius), with 32-bit prefix sums and
// counts such that (v + 1) x count and every sum stay below 2^31: the three
// comparisons four lanes at a time, each lane keeping the one its density
// selects.
inline void DensityFour(const uint8_t* entry, const uint8_t* density, int32_t x, const uint32_t* const* prefix,
                        const int32_t (&radius)[kWindows], const __m128i (&count)[kWindows], __m128i high, __m128i low,
                        uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  auto fourBytes = [&](const uint8_t* p) {
    int32_t bytes;
    std::memcpy(&bytes, p, sizeof bytes);
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
  };
  const __m128i next = _mm_add_epi32(fourBytes(entry + x), _mm_set1_epi32(1));
  const __m128i e = fourBytes(density + x);
  __m128i ridge[kWindows];
  for (int k = 0; k < kWindows; ++k) {
    const __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix[k] + x + radius[k] + 1));
    const __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix[k] + x - radius[k]));
    ridge[k] = _mm_cmpgt_epi32(TimesCount(next, count[k]), _mm_sub_epi32(upper, lower));  // set: not below the mean
  }
  const __m128i isHigh = _mm_cmpgt_epi32(e, high);  // e >= densityHigh (high holds densityHigh - 1)
  const __m128i isMedium = _mm_cmpgt_epi32(e, low);
  auto select = [](__m128i mask, __m128i a, __m128i b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); };
  const __m128i valley = select(isHigh, ridge[0], select(isMedium, ridge[1], ridge[2]));
  // Valley lanes 255, ridge lanes 0 (kRidgePixel), packed to bytes.
  const __m128i bytes = _mm_and_si128(valley, _mm_set1_epi32(kValleyPixel));
  const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(bytes, zero), zero);
  const int32_t four = _mm_cvtsi128_si32(packed);
  std::memcpy(out + x, &four, sizeof four);
}
static_assert(kRidgePixel == 0, "ridge lanes are left zero");
#endif

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// DensityFour for the pixels from .. to - 1 (at least 16), 16 at a time.
VS_AVX512 void DensityWide(const uint8_t* entry, const uint8_t* density, const uint32_t* const* prefix,
                           const int32_t (&radius)[kWindows], const uint32_t (&count)[kWindows], uint8_t densityHigh,
                           uint8_t densityLow, int32_t from, int32_t to, uint8_t* out) {
  constexpr int32_t kLanes = 16;
  for (int32_t next = from; next < to; next += kLanes) {
    const int32_t x = next + kLanes <= to ? next : to - kLanes;
    const __m512i value = _mm512_add_epi32(
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entry + x))), _mm512_set1_epi32(1));
    const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(density + x));
    __mmask16 valley[kWindows];  // not below the mean of window k
    for (int k = 0; k < kWindows; ++k) {
      const __m512i sum = _mm512_sub_epi32(_mm512_loadu_si512(prefix[k] + x + radius[k] + 1),
                                           _mm512_loadu_si512(prefix[k] + x - radius[k]));
      valley[k] = _mm512_cmpgt_epi32_mask(_mm512_mullo_epi32(value, _mm512_set1_epi32(static_cast<int32_t>(count[k]))),
                                          sum);
    }
    const __mmask16 isHigh = _mm_cmpge_epu8_mask(e, _mm_set1_epi8(static_cast<char>(densityHigh)));
    const __mmask16 isMedium = _mm_cmpge_epu8_mask(e, _mm_set1_epi8(static_cast<char>(densityLow)));
    // (A high density takes the small window also where densityLow lies above densityHigh.)
    const __mmask16 chosen = static_cast<__mmask16>((isHigh & valley[0]) | (~isHigh & isMedium & valley[1]) |
                                                    (~isHigh & ~isMedium & valley[2]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_maskz_mov_epi8(chosen, _mm_set1_epi8(static_cast<char>(kValleyPixel))));
  }
}

// The two-means comparison of the pixels from .. to - 1 (at least 16), 16 at
// a time; reciprocal[k] divides by window k's pixel count.
VS_AVX512 void TwoMeansWide(const uint8_t* entry, const uint32_t* const* prefix, const int32_t* radius,
                            const MeanReciprocal* reciprocal, int32_t from, int32_t to, uint8_t* out) {
  constexpr int32_t kLanes = 16;
  const WideMeanDivider divide[2] = {WideMeanDivider(reciprocal[0]), WideMeanDivider(reciprocal[1])};
  for (int32_t next = from; next < to; next += kLanes) {
    const int32_t x = next + kLanes <= to ? next : to - kLanes;
    __m512i mean[2];
    for (int k = 0; k < 2; ++k) {
      mean[k] = divide[k](_mm512_sub_epi32(_mm512_loadu_si512(prefix[k] + x + radius[k] + 1),
                                           _mm512_loadu_si512(prefix[k] + x - radius[k])));
    }
    const __m512i threshold = _mm512_srli_epi32(_mm512_add_epi32(mean[0], mean[1]), 1);
    const __m512i value = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entry + x)));
    // Ridge (0) where the value lies below the threshold, else valley (255).
    const __mmask16 valley = _mm512_cmpge_epi32_mask(value, threshold);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_maskz_mov_epi8(valley, _mm_set1_epi8(static_cast<char>(kValleyPixel))));
  }
}

// dst[i] = a[i] + b[i] for i < count, 16 at a time.
VS_AVX512 void AddRowsWide(const uint32_t* a, const uint32_t* b, int32_t count, uint32_t* dst) {
  constexpr int32_t kLanes = 16;
  for (int32_t i = 0; i < count; i += kLanes) {
    const __mmask16 valid = RowLanes(i, count);
    _mm512_mask_storeu_epi32(dst + i, valid,
                             _mm512_add_epi32(_mm512_maskz_loadu_epi32(valid, a + i), _mm512_maskz_loadu_epi32(valid, b + i)));
  }
}

// The bytes of a row as 32-bit values.
VS_AVX512 void WidenRowWide(const uint8_t* row, int32_t w, uint32_t* out) {
  constexpr int32_t kLanes = 16;
  for (int32_t x = 0; x < w; x += kLanes) {
    const __mmask16 valid = RowLanes(x, w);
    _mm512_mask_storeu_epi32(out + x, valid, _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(valid, row + x)));
  }
}

// A window of radius r over rows of a summed-area table (see SummedRows):
// `bottom` and `top` the table rows of the window's last row and of the row
// above its first, `first` and `end` the table columns of pixel 0's window
// start and end, `columnsInside` the columns of each pixel's window inside
// the row and `rowsInside` its rows.
struct TableWindow {
  const uint32_t* bottom;
  const uint32_t* top;
  int32_t first;
  int32_t end;
  const uint32_t* columnsInside;
  int32_t rowsInside;
};

// The sums of the windows of x .. x + 15 (lanes outside `valid`: 0).
VS_AVX512 inline __m512i TableSums(const TableWindow& t, int32_t x, __mmask16 valid) {
  const __m512i below = _mm512_sub_epi32(_mm512_maskz_loadu_epi32(valid, t.bottom + x + t.end),
                                         _mm512_maskz_loadu_epi32(valid, t.bottom + x + t.first));
  const __m512i above = _mm512_sub_epi32(_mm512_maskz_loadu_epi32(valid, t.top + x + t.end),
                                         _mm512_maskz_loadu_epi32(valid, t.top + x + t.first));
  return _mm512_sub_epi32(below, above);
}
// Their pixel counts (lanes outside `valid`: 0).
VS_AVX512 inline __m512i TableCounts(const TableWindow& t, int32_t x, __mmask16 valid) {
  return _mm512_mullo_epi32(_mm512_maskz_loadu_epi32(valid, t.columnsInside + x), _mm512_set1_epi32(t.rowsInside));
}

// One row of the density binarisation, 16 pixels at a time (the last block
// masked): each pixel compared with the mean of the window its density
// selects (ridge where (v + 1) x count <= sum), every window from four table
// totals.
VS_AVX512 void DensityRowFromTable(const uint8_t* entry, const uint8_t* density, const TableWindow (&windows)[kWindows],
                                   uint8_t densityHigh, uint8_t densityLow, int32_t w, uint8_t* out) {
  constexpr int32_t kLanes = 16;
  for (int32_t x = 0; x < w; x += kLanes) {
    const __mmask16 valid = RowLanes(x, w);
    const __m512i value =
        _mm512_add_epi32(_mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(valid, entry + x)), _mm512_set1_epi32(1));
    const __m128i e = _mm_maskz_loadu_epi8(valid, density + x);
    __mmask16 valley[kWindows];  // not below the mean of window k
    for (int k = 0; k < kWindows; ++k) {
      valley[k] = _mm512_cmpgt_epi32_mask(_mm512_mullo_epi32(value, TableCounts(windows[k], x, valid)),
                                          TableSums(windows[k], x, valid));
    }
    const __mmask16 isHigh = _mm_cmpge_epu8_mask(e, _mm_set1_epi8(static_cast<char>(densityHigh)));
    const __mmask16 isMedium = _mm_cmpge_epu8_mask(e, _mm_set1_epi8(static_cast<char>(densityLow)));
    // (A high density takes the small window also where densityLow lies above densityHigh.)
    const __mmask16 chosen = static_cast<__mmask16>((isHigh & valley[0]) | (~isHigh & isMedium & valley[1]) |
                                                    (~isHigh & ~isMedium & valley[2]));
    _mm_mask_storeu_epi8(out + x, valid, _mm_maskz_mov_epi8(chosen, _mm_set1_epi8(static_cast<char>(kValleyPixel))));
  }
}

// One row of the two-means binarisation, 16 pixels at a time (the last block
// masked): the truncated means of both windows, the pixel a ridge where it
// lies below the mean of the two. Blocks whose windows all lie inside the row
// divide by the row's full window counts (`divide`); the others by
// SmallQuotients (every mean at most 255).
VS_AVX512 void TwoMeansRowFromTable(const uint8_t* entry, const TableWindow (&windows)[2],
                                    const WideMeanDivider (&divide)[2], int32_t innerFrom, int32_t innerTo, int32_t w,
                                    uint8_t* out) {
  constexpr int32_t kLanes = 16;
  const __m512i one = _mm512_set1_epi32(1);
  for (int32_t x = 0; x < w; x += kLanes) {
    const __mmask16 valid = RowLanes(x, w);
    const bool inner = x >= innerFrom && x + kLanes <= innerTo;
    __m512i mean[2];
    for (int k = 0; k < 2; ++k) {
      const __m512i sum = TableSums(windows[k], x, valid);
      if (inner) {
        mean[k] = divide[k](sum);
        continue;
      }
      const __m512i count = _mm512_max_epi32(TableCounts(windows[k], x, valid), one);
      mean[k] = SmallQuotients(sum, count);
    }
    const __m512i threshold = _mm512_srli_epi32(_mm512_add_epi32(mean[0], mean[1]), 1);
    const __m512i value = _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(valid, entry + x));
    const __mmask16 valley = _mm512_cmpge_epi32_mask(value, threshold);
    _mm_mask_storeu_epi8(out + x, valid, _mm_maskz_mov_epi8(valley, _mm_set1_epi8(static_cast<char>(kValleyPixel))));
  }
}
VS_WIDE_CODE_END

// Rows of a summed-area table of an image, kept for the rows the widest of
// some windows spans: table row j holds, in the clipped layout of the widest
// radius R (see ClippedTotals), the totals of columns over rows 0 .. j, so a
// window of radius r <= R sums, at pixel x, bottom[x + R + r + 2] - bottom[x
// + R + 1 - r] minus the same of the row above the window. One running total
// per image row, and no column sums. For images whose whole sum stays below
// 2^31; each row is read into the table when Through first reaches it.
class SummedRows {
 public:
  bool Allocate(int32_t w, int32_t h, int32_t largest) {
    w_ = w;
    largest_ = largest;
    stride_ = static_cast<size_t>(w) + 2 * static_cast<size_t>(largest) + 2;
    slots_ = 2 * largest + 2 < h ? 2 * largest + 2 : h;  // rows y - R - 1 .. y + R (and -1)
    table_.reset(new (std::nothrow) uint32_t[stride_ * static_cast<size_t>(slots_)]);
    zeros_.reset(new (std::nothrow) uint32_t[stride_]());
    widened_.reset(new (std::nothrow) uint32_t[static_cast<size_t>(w)]);
    return table_ != nullptr && zeros_ != nullptr && widened_ != nullptr && rowTotals_.Allocate(w, largest);
  }
  // Makes the table rows through `last` from the image's rows.
  void Through(const uint8_t* const* image, int32_t last) {
    for (; built_ < last; ++built_) {
      const int32_t j = built_ + 1;
      WidenRowWide(image[j], w_, widened_.get());
      rowTotals_.Fill(widened_.get(), SimdLevel::kAvx512);
      AddRowsWide(Row(j - 1), rowTotals_.At(), static_cast<int32_t>(stride_), Row(j));
    }
  }
  uint32_t* Row(int32_t j) { return j < 0 ? zeros_.get() : table_.get() + static_cast<size_t>(j % slots_) * stride_; }
  // Window of radius r about row y of an image of h rows.
  TableWindow Window(int32_t y, int32_t h, int32_t r, const uint32_t* columnsInside) {
    const int32_t bottom = y + r < h - 1 ? y + r : h - 1;
    const int32_t top = y - r > 0 ? y - r : 0;
    return TableWindow{Row(bottom), Row(top - 1), largest_ + 1 - r, largest_ + r + 2, columnsInside, bottom - top + 1};
  }

 private:
  std::unique_ptr<uint32_t[]> table_;
  std::unique_ptr<uint32_t[]> zeros_;  // the table row above row 0
  std::unique_ptr<uint32_t[]> widened_;
  ClippedTotals rowTotals_;
  size_t stride_ = 0;
  int32_t w_ = 0;
  int32_t largest_ = 0;
  int32_t slots_ = 1;
  int32_t built_ = -1;  // the last table row made
};

// The columns of every pixel's window of radius r inside a row of w.
void ColumnsInside(int32_t w, int32_t r, uint32_t* columns) {
  for (int32_t x = 0; x < w; ++x) {
    const int32_t lo = x - r > 0 ? x - r : 0;
    const int32_t hi = x + r < w - 1 ? x + r : w - 1;
    columns[x] = static_cast<uint32_t>(hi - lo + 1);
  }
}

// The density binarisation from SummedRows: each row is read into the table
// before any row at or above it is written. Only for images where every sum
// and (v + 1) x count stay below 2^31.
int32_t DensityFromTable(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* densityMap,
                         uint8_t densityHigh, uint8_t densityLow, const int32_t (&radius)[kWindows]) {
  int32_t largest = 0;
  for (int32_t r : radius) largest = r > largest ? r : largest;
  const size_t width = static_cast<size_t>(w);
  SummedRows table;
  std::unique_ptr<uint32_t[]> columnsInside(new (std::nothrow) uint32_t[width * kWindows]);
  if (columnsInside == nullptr || !table.Allocate(w, h, largest)) return kOutOfMemory;
  for (int k = 0; k < kWindows; ++k) ColumnsInside(w, radius[k], columnsInside.get() + static_cast<size_t>(k) * width);
  for (int32_t y = 0; y < h; ++y) {
    table.Through(ridgeImage, y + largest < h - 1 ? y + largest : h - 1);
    TableWindow windows[kWindows];
    for (int k = 0; k < kWindows; ++k) {
      windows[k] = table.Window(y, h, radius[k], columnsInside.get() + static_cast<size_t>(k) * width);
    }
    DensityRowFromTable(ridgeImage[y], densityMap[y], windows, densityHigh, densityLow, w, ridgeImage[y]);
  }
  return kOk;
}

// The two-means binarisation from SummedRows (images whose sums and counts x
// 256 stay below 2^31).
int32_t TwoMeansFromTable(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* scratch,
                          const int32_t (&radius)[2]) {
  const int32_t largest = radius[0] > radius[1] ? radius[0] : radius[1];
  const size_t width = static_cast<size_t>(w);
  SummedRows table;
  std::unique_ptr<uint32_t[]> columnsInside(new (std::nothrow) uint32_t[width * 2]);
  if (columnsInside == nullptr || !table.Allocate(w, h, largest)) return kOutOfMemory;
  for (int k = 0; k < 2; ++k) ColumnsInside(w, radius[k], columnsInside.get() + static_cast<size_t>(k) * width);
  // Pixels largest .. w - largest - 1 have both windows inside the row.
  const int32_t innerFrom = largest, innerTo = w - largest;
  for (int32_t y = 0; y < h; ++y) {
    table.Through(ridgeImage, y + largest < h - 1 ? y + largest : h - 1);
    const TableWindow windows[2] = {table.Window(y, h, radius[0], columnsInside.get()),
                                    table.Window(y, h, radius[1], columnsInside.get() + width)};
    // Full window counts (at most 65 x 65 pixels: MeanReciprocal's range).
    const WideMeanDivider divide[2] = {
        WideMeanDivider(MeanReciprocal(static_cast<uint32_t>(windows[0].rowsInside * (2 * radius[0] + 1)))),
        WideMeanDivider(MeanReciprocal(static_cast<uint32_t>(windows[1].rowsInside * (2 * radius[1] + 1))))};
    TwoMeansRowFromTable(ridgeImage[y], windows, divide, innerFrom, innerTo, w, scratch[y]);
  }
  return kOk;
}
#endif

template <typename Sum>
int32_t DensityStream(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* densityMap,
                      uint8_t densityHigh, uint8_t densityLow, const int32_t (&radius)[kWindows], SimdLevel level) {
  int32_t largest = 0;
  for (int32_t r : radius) largest = r > largest ? r : largest;
  // Every window sum and (v + 1) x count below 2^31: 256 x the pixel count.
  constexpr int64_t kLargestFactor = 256;
  const bool narrow = static_cast<int64_t>(w) * h * kLargestFactor <= std::numeric_limits<int32_t>::max();
  (void)narrow;
  const int32_t slots = 2 * static_cast<int64_t>(largest) + 1 < h ? 2 * largest + 1 : h;
  RowRing ring;
  std::unique_ptr<Sum[]> storage(new (std::nothrow) Sum[static_cast<size_t>(w) * kWindows]());
  if (!ring.Allocate(w, slots) || storage == nullptr) return kOutOfMemory;
  std::unique_ptr<Sum[]> prefixStorage(new (std::nothrow) Sum[(static_cast<size_t>(w) + 1) * kWindows]);
  if (prefixStorage == nullptr) return kOutOfMemory;
  Sum* column[kWindows];
  Sum* prefix[kWindows];
  for (int k = 0; k < kWindows; ++k) {
    column[k] = storage.get() + static_cast<size_t>(k) * static_cast<size_t>(w);
    prefix[k] = prefixStorage.get() + static_cast<size_t>(k) * (static_cast<size_t>(w) + 1);
  }

  auto addRow = [&](int k, int32_t row, int sign) {
    const uint8_t* values = ring[row];
    Sum* sums = column[k];
#ifdef VS_WIDE_VECTORS
    if constexpr (sizeof(Sum) == sizeof(uint32_t)) {
      if (level == SimdLevel::kAvx512) {
        UpdateColumnSumsWide(sums, sign > 0 ? values : nullptr, sign > 0 ? nullptr : values, w);
        return;
      }
    }
#endif
    if (sign > 0) {
      for (int32_t x = 0; x < w; ++x) sums[x] += values[x];
    } else {
      for (int32_t x = 0; x < w; ++x) sums[x] -= values[x];
    }
  };
  int32_t loaded = 0;
  auto loadThrough = [&](int32_t last) {
    for (; loaded <= last && loaded < h; ++loaded) std::memcpy(ring[loaded], ridgeImage[loaded], static_cast<size_t>(w));
  };
  loadThrough(largest - 1);
  for (int k = 0; k < kWindows; ++k) {
    for (int32_t row = 0; row < radius[k] && row < h; ++row) addRow(k, row, 1);
  }
  for (int32_t y = 0; y < h; ++y) {
    // Leaving rows first: the row loaded next takes the slot of the largest window's leaving row.
    for (int k = 0; k < kWindows; ++k) {
      if (y - radius[k] - 1 >= 0) addRow(k, y - radius[k] - 1, -1);
    }
    loadThrough(y + largest);
    uint64_t rowsInside[kWindows];
    for (int k = 0; k < kWindows; ++k) {
      if (y + radius[k] < h) addRow(k, y + radius[k], 1);
      const int32_t top = y - radius[k] > 0 ? y - radius[k] : 0;
      const int32_t bottom = y + radius[k] < h - 1 ? y + radius[k] : h - 1;
      rowsInside[k] = static_cast<uint64_t>(bottom - top + 1);
    }
    // Prefix sums of each window's column sums along the row: the window of
    // x covers the columns lo..hi - 1, clipped at the row ends.
    for (int k = 0; k < kWindows; ++k) {
      Sum* running = prefix[k];
      const Sum* sums = column[k];
      running[0] = 0;
      if constexpr (sizeof(Sum) == sizeof(uint32_t)) {
        RunningTotals(sums, w, running + 1, level);
      } else {
        for (int32_t x = 0; x < w; ++x) running[x + 1] = running[x] + sums[x];
      }
    }
    const uint8_t* entry = ring[y];
    const uint8_t* density = densityMap[y];
    uint8_t* out = ridgeImage[y];
    auto pixel = [&](int32_t x) {
      const uint8_t e = density[x];
      const int k = e >= densityHigh ? 0 : (e >= densityLow ? 1 : 2);
      const int32_t r = radius[k];
      const int32_t lo = r >= x ? 0 : x - r;
      const int32_t hi = r >= w - x ? w : x + r + 1;
      const uint64_t count = rowsInside[k] * static_cast<uint64_t>(hi - lo);
      out[x] = BelowMean(entry[x], prefix[k][hi] - prefix[k][lo], count) ? kRidgePixel : kValleyPixel;
    };
    int32_t x = 0;
#ifdef VS_WIDE_VECTORS
    if constexpr (sizeof(Sum) == sizeof(uint32_t)) {
      if (narrow && level == SimdLevel::kAvx512 && w - 2 * largest >= 16) {
        uint32_t counts[kWindows];
        for (int k = 0; k < kWindows; ++k) {
          counts[k] = static_cast<uint32_t>(rowsInside[k] * static_cast<uint64_t>(2 * radius[k] + 1));
        }
        for (; x < largest; ++x) pixel(x);
        DensityWide(entry, density, prefix, radius, counts, densityHigh, densityLow, largest, w - largest, out);
        x = w - largest;
      }
    }
#endif
#ifdef VS_BINARISATION_SSE2
    if constexpr (sizeof(Sum) == sizeof(uint32_t)) {
      if (narrow && level != SimdLevel::kPlain) {
        __m128i counts[kWindows];
        for (int k = 0; k < kWindows; ++k) {
          counts[k] = _mm_set1_epi32(static_cast<int32_t>(rowsInside[k] * static_cast<uint64_t>(2 * radius[k] + 1)));
        }
        const __m128i high = _mm_set1_epi32(static_cast<int32_t>(densityHigh) - 1);
        const __m128i low = _mm_set1_epi32(static_cast<int32_t>(densityLow) - 1);
        for (; x < largest && x < w; ++x) pixel(x);
        for (; x + 4 + largest <= w; x += 4) DensityFour(entry, density, x, prefix, radius, counts, high, low, out);
      }
    }
#endif
    for (; x < w; ++x) pixel(x);
  }
  return kOk;
}

constexpr int kTwoWindows = 2;  // small, large

#ifdef VS_BINARISATION_SSE2
// floor(n / d) for 0 <= n <= 255 d and 1 <= d < MeanReciprocal::kLargestCount,
// four lanes at a time.
class MeanDivider {
 public:
  explicit MeanDivider(MeanReciprocal r)
      : multiplier_(_mm_set1_epi32(static_cast<int32_t>(r.multiplier))), shift_(_mm_cvtsi32_si128(r.shift)) {}
  __m128i operator()(__m128i n) const {
    const __m128i even = _mm_srl_epi64(_mm_mul_epu32(n, multiplier_), shift_);
    const __m128i odd = _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(n, 32), multiplier_), shift_);
    return _mm_or_si128(even, _mm_slli_epi64(odd, 32));
  }

 private:
  __m128i multiplier_;
  __m128i shift_;
};
#endif

// The two-means binarisation row by row: column sums of both windows over the
// (unchanged) ridge image, prefix sums along each row, and every pixel
// compared with the mean of its two truncated window means. Where both
// windows lie inside the row the means come four at a time by multiplication.
template <typename Sum>
int32_t TwoMeansStream(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* scratch,
                       const int32_t (&radius)[kTwoWindows], SimdLevel level) {
  std::unique_ptr<Sum[]> storage(new (std::nothrow) Sum[(2 * static_cast<size_t>(w) + 1) * kTwoWindows]());
  if (storage == nullptr) return kOutOfMemory;
  Sum* column[kTwoWindows];
  Sum* prefix[kTwoWindows];
  for (int k = 0; k < kTwoWindows; ++k) {
    column[k] = storage.get() + static_cast<size_t>(k) * (2 * static_cast<size_t>(w) + 1);
    prefix[k] = column[k] + w;
  }
  auto addRow = [&](int k, int32_t row, bool add) {
    const uint8_t* values = ridgeImage[row];
    Sum* sums = column[k];
#ifdef VS_WIDE_VECTORS
    if constexpr (sizeof(Sum) == sizeof(uint32_t)) {
      if (level == SimdLevel::kAvx512) {
        UpdateColumnSumsWide(sums, add ? values : nullptr, add ? nullptr : values, w);
        return;
      }
    }
#endif
    if (add) {
      for (int32_t x = 0; x < w; ++x) sums[x] += values[x];
    } else {
      for (int32_t x = 0; x < w; ++x) sums[x] -= values[x];
    }
  };
  for (int k = 0; k < kTwoWindows; ++k) {
    for (int32_t row = 0; row < radius[k] && row < h; ++row) addRow(k, row, true);
  }
  for (int32_t y = 0; y < h; ++y) {
    uint64_t rowsInside[kTwoWindows];
    for (int k = 0; k < kTwoWindows; ++k) {
      if (y - radius[k] - 1 >= 0) addRow(k, y - radius[k] - 1, false);
      if (y + radius[k] < h) addRow(k, y + radius[k], true);
      const int32_t top = y - radius[k] > 0 ? y - radius[k] : 0;
      const int32_t bottom = y + radius[k] < h - 1 ? y + radius[k] : h - 1;
      rowsInside[k] = static_cast<uint64_t>(bottom - top + 1);
      Sum* running = prefix[k];
      running[0] = 0;
      if constexpr (sizeof(Sum) == sizeof(uint32_t)) {
        RunningTotals(column[k], w, running + 1, level);
      } else {
        for (int32_t x = 0; x < w; ++x) running[x + 1] = running[x] + column[k][x];
      }
    }
    const uint8_t* entry = ridgeImage[y];
    uint8_t* out = scratch[y];
    auto pixel = [&](int32_t x) {
      uint32_t mean[kTwoWindows];
      for (int k = 0; k < kTwoWindows; ++k) {
        const int32_t r = radius[k];
        const int32_t lo = r >= x ? 0 : x - r;
        const int32_t hi = r >= w - x ? w : x + r + 1;
        const uint64_t count = rowsInside[k] * static_cast<uint64_t>(hi - lo);
        mean[k] = static_cast<uint32_t>(static_cast<uint64_t>(prefix[k][hi] - prefix[k][lo]) / count);
      }
      out[x] = Threshold(entry[x], (mean[0] + mean[1]) / 2);
    };
    int32_t x = 0;
#ifdef VS_BINARISATION_SSE2
    if constexpr (sizeof(Sum) == sizeof(uint32_t)) {
      const uint64_t counts[kTwoWindows] = {rowsInside[0] * static_cast<uint64_t>(2 * radius[0] + 1),
                                            rowsInside[1] * static_cast<uint64_t>(2 * radius[1] + 1)};
      if (level != SimdLevel::kPlain && counts[0] < MeanReciprocal::kLargestCount &&
          counts[1] < MeanReciprocal::kLargestCount) {
        const MeanReciprocal reciprocal[kTwoWindows] = {MeanReciprocal(static_cast<uint32_t>(counts[0])),
                                                        MeanReciprocal(static_cast<uint32_t>(counts[1]))};
        const MeanDivider divide[kTwoWindows] = {MeanDivider(reciprocal[0]), MeanDivider(reciprocal[1])};
        const __m128i zero = _mm_setzero_si128();
        const int32_t largest = radius[0] > radius[1] ? radius[0] : radius[1];
        for (; x < largest && x < w; ++x) pixel(x);
#ifdef VS_WIDE_VECTORS
        if (level == SimdLevel::kAvx512 && w - 2 * largest >= 16) {
          TwoMeansWide(entry, prefix, radius, reciprocal, largest, w - largest, out);
          x = w - largest;
        }
#endif
        for (; x + 4 + largest <= w; x += 4) {
          __m128i mean[kTwoWindows];
          for (int k = 0; k < kTwoWindows; ++k) {
            const __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix[k] + x + radius[k] + 1));
            const __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix[k] + x - radius[k]));
            mean[k] = divide[k](_mm_sub_epi32(upper, lower));
          }
          const __m128i threshold = _mm_srli_epi32(_mm_add_epi32(mean[0], mean[1]), 1);
          int32_t bytes;
          std::memcpy(&bytes, entry + x, sizeof bytes);
          const __m128i values = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
          // Ridge (0) where the value lies below the threshold, else valley (255).
          const __m128i valley = _mm_andnot_si128(_mm_cmpgt_epi32(threshold, values), _mm_set1_epi32(kValleyPixel));
          const int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(valley, zero), zero));
          std::memcpy(out + x, &four, sizeof four);
        }
      }
    }
#endif
    for (; x < w; ++x) pixel(x);
  }
  return kOk;
}

}  // namespace

int32_t BinarizeByLocalMean(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t r) {
  uint8_t* out = nullptr;
  int32_t outY = -1;
  const bool done = StreamWindowMeans(
      w, h, r, [&](int32_t y, uint8_t* row) { std::memcpy(row, ridgeImage[y], static_cast<size_t>(w)); },
      [&](int32_t x, int32_t y, uint32_t mean) {
        if (y != outY) {
          outY = y;
          out = ridgeImage[y];
        }
        out[x] = Threshold(out[x], mean);
      });
  return done ? kOk : kOutOfMemory;
}

int32_t BinarizeByTwoMeans(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* scratch,
                           uint32_t rSmall, uint32_t rLarge, SimdLevel level) {
  if (w <= 0 || h <= 0) return kOk;
  const int32_t radius[kTwoWindows] = {ClampRadius(rSmall, w, h), ClampRadius(rLarge, w, h)};
#ifdef VS_WIDE_VECTORS
  constexpr int64_t kCountFactor = 256;  // every sum and count x 256 below 2^31
  if (level == SimdLevel::kAvx512 && static_cast<int64_t>(w) * h * kCountFactor <= std::numeric_limits<int32_t>::max() &&
      radius[0] <= kTableRadiusMax && radius[1] <= kTableRadiusMax) {
    return TwoMeansFromTable(w, h, ridgeImage, scratch, radius);
  }
#endif
  constexpr uint64_t kByteMax = 255;
  if (static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * kByteMax <= std::numeric_limits<uint32_t>::max()) {
    return TwoMeansStream<uint32_t>(w, h, ridgeImage, scratch, radius, level);
  }
  return TwoMeansStream<uint64_t>(w, h, ridgeImage, scratch, radius, level);
}

int32_t BinarizeByDensity(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* densityMap,
                          uint8_t densityHigh, uint8_t densityLow, uint32_t rSmall, uint32_t rMedium,
                          uint32_t rLarge, SimdLevel level) {
  if (w <= 0 || h <= 0) return kOk;
  const int32_t radius[kWindows] = {ClampRadius(rSmall, w, h), ClampRadius(rMedium, w, h), ClampRadius(rLarge, w, h)};
  constexpr uint64_t kByteMax = 255;
  if (static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * kByteMax <= std::numeric_limits<uint32_t>::max()) {
  #ifdef VS_WIDE_VECTORS
    constexpr int64_t kLargestFactor = 256;  // (v + 1) x count below 2^31
    if (level == SimdLevel::kAvx512 && static_cast<int64_t>(w) * h * kLargestFactor <= std::numeric_limits<int32_t>::max() &&
        radius[0] <= kTableRadiusMax && radius[1] <= kTableRadiusMax && radius[2] <= kTableRadiusMax) {
      return DensityFromTable(w, h, ridgeImage, densityMap, densityHigh, densityLow, radius);
    }
#endif
    return DensityStream<uint32_t>(w, h, ridgeImage, densityMap, densityHigh, densityLow, radius, level);
  }
  return DensityStream<uint64_t>(w, h, ridgeImage, densityMap, densityHigh, densityLow, radius, level);
}

}  // namespace vorsensor
