// Per-pixel orientation: window sums of gradient moments or directional
// differences streamed row by row. A ring of entry rows lets the stage write
// the reliability over the grey values it is still reading; per-column sums
// take each row's contributions once on entering and once on leaving the
// window, and a running sum along the row gives the window, so the cost per
// pixel does not depend on the radius.
#include "engine/ridge/pixel_orientation.h"

#include <algorithm>
#include <memory>
#include <new>

#include "engine/simd_level.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define VS_PIXEL_ORIENTATION_SSE2 1
#endif
#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

#include "engine/result_codes.h"
#include "engine/ridge/orientation_moments.h"
#include "engine/running_totals.h"
#include "engine/row_ring.h"

namespace vorsensor {

namespace {

// Radii beyond this are treated as this one, so that the window size (2r+1)²
// stays a 32-bit value; such a window covers any image the engine accepts.
constexpr uint32_t kMaxWindowRadius = 16383;
// Rows of entry values the streaming needs beyond the window: the neighbours
// of the entering and the leaving gradient rows.
constexpr int32_t kRingExtraRows = 4;
constexpr int64_t kFlatnessDifferences = 2;  // each directional difference adds two neighbours
constexpr int32_t kLargestGradient = 6 * 255;  // mask weights 1 + 4 + 1 on each side
constexpr uint8_t kNoReliabilityLimit = 0;     // energy or flatness limit that holds no window back

// Per-channel column sums: `Channels` arrays of w values, each with `pad`
// zero columns on both sides, so that the window along a row can always add
// the column at x + r and drop the one at x - r - 1 (pad = r + 1).
template <int Channels, typename Sum>
class ColumnSums {
 public:
  bool Allocate(int32_t w, int32_t pad) {
    pad_ = static_cast<size_t>(pad);
    stride_ = static_cast<size_t>(w) + 2 * pad_;
    data_.reset(new (std::nothrow) Sum[stride_ * Channels]());
    return data_ != nullptr;
  }
  Sum* operator[](int channel) { return data_.get() + static_cast<size_t>(channel) * stride_ + pad_; }

 private:
  std::unique_ptr<Sum[]> data_;
  size_t pad_ = 0;
  size_t stride_ = 0;
};

// MomentMean by a fixed window size without a division per pixel: for
// dividends below 2^31 a multiply by ceil(2^(31+l) / n) (l = bits of n) and a
// shift give the exact quotient; larger dividends (windows beyond radius 14 on
// full-contrast patterns) take MomentMean itself.
class WindowMean {
 public:
  explicit WindowMean(int32_t count) : count_(count) {
    while ((int64_t{1} << bits_) < count) ++bits_;
    shift_ = kDividendBits + bits_;
    magic_ = ((uint64_t{1} << shift_) + static_cast<uint64_t>(count) - 1) / static_cast<uint64_t>(count);
  }
  int32_t operator()(int64_t sum) const {
    const int64_t dividend = sum + (count_ >> 1);
    if (dividend >= kDividendLimit || dividend <= -kDividendLimit) return MomentMean(sum, count_);
    const uint64_t magnitude = static_cast<uint64_t>(dividend < 0 ? -dividend : dividend);
    const int32_t quotient = static_cast<int32_t>((magnitude * magic_) >> shift_);
    return dividend < 0 ? -quotient : quotient;
  }
#ifdef VS_PIXEL_ORIENTATION_SSE2
  // Whether the multiplier fits 32 bits, as Of4 needs (it always does).
  bool Narrow() const { return magic_ <= UINT32_MAX; }
  // operator() for four window sums whose dividends lie below 2^31 in magnitude.
  __m128i Of4(__m128i sum) const {
    const __m128i dividend = _mm_add_epi32(sum, _mm_set1_epi32(count_ >> 1));
    const __m128i sign = _mm_srai_epi32(dividend, kDividendBits);
    const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(dividend, sign), sign);
    const __m128i magic = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(magic_)));
    const __m128i shift = _mm_cvtsi32_si128(shift_);
    const __m128i even = _mm_srl_epi64(_mm_mul_epu32(magnitude, magic), shift);
    const __m128i odd = _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(magnitude, 32), magic), shift);
    const __m128i quotient = _mm_or_si128(even, _mm_slli_epi64(odd, 32));
    return _mm_sub_epi32(_mm_xor_si128(quotient, sign), sign);
  }
#endif
#ifdef VS_WIDE_VECTORS
  VS_WIDE_CODE_BEGIN
  // Of4 for 16 window sums.
  VS_AVX512 __m512i Of16(__m512i sum) const {
    const __m512i dividend = _mm512_add_epi32(sum, _mm512_set1_epi32(count_ >> 1));
    const __mmask16 negative = _mm512_cmplt_epi32_mask(dividend, _mm512_setzero_si512());
    const __m512i magnitude = _mm512_abs_epi32(dividend);
    const __m512i magic = _mm512_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(magic_)));
    const __m128i shift = _mm_cvtsi32_si128(shift_);
    const __m512i even = _mm512_srl_epi64(_mm512_mul_epu32(magnitude, magic), shift);
    const __m512i odd = _mm512_srl_epi64(_mm512_mul_epu32(_mm512_srli_epi64(magnitude, 32), magic), shift);
    const __m512i quotient = _mm512_or_si512(even, _mm512_slli_epi64(odd, 32));
    return _mm512_mask_sub_epi32(quotient, negative, _mm512_setzero_si512(), quotient);
  }
  VS_WIDE_CODE_END
#endif
  int32_t Count() const { return count_; }
  // The same for a sum that cannot be negative (a sum of squares).
  int32_t OfSquares(int64_t sum) const {
    const int64_t dividend = sum + (count_ >> 1);
    if (dividend >= kDividendLimit) return MomentMean(sum, count_);
    return static_cast<int32_t>((static_cast<uint64_t>(dividend) * magic_) >> shift_);
  }

 private:
  static constexpr int32_t kDividendBits = 31;
  static constexpr int64_t kDividendLimit = int64_t{1} << kDividendBits;
  int32_t count_;
  int32_t bits_ = 0;
  int32_t shift_ = 0;
  uint64_t magic_ = 0;
};

// Window sums along one row of column sums: the first window holds columns
// 0..r, then the column at x + r enters and the one at x - r - 1 leaves (zero
// padding where those lie outside the row). store(x, sum) takes each window.
template <typename Sum, typename Store>
void SlideAlongRow(const Sum* column, int32_t w, int32_t radius, Store store) {
  int64_t sum = 0;
  for (int32_t x = 0; x <= radius && x < w; ++x) sum += column[x];
  store(0, sum);
  for (int32_t x = 1; x < w; ++x) {
    sum += static_cast<int64_t>(column[x + radius]) - column[x - radius - 1];
    store(x, sum);
  }
}

// Window sums from running totals: prefix[j + r + 1] holds the wrapping
// 32-bit total of the columns -r-1 .. j, so the window of x is prefix[x + 2r
// + 1] - prefix[x] modulo 2^32. That is the exact window sum (as a signed or
// unsigned 32-bit value) whenever the true sum lies in 32 bits; the callers
// take this path only for windows whose largest possible sum does. The
// padding columns are 0, so only the row's own columns are totalled: the
// first r + 1 totals stay 0 (the buffer starts zeroed and they are never
// written) and the last r + 1 repeat the row's total.
void ColumnTotals(const int32_t* column, int32_t w, int32_t radius, uint32_t* prefix, SimdLevel level) {
  uint32_t* totals = prefix + radius + 1;
  RunningTotals(reinterpret_cast<const uint32_t*>(column), w, totals, level);
  std::fill(totals + w, totals + w + radius + 1, totals[w - 1]);
}
inline int32_t WindowFromTotals(const uint32_t* prefix, int32_t x, int32_t radius) {
  return static_cast<int32_t>(prefix[x + 2 * radius + 1] - prefix[x]);
}

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// Window sums of the totals (see WindowFromTotals) of pixels 0 .. w - 1, 16 at
// a time; each passes through `finish` (a VS_AVX512 function object).
template <typename Finish>
VS_AVX512 inline void WindowsWide(const uint32_t* prefix, int32_t w, int32_t radius, int32_t* out, Finish finish) {
  constexpr int32_t kLanes = 16;
  int32_t x = 0;
  for (; x + kLanes <= w; x += kLanes) {
    const __m512i sum =
        _mm512_sub_epi32(_mm512_loadu_si512(prefix + x + 2 * radius + 1), _mm512_loadu_si512(prefix + x));
    _mm512_storeu_si512(out + x, finish(sum));
  }
  for (; x < w; ++x) out[x] = _mm_cvtsi128_si32(_mm512_castsi512_si128(finish(_mm512_set1_epi32(WindowFromTotals(prefix, x, radius)))));
}
struct SumsAsTheyAre {
  VS_AVX512 __m512i operator()(__m512i sum) const { return sum; }
};
struct SumsToMeans {
  const WindowMean& mean;
  VS_AVX512 __m512i operator()(__m512i sum) const { return mean.Of16(sum); }
};
VS_WIDE_CODE_END
#endif

// Whether every window of `count` pixels of terms up to `largest` (and the
// rounding half count added to it) stays below 2^31.
bool WindowFits(int64_t count, int64_t largest, int64_t extra) { return count * largest + extra <= INT32_MAX; }

#ifdef VS_PIXEL_ORIENTATION_SSE2
// Eight bytes from p widened to 16-bit lanes.
inline __m128i LoadBytes8(const uint8_t* p) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
inline __m128i LoadInts(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i LoadInts(const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void StoreInts(int32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Four window sums of the prefix totals, as 32-bit lanes.
inline __m128i WindowsFromTotals(const uint32_t* prefix, int32_t x, int32_t radius) {
  return _mm_sub_epi32(LoadInts(prefix + x + 2 * radius + 1), LoadInts(prefix + x));
}
#endif

// The rows whose pixel terms enter or leave the column sums: row e - 1, e, e + 1.
struct TermRows {
  const uint8_t* above;
  const uint8_t* row;
  const uint8_t* below;
};

#ifdef VS_PIXEL_ORIENTATION_SSE2
// Column sums of 32-bit lanes from x on, four at a time: sums[c] += entering[c] - leaving[c].
template <int Channels>
inline void AddTerms(int32_t* const* sums, int32_t x, const __m128i* entering, const __m128i* leaving) {
  for (int c = 0; c < Channels; ++c) {
    __m128i low = LoadInts(sums[c] + x), high = LoadInts(sums[c] + x + 4);
    if (entering != nullptr) {
      low = _mm_add_epi32(low, entering[2 * c]);
      high = _mm_add_epi32(high, entering[2 * c + 1]);
    }
    if (leaving != nullptr) {
      low = _mm_sub_epi32(low, leaving[2 * c]);
      high = _mm_sub_epi32(high, leaving[2 * c + 1]);
    }
    StoreInts(sums[c] + x, low);
    StoreInts(sums[c] + x + 4, high);
  }
}

// The terms of 8 pixels from x = from on as 32-bit lanes, low and high half
// of each channel, for each family's Terms8; returns the first x not done
// (pixels 1 .. w - 2 have terms, and no read passes column w - 1).
template <typename Family>
int32_t UpdateEight(const Family& family, const TermRows* entering, const TermRows* leaving, int32_t w,
                    int32_t* const* sums, int32_t from) {
  constexpr int kLanes = 8;
  __m128i in[2 * Family::kChannels], out[2 * Family::kChannels];
  int32_t x = from;
  for (; x + kLanes <= w - 1; x += kLanes) {
    if (entering != nullptr) family.Terms8(*entering, x, in);
    if (leaving != nullptr) family.Terms8(*leaving, x, out);
    AddTerms<Family::kChannels>(sums, x, entering != nullptr ? in : nullptr, leaving != nullptr ? out : nullptr);
  }
  return x;
}

// Two halves of 16-bit lanes as 32-bit lanes, zero-extended (values >= 0).
inline void WidenUnsigned(__m128i v, __m128i* halves) {
  const __m128i zero = _mm_setzero_si128();
  halves[0] = _mm_unpacklo_epi16(v, zero);
  halves[1] = _mm_unpackhi_epi16(v, zero);
}
// |a - b| of bytes.
inline __m128i ByteDistance(__m128i a, __m128i b) { return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)); }
inline __m128i LoadLow8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
#endif

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// Sixteen bytes from p, or (Tail) those of the lanes in `lanes` and zeros.
template <bool Tail>
VS_AVX512 inline __m128i LoadRow16(const uint8_t* p, __mmask16 lanes) {
  if constexpr (Tail) return _mm_maskz_loadu_epi8(lanes, p);
  (void)lanes;
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
// Sixteen bytes from p widened to 16-bit lanes.
template <bool Tail>
VS_AVX512 inline __m256i LoadBytes16(const uint8_t* p, __mmask16 lanes) {
  return _mm256_cvtepu8_epi16(LoadRow16<Tail>(p, lanes));
}
// The column sums of the terms of pixels x .. x + 15 in `lanes` (Tail: the
// last block, whose lanes past pixel w - 2 read nothing, get zero terms and
// are not stored).
template <bool Tail, typename Family>
VS_AVX512 inline void UpdateBlock(const Family& family, const TermRows* entering, const TermRows* leaving,
                                  int32_t* const* sums, int32_t x, __mmask16 lanes) {
  __m512i in[Family::kChannels], out[Family::kChannels];
  if (entering != nullptr) family.template Terms16<Tail>(*entering, x, in, lanes);
  if (leaving != nullptr) family.template Terms16<Tail>(*leaving, x, out, lanes);
  for (int c = 0; c < Family::kChannels; ++c) {
    __m512i sum = Tail ? _mm512_maskz_loadu_epi32(lanes, sums[c] + x) : _mm512_loadu_si512(sums[c] + x);
    if (entering != nullptr) sum = _mm512_add_epi32(sum, in[c]);
    if (leaving != nullptr) sum = _mm512_sub_epi32(sum, out[c]);
    if constexpr (Tail) {
      _mm512_mask_storeu_epi32(sums[c] + x, lanes, sum);
    } else {
      _mm512_storeu_si512(sums[c] + x, sum);
    }
  }
}
// UpdateEight for 16 pixels at a time with AVX-512 (the families' Terms16),
// the last block masked: every pixel 1 .. w - 2 is done.
template <typename Family>
VS_AVX512 int32_t UpdateSixteen(const Family& family, const TermRows* entering, const TermRows* leaving, int32_t w,
                                int32_t* const* sums) {
  constexpr int kLanes = 16;
  int32_t x = 1;
  for (; x + kLanes <= w - 1; x += kLanes) UpdateBlock<false>(family, entering, leaving, sums, x, 0xFFFF);
  if (x < w - 1) {
    UpdateBlock<true>(family, entering, leaving, sums, x, static_cast<__mmask16>((1u << (w - 1 - x)) - 1));
    x = w - 1;
  }
  return x;
}
VS_WIDE_CODE_END
#endif

// Updates the column sums for one row step: the terms of the entering rows
// are added and those of the leaving rows taken off (either may be null).
// Sums of 32 bits take 8 pixels at a time where SSE2 is available.
template <typename Family, typename Sum>
void UpdateColumns(const Family& family, const TermRows* entering, const TermRows* leaving, int32_t w,
                   ColumnSums<Family::kChannels, Sum>& columns) {
  int32_t x = 1;
#ifdef VS_PIXEL_ORIENTATION_SSE2
  if constexpr (sizeof(Sum) == sizeof(int32_t)) {
    if (family.level != SimdLevel::kPlain) {
      int32_t* sums[Family::kChannels];
      for (int c = 0; c < Family::kChannels; ++c) sums[c] = columns[c];
#ifdef VS_WIDE_VECTORS
      if (family.level == SimdLevel::kAvx512) x = UpdateSixteen(family, entering, leaving, w, sums);
#endif
      x = UpdateEight(family, entering, leaving, w, sums, x);
    }
  }
#endif
  if (entering != nullptr) family.template Accumulate<1, Sum>(*entering, x, w, columns);
  if (leaving != nullptr) family.template Accumulate<-1, Sum>(*leaving, x, w, columns);
}

// The gradient family takes the window means of a row channel by channel and
// turns the whole row into orientations and coherences at once
// (OrientationAndCoherenceRow).
struct GradientFamily {
  static constexpr int kChannels = 3;
  static constexpr int64_t kLargestTerm = int64_t{kLargestGradient} * kLargestGradient;
  WindowMean mean;
  uint8_t energyMin;
  SimdLevel level;
  std::unique_ptr<int32_t[]> means;  // three rows of w means: gxx, gyy, gxy
  std::unique_ptr<uint32_t[]> totals;  // running totals of one channel (w + 2r + 2)
  int32_t width = 0;

  bool Allocate(int32_t w, int32_t radius) {
    width = w;
    means.reset(new (std::nothrow) int32_t[static_cast<size_t>(w) * kChannels]);
    totals.reset(new (std::nothrow) uint32_t[static_cast<size_t>(w) + 2 * static_cast<size_t>(radius) + 2]());
    return means != nullptr && totals != nullptr;
  }

  // Pixels from..w-2 (at least 1).
  template <int Sign, typename Sum>
  void Accumulate(const TermRows& rows, int32_t from, int32_t w, ColumnSums<kChannels, Sum>& columns) const {
    Sum* xx = columns[0];
    Sum* yy = columns[1];
    Sum* xy = columns[2];
    for (int32_t x = from; x < w - 1; ++x) {
      const PixelGradient g = GradientAt(rows.above, rows.row, rows.below, x);
      xx[x] += Sign * (g.gx * g.gx);
      yy[x] += Sign * (g.gy * g.gy);
      xy[x] += Sign * (g.gx * g.gy);
    }
  }

#ifdef VS_PIXEL_ORIENTATION_SSE2
  // gx², gy² and gx·gy of pixels x .. x + 7 (|g| <= 1530 fits 16 bits; a
  // multiply-add of a lane against a zero neighbour gives the 32-bit product).
  void Terms8(const TermRows& rows, int32_t x, __m128i* terms) const {
    const __m128i aL = LoadBytes8(rows.above + x - 1), aC = LoadBytes8(rows.above + x), aR = LoadBytes8(rows.above + x + 1);
    const __m128i rL = LoadBytes8(rows.row + x - 1), rR = LoadBytes8(rows.row + x + 1);
    const __m128i bL = LoadBytes8(rows.below + x - 1), bC = LoadBytes8(rows.below + x), bR = LoadBytes8(rows.below + x + 1);
    const __m128i right = _mm_add_epi16(_mm_add_epi16(aR, bR), _mm_slli_epi16(rR, 2));
    const __m128i left = _mm_add_epi16(_mm_add_epi16(aL, bL), _mm_slli_epi16(rL, 2));
    const __m128i down = _mm_add_epi16(_mm_add_epi16(bL, bR), _mm_slli_epi16(bC, 2));
    const __m128i up = _mm_add_epi16(_mm_add_epi16(aL, aR), _mm_slli_epi16(aC, 2));
    __m128i gx[2], gy[2];
    WidenUnsigned(_mm_sub_epi16(right, left), gx);  // the high 16 bits stay 0: madd reads the low ones signed
    WidenUnsigned(_mm_sub_epi16(down, up), gy);
    for (int half = 0; half < 2; ++half) {
      terms[half] = _mm_madd_epi16(gx[half], gx[half]);
      terms[2 + half] = _mm_madd_epi16(gy[half], gy[half]);
      terms[4 + half] = _mm_madd_epi16(gx[half], gy[half]);
    }
  }
#endif

#ifdef VS_WIDE_VECTORS
  VS_WIDE_CODE_BEGIN
  // Terms8 for pixels x .. x + 15.
  template <bool Tail>
  VS_AVX512 void Terms16(const TermRows& rows, int32_t x, __m512i* terms, __mmask16 lanes) const {
    const __m256i aL = LoadBytes16<Tail>(rows.above + x - 1, lanes), aC = LoadBytes16<Tail>(rows.above + x, lanes);
    const __m256i aR = LoadBytes16<Tail>(rows.above + x + 1, lanes);
    const __m256i rL = LoadBytes16<Tail>(rows.row + x - 1, lanes), rR = LoadBytes16<Tail>(rows.row + x + 1, lanes);
    const __m256i bL = LoadBytes16<Tail>(rows.below + x - 1, lanes), bC = LoadBytes16<Tail>(rows.below + x, lanes);
    const __m256i bR = LoadBytes16<Tail>(rows.below + x + 1, lanes);
    GradientTermsSixteen(aL, aC, aR, rL, rR, bL, bC, bR, terms);
  }
  VS_WIDE_CODE_END
#endif

  template <typename Sum>
  void Row(const Sum* const* column, int32_t w, int32_t radius, uint8_t* orientation, uint8_t* reliability) const {
    int32_t* xx = means.get();
    int32_t* yy = xx + width;
    int32_t* xy = yy + width;
    bool done = false;
#ifdef VS_PIXEL_ORIENTATION_SSE2
    // Windows whose largest sum and rounding stay below 2^31 (radius 14 and
    // less): running totals and four means at a time.
    if constexpr (sizeof(Sum) == sizeof(int32_t)) {
      if (level != SimdLevel::kPlain && mean.Narrow() && WindowFits(mean.Count(), kLargestTerm, mean.Count() / 2)) {
        int32_t* out[kChannels] = {xx, yy, xy};
        for (int c = 0; c < kChannels; ++c) {
#ifdef VS_WIDE_VECTORS
          if (level == SimdLevel::kAvx512) {
            ColumnTotals(column[c], w, radius, totals.get(), level);
            WindowsWide(totals.get(), w, radius, out[c], SumsToMeans{mean});
            continue;
          }
#endif
          ColumnTotals(column[c], w, radius, totals.get(), level);
          int32_t x = 0;
          for (; x + 4 <= w; x += 4) StoreInts(out[c] + x, mean.Of4(WindowsFromTotals(totals.get(), x, radius)));
          for (; x < w; ++x) out[c][x] = mean(WindowFromTotals(totals.get(), x, radius));
        }
        done = true;
      }
    }
#endif
    if (!done) {
      SlideAlongRow(column[0], w, radius, [&](int32_t x, int64_t sum) { xx[x] = mean.OfSquares(sum); });
      SlideAlongRow(column[1], w, radius, [&](int32_t x, int64_t sum) { yy[x] = mean.OfSquares(sum); });
      SlideAlongRow(column[2], w, radius, [&](int32_t x, int64_t sum) { xy[x] = mean(sum); });
    }
    if (reliability == nullptr) {
      OrientationRow(xx, yy, xy, w, orientation, level);
    } else {
      OrientationAndCoherenceRow(xx, yy, xy, w, energyMin, orientation, reliability, level);
    }
  }
};

struct DifferenceFamily {
  static constexpr int kChannels = 4;
  static constexpr int64_t kLargestTerm = 2 * 255;  // two differences of bytes
  int64_t flatLimit;
  int64_t windowPixels;  // (2r + 1)², the most pixels a window holds
  SimdLevel level;

  template <int Sign, typename Sum>
  void Accumulate(const TermRows& rows, int32_t from, int32_t w, ColumnSums<kChannels, Sum>& columns) const {
    Sum* hs = columns[0];
    Sum* d1s = columns[1];
    Sum* vs = columns[2];
    Sum* d2s = columns[3];
    for (int32_t x = from; x < w - 1; ++x) {
      const PixelDifferences d = DifferencesAt(rows.above, rows.row, rows.below, x);
      hs[x] += Sign * d.h;
      d1s[x] += Sign * d.d1;
      vs[x] += Sign * d.v;
      d2s[x] += Sign * d.d2;
    }
  }

#ifdef VS_PIXEL_ORIENTATION_SSE2
  // The four directional differences of pixels x .. x + 7.
  void Terms8(const TermRows& rows, int32_t x, __m128i* terms) const {
    const __m128i c = LoadLow8(rows.row + x);
    const __m128i zero = _mm_setzero_si128();
    auto pair = [&](const uint8_t* one, const uint8_t* other, __m128i* halves) {
      const __m128i sum = _mm_add_epi16(_mm_unpacklo_epi8(ByteDistance(c, LoadLow8(one)), zero),
                                        _mm_unpacklo_epi8(ByteDistance(c, LoadLow8(other)), zero));
      WidenUnsigned(sum, halves);
    };
    pair(rows.row + x - 1, rows.row + x + 1, terms);
    pair(rows.above + x - 1, rows.below + x + 1, terms + 2);
    pair(rows.above + x, rows.below + x, terms + 4);
    pair(rows.above + x + 1, rows.below + x - 1, terms + 6);
  }
#endif

#ifdef VS_WIDE_VECTORS
  VS_WIDE_CODE_BEGIN
  // Terms8 for pixels x .. x + 15.
  template <bool Tail>
  VS_AVX512 void Terms16(const TermRows& rows, int32_t x, __m512i* terms, __mmask16 lanes) const {
    const __m128i c = LoadRow16<Tail>(rows.row + x, lanes);
    const uint8_t* ends[4][2] = {{rows.row + x - 1, rows.row + x + 1},
                                 {rows.above + x - 1, rows.below + x + 1},
                                 {rows.above + x, rows.below + x},
                                 {rows.above + x + 1, rows.below + x - 1}};
    for (int k = 0; k < kChannels; ++k) {
      const __m128i one = LoadRow16<Tail>(ends[k][0], lanes);
      const __m128i other = LoadRow16<Tail>(ends[k][1], lanes);
      const __m256i sum = _mm256_add_epi16(
          _mm256_cvtepu8_epi16(_mm_or_si128(_mm_subs_epu8(c, one), _mm_subs_epu8(one, c))),
          _mm256_cvtepu8_epi16(_mm_or_si128(_mm_subs_epu8(c, other), _mm_subs_epu8(other, c))));
      terms[k] = _mm512_cvtepu16_epi32(sum);
    }
  }
  VS_WIDE_CODE_END
#endif

  std::unique_ptr<int64_t[]> sums;  // four rows of w window sums: h, d1, v, d2
  std::unique_ptr<int32_t[]> narrowSums;  // the same in 32 bits, where they fit
  std::unique_ptr<uint32_t[]> totals;  // running totals of one channel (w + 2r + 2)
  int32_t width = 0;

  bool Allocate(int32_t w, int32_t radius) {
    width = w;
    sums.reset(new (std::nothrow) int64_t[static_cast<size_t>(w) * kChannels]);
    narrowSums.reset(new (std::nothrow) int32_t[static_cast<size_t>(w) * kChannels]);
    totals.reset(new (std::nothrow) uint32_t[static_cast<size_t>(w) + 2 * static_cast<size_t>(radius) + 2]());
    return sums != nullptr && narrowSums != nullptr && totals != nullptr;
  }

  template <typename Sum>
  void Row(const Sum* const* column, int32_t w, int32_t radius, uint8_t* orientation, uint8_t* reliability) const {
    // Windows whose sums stay below 2^31 even scaled by 71 (radius 121 and
    // less, with 32-bit column sums): running totals and 32-bit arithmetic.
    if constexpr (sizeof(Sum) == sizeof(int32_t)) {
      if (WindowFits(windowPixels, kLargestTerm * kDiagonalScale, 0)) {
        int32_t* channel[kChannels];
        for (int c = 0; c < kChannels; ++c) {
          int32_t* out = narrowSums.get() + static_cast<size_t>(c) * width;
          channel[c] = out;
#ifdef VS_WIDE_VECTORS
          if (level == SimdLevel::kAvx512) {
            ColumnTotals(column[c], w, radius, totals.get(), level);
            WindowsWide(totals.get(), w, radius, out, SumsAsTheyAre{});
            continue;
          }
#endif
          ColumnTotals(column[c], w, radius, totals.get(), level);
          int32_t x = 0;
#ifdef VS_PIXEL_ORIENTATION_SSE2
          for (; level != SimdLevel::kPlain && x + 4 <= w; x += 4) {
            StoreInts(out + x, WindowsFromTotals(totals.get(), x, radius));
          }
#endif
          for (; x < w; ++x) out[x] = WindowFromTotals(totals.get(), x, radius);
        }
        DifferenceOrientationRow(channel[0], channel[1], channel[2], channel[3], w, flatLimit, orientation,
                                 reliability, level);
        return;
      }
    }
    int64_t* channel[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      int64_t* out = sums.get() + static_cast<size_t>(c) * width;
      channel[c] = out;
      SlideAlongRow(column[c], w, radius, [out](int32_t x, int64_t sum) { out[x] = sum; });
    }
    Orient(channel, w, orientation, reliability);
  }

  template <typename Wide>
  void Orient(Wide* const* channel, int32_t w, uint8_t* orientation, uint8_t* reliability) const {
    for (int32_t x = 0; x < w; ++x) {
      const Wide h = channel[0][x];
      const Wide d1 = channel[1][x] * kDiagonalScale / kDiagonalScaleDivisor;
      const Wide v = channel[2][x];
      const Wide d2 = channel[3][x] * kDiagonalScale / kDiagonalScaleDivisor;
      const DifferenceOrientation result = OrientationFromDifferences(
          static_cast<int32_t>(h), static_cast<int32_t>(d1), static_cast<int32_t>(v), static_cast<int32_t>(d2));
      Wide largest = h;
      if (d1 > largest) largest = d1;
      if (v > largest) largest = v;
      if (d2 > largest) largest = d2;
      orientation[x] = result.orientation;
      if (reliability != nullptr) reliability[x] = largest <= flatLimit ? kReliabilityMax : result.ratio;
    }
  }
};

int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }

// Where the rows go: sink.Orientation(y) and sink.Reliability(y) (null: not
// wanted) give the rows to write, sink.Done(y) follows; entry rows through
// y + r + 1 have been read by then, so rows up to y may be overwritten.
template <typename Sum, typename Family, typename Sink>
int32_t StreamPixelOrientation(int32_t w, int32_t h, const uint8_t* const* scratch, Sink& sink, int32_t r,
                               Family& family) {
  constexpr int C = Family::kChannels;
  if (w <= 0 || h <= 0) return kOk;
  // A window reaching past every border already covers the whole image.
  const int32_t rowRadius = Smaller(r, h);
  const int32_t columnRadius = Smaller(r, w);

  // Entry rows y - r - 2 .. y + r + 1 are read while row y is written.
  RowRing ring;
  ColumnSums<C, Sum> columns;
  const bool allocated = ring.Allocate(w, Smaller(2 * rowRadius + kRingExtraRows, h)) &&
                         columns.Allocate(w, columnRadius + 1) && family.Allocate(w, columnRadius);
  if (!allocated) return kOutOfMemory;
  int32_t copied = 0;
  auto copyThrough = [&](int32_t last) {
    for (; copied <= last && copied < h; ++copied) {
      const uint8_t* source = scratch[copied];
      uint8_t* target = ring[copied];
      for (int32_t x = 0; x < w; ++x) target[x] = source[x];
    }
  };
  // Only rows 1..h-2 have gradients (columns 1..w-2 likewise).
  TermRows entering{}, leaving{};
  auto termRows = [&](int32_t e, TermRows& rows) {
    if (e < 1 || e > h - 2) return static_cast<const TermRows*>(nullptr);
    rows = TermRows{ring[e - 1], ring[e], ring[e + 1]};
    return static_cast<const TermRows*>(&rows);
  };

  copyThrough(rowRadius + 1);
  for (int32_t e = 0; e < rowRadius; ++e) UpdateColumns(family, termRows(e, entering), nullptr, w, columns);
  const Sum* column[C];
  for (int c = 0; c < C; ++c) column[c] = columns[c];
  for (int32_t y = 0; y < h; ++y) {
    copyThrough(y + rowRadius + 1);
    UpdateColumns(family, termRows(y + rowRadius, entering), termRows(y - rowRadius - 1, leaving), w, columns);

    family.Row(column, w, columnRadius, sink.Orientation(y), sink.Reliability(y));
    sink.Done(y);
  }
  return kOk;
}

// A column sum holds at most min(2r + 2, h) rows (the entering row is added
// before the leaving one is taken off); when that many of the largest term
// fit 32 bits (for gradients every radius up to 457) the sums are kept in 32
// bits, else in 64.
template <typename Family, typename Sink>
int32_t StreamWithFittingSums(int32_t w, int32_t h, const uint8_t* const* scratch, Sink& sink, int32_t r,
                              Family& family) {
  const int64_t columnRows = Smaller(2 * r + 2, h);
  if (columnRows * Family::kLargestTerm <= INT32_MAX) {
    return StreamPixelOrientation<int32_t>(w, h, scratch, sink, r, family);
  }
  return StreamPixelOrientation<int64_t>(w, h, scratch, sink, r, family);
}

// The stage's own output: orientation map and reliability over the scratch image.
struct ImageSink {
  uint8_t* const* orientationMap;
  uint8_t* const* scratch;
  uint8_t* Orientation(int32_t y) const { return orientationMap[y]; }
  uint8_t* Reliability(int32_t y) const { return scratch[y]; }
  void Done(int32_t) const {}
};

// Rows handed to an OrientationRows consumer from two row buffers.
struct ConsumerSink {
  OrientationRows& rows;
  std::unique_ptr<uint8_t[]> orientation;
  std::unique_ptr<uint8_t[]> reliability;  // null when not wanted

  uint8_t* Orientation(int32_t) const { return orientation.get(); }
  uint8_t* Reliability(int32_t) const { return reliability.get(); }
  void Done(int32_t y) { rows.Row(y, orientation.get(), reliability.get()); }
};

template <typename Family>
int32_t StreamToConsumer(int32_t w, int32_t h, const uint8_t* const* image, int32_t r, bool withReliability,
                         Family& family, OrientationRows& rows) {
  if (w <= 0 || h <= 0) return kOk;
  ConsumerSink sink{rows, std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[static_cast<size_t>(w)]), nullptr};
  if (withReliability) sink.reliability.reset(new (std::nothrow) uint8_t[static_cast<size_t>(w)]);
  if (sink.orientation == nullptr || (withReliability && sink.reliability == nullptr)) return kOutOfMemory;
  return StreamWithFittingSums(w, h, image, sink, r, family);
}

int32_t WindowRadius(uint32_t radius) {
  return static_cast<int32_t>(radius > kMaxWindowRadius ? kMaxWindowRadius : radius);
}

}  // namespace

int32_t GradientPixelOrientation(int32_t w, int32_t h, uint8_t* const* scratch, uint8_t* const* orientationMap,
                                 uint32_t radius, uint8_t gradientEnergyMin, SimdLevel level) {
  const int32_t r = WindowRadius(radius);
  const int32_t side = 2 * r + 1;
  GradientFamily family{WindowMean(side * side), gradientEnergyMin, level, nullptr, nullptr};
  ImageSink sink{orientationMap, scratch};
  return StreamWithFittingSums(w, h, scratch, sink, r, family);
}

int32_t DifferencePixelOrientation(int32_t w, int32_t h, uint8_t* const* scratch, uint8_t* const* orientationMap,
                                   uint32_t radius, uint8_t pixelFlatnessMax, SimdLevel level) {
  const int32_t r = WindowRadius(radius);
  const int64_t side = 2 * r + 1;
  DifferenceFamily family{side * side * pixelFlatnessMax * kFlatnessDifferences, side * side, level, nullptr, nullptr,
                          nullptr};
  ImageSink sink{orientationMap, scratch};
  return StreamWithFittingSums(w, h, scratch, sink, r, family);
}

int32_t StreamGradientOrientation(int32_t w, int32_t h, const uint8_t* const* image, uint32_t radius,
                                  bool withReliability, OrientationRows& rows) {
  const int32_t r = WindowRadius(radius);
  const int32_t side = 2 * r + 1;
  GradientFamily family{WindowMean(side * side), kNoReliabilityLimit, MachineSimdLevel(), nullptr, nullptr};
  return StreamToConsumer(w, h, image, r, withReliability, family, rows);
}

int32_t StreamDifferenceOrientation(int32_t w, int32_t h, const uint8_t* const* image, uint32_t radius,
                                    bool withReliability, OrientationRows& rows) {
  const int32_t r = WindowRadius(radius);
  const int64_t side = 2 * r + 1;
  DifferenceFamily family{int64_t{kNoReliabilityLimit}, side * side, MachineSimdLevel(), nullptr, nullptr, nullptr};
  return StreamToConsumer(w, h, image, r, withReliability, family, rows);
}

}  // namespace vorsensor
