// Thinning. Each sub-pass reads every neighbourhood from the image as it
// stood when the sub-pass began; per-row flags let later iterations skip rows
// in which a sub-pass stopped removing pixels.
//
// ThinPlain, the reference, looks each ridge pixel's code up in the deletion
// table through a rolling copy of three byte rows. Thin works on a bit plane
// of the whole image (a set bit for each ridge pixel) and decides 64 pixels
// at a time: the table, written as a boolean function of the eight
// neighbours, is evaluated on whole words. As a sub-pass reads only the state
// before it, it maps one plane to the next; only the pixels it removed are
// written back to the image at the end.
#include "engine/minutiae/skeleton_thinning.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/minutiae/tracing_primitives.h"
#include "engine/result_codes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define VS_THIN_SSE2 1
#else
#define VS_THIN_SSE2 0
#endif
#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

#if defined(__GNUC__)
#define VS_THIN_INLINE [[gnu::always_inline]] inline
#else
#define VS_THIN_INLINE inline
#endif

namespace vorsensor {

// Declared extern in the header; constexpr here so that the word function
// below is checked against it at compile time.
// clang-format off
constexpr uint8_t kDeletionTable[256] = {
  // 0 .. 63: 7, 14, 15, 28, 30, 31, 56, 60, 62, 63
  0,0,0,0,0,0,0,1, 0,0,0,0,0,0,1,1, 0,0,0,0,0,0,0,0, 0,0,0,0,1,0,1,1,
  0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0, 1,0,0,0,1,0,1,1,
  // 64 .. 127: 67, 88, 97, 99, 112, 120, 124, 126
  0,0,0,1,0,0,0,0, 0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0, 1,0,0,0,0,0,0,0,
  0,1,0,1,0,0,0,0, 0,0,0,0,0,0,0,0, 1,0,0,0,0,0,0,0, 1,0,0,0,1,0,1,0,
  // 128 .. 191: 131, 135, 143, 159, 191
  0,0,0,1,0,0,0,1, 0,0,0,0,0,0,0,1, 0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,1,
  0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,1,
  // 192 .. 255: 193, 195, 208, 216, 224, 225, 227, 240, 248, 252, 254
  0,1,0,1,0,0,0,0, 0,0,0,0,0,0,0,0, 1,0,0,0,0,0,0,0, 1,0,0,0,0,0,0,0,
  1,1,0,1,0,0,0,0, 0,0,0,0,0,0,0,0, 1,0,0,0,0,0,0,0, 1,0,0,0,1,0,1,0,
};
// clang-format on

namespace {

constexpr int32_t kSubPasses = 2;
constexpr int32_t kCopyRows = 3;  // rows r-1, r and r+1 as they stood
constexpr uint32_t kHalfRing = 4;   // neighbours in half a turn
constexpr uint32_t kCodeMask = 0xFF;

constexpr uint8_t kRowUnsettled = 0;  // the sub-pass visits the row
constexpr uint8_t kRowSettled = 1;    // the sub-pass removed nothing there last time

// ---------------------------------------------------------------------------
// The plain reference.

// Whether a neighbour value counts as ridge in the code.
inline uint32_t Bit(uint8_t value, int32_t k) { return value == kSkeletonRidge ? (1u << k) : 0u; }

// The code of every ridge pixel from its eight neighbours, looked up in the
// deletion table. Removes from `out` (row r of the image, equal to `row` when
// called) and returns the number removed.
int64_t ThinRowPlain(int32_t w, const uint8_t* above, const uint8_t* row, const uint8_t* below, uint8_t* out,
                     int32_t subPass) {
  int64_t removed = 0;
  for (int32_t c = 1; c <= w - 2; ++c) {
    if (row[c] != kSkeletonRidge) continue;
    // Bits in ring order N, NE, E, SE, S, SW, W, NW.
    uint32_t code = Bit(above[c], 0) | Bit(above[c + 1], 1) | Bit(row[c + 1], 2) | Bit(below[c + 1], 3) |
                    Bit(below[c], 4) | Bit(below[c - 1], 5) | Bit(row[c - 1], 6) | Bit(above[c - 1], 7);
    // The second sub-pass starts the same order half a turn later, at S.
    if (subPass != 0) code = ((code >> kHalfRing) | (code << kHalfRing)) & kCodeMask;
    if (kDeletionTable[code] != 0) {
      out[c] = kSkeletonOther;
      ++removed;
    }
  }
  return removed;
}

// One sub-pass over rows 1..h-2; `flags` holds the sub-pass's row flags and
// `copies` three rows of w bytes. Returns the number of pixels removed.
int64_t ThinSubPassPlain(int32_t w, int32_t h, uint8_t* const* image, int32_t subPass, uint8_t* flags,
                         uint8_t* copies) {
  const size_t size = static_cast<size_t>(w);
  auto copyOf = [&](int32_t row) { return copies + static_cast<size_t>(row % kCopyRows) * size; };
  std::memcpy(copyOf(0), image[0], size);
  std::memcpy(copyOf(1), image[1], size);
  int64_t removed = 0;
  for (int32_t r = 1; r <= h - 2; ++r) {
    std::memcpy(copyOf(r + 1), image[r + 1], size);
    if (flags[r] != kRowUnsettled) continue;
    const int64_t rowRemoved = ThinRowPlain(w, copyOf(r - 1), copyOf(r), copyOf(r + 1), image[r], subPass);
    flags[r] = rowRemoved != 0 ? kRowUnsettled : kRowSettled;
    removed += rowRemoved;
  }
  return removed;
}

// ---------------------------------------------------------------------------
// The bit plane kernel.

// Whether the centre goes, for every bit position at once: each argument
// holds one neighbour (set = ridge), named as in the first sub-pass's code.
// Five groups of product terms cover the 34 deletable codes; the check below
// evaluates it on all 256 codes against the table. V is a 64-bit word or a
// vector of them.
template <typename V>
VS_THIN_INLINE constexpr void Deletable(const V& n, const V& ne, const V& e, const V& se, const V& s, const V& sw,
                                        const V& w, const V& nw, V* out) {
  const V noneNorthEast = ~(n | ne | e);
  const V southWest = noneNorthEast & w & ((~se & sw & nw) | (s & (se | sw | nw)));
  const V southEast = ~n & se & s & ((~ne & sw & ~nw) | (e & sw & w) | (e & ~(w | nw)));
  const V northWest = n & ~(e | se | s) & ((ne & (w | (~sw & nw))) | (w & (sw | nw)));
  const V northEast = n & ne & e & ~w & ((se & s) | ~(s | sw));
  const V east = ne & e & se & ~(sw | w | nw);
  *out = southWest | southEast | northWest | northEast | east;
}

constexpr int32_t kCodes = 256;
constexpr int32_t kWordBits = 64;

constexpr bool DeletableMatchesTable() {
  // Bit b of neighbour k's word is bit k of the code 64 q + b.
  for (int32_t q = 0; q < kCodes / kWordBits; ++q) {
    uint64_t neighbour[kRingSize] = {};
    for (int32_t b = 0; b < kWordBits; ++b) {
      for (int32_t k = 0; k < kRingSize; ++k) {
        if (((q * kWordBits + b) >> k & 1) != 0) neighbour[k] |= uint64_t{1} << b;
      }
    }
    uint64_t removed = 0;
    Deletable(neighbour[0], neighbour[1], neighbour[2], neighbour[3], neighbour[4], neighbour[5], neighbour[6],
              neighbour[7], &removed);
    for (int32_t b = 0; b < kWordBits; ++b) {
      if ((removed >> b & 1) != kDeletionTable[q * kWordBits + b]) return false;
    }
  }
  return true;
}
static_assert(DeletableMatchesTable(), "the word function removes exactly the table's codes");

// The bits removed from the centre word `row[1]`, given the words of the same
// 64 columns in the rows above and below and of the word columns to the
// left ([0]) and right ([2]). Bit b of a word is the b-th of its 64 pixels,
// so the east neighbour of bit b is bit b + 1.
template <int32_t kSubPass, typename V>
VS_THIN_INLINE void RemovedBits(const V (&above)[3], const V (&row)[3], const V (&below)[3], V* out) {
  constexpr int32_t kLast = kWordBits - 1;
  const V ne = (above[1] >> 1) | (above[2] << kLast);
  const V nw = (above[1] << 1) | (above[0] >> kLast);
  const V e = (row[1] >> 1) | (row[2] << kLast);
  const V w = (row[1] << 1) | (row[0] >> kLast);
  const V se = (below[1] >> 1) | (below[2] << kLast);
  const V sw = (below[1] << 1) | (below[0] >> kLast);
  V removed{};
  if (kSubPass == 0) {
    Deletable(above[1], ne, e, se, below[1], sw, w, nw, &removed);
  } else {
    // The second sub-pass reads the same ring half a turn later.
    Deletable(below[1], sw, w, nw, above[1], ne, e, se, &removed);
  }
  *out = row[1] & removed;
}

// The image as bit planes in column order: word column k (1..columns) holds
// pixels 64 (k - 1) .. 64 k - 1, columns 0 and columns + 1 stay 0, so that
// every word has both neighbours. Within a column, entry r + 1 is row r;
// entry 0 and the entries past row h - 1 stay 0. The flags are padded the
// same way (rows 0, h - 1 and past it are never visited).
constexpr int32_t kBlockRows = 8;  // rows the wide kernel decides at once
constexpr int32_t kFirstPlaneRow = 1;
constexpr int32_t kPlaneCount = 3;  // the start, the current and the next state

struct Plane {
  int32_t columns;
  int32_t blocks;  // row blocks of kBlockRows rows
  size_t stride;   // words per column
  size_t words;    // words per plane
};

Plane PlaneOf(int32_t w, int32_t h) {
  Plane p;
  p.columns = (w + kWordBits - 1) / kWordBits;
  p.blocks = (h + kBlockRows - 1) / kBlockRows;
  // One zero row above, and room below the last block for the rows under it.
  p.stride = static_cast<size_t>(p.blocks) * kBlockRows + 2 * kBlockRows;
  p.words = static_cast<size_t>(p.columns + 2) * p.stride;
  return p;
}

inline size_t At(const Plane& p, int32_t column, int32_t row) {
  return static_cast<size_t>(column) * p.stride + static_cast<size_t>(row + kFirstPlaneRow);
}

// Pixels 1..w-2 of word column k.
uint64_t ColumnMask(int32_t w, int32_t k) {
  uint64_t mask = 0;
  const int32_t first = (k - 1) * kWordBits;
  for (int32_t b = 0; b < kWordBits; ++b) {
    const int32_t c = first + b;
    if (c >= 1 && c <= w - 2) mask |= uint64_t{1} << b;
  }
  return mask;
}

// The ridge bits of pixels c..c+n-1 of a row (n at most 64).
uint64_t RidgeWord(const uint8_t* row, int32_t c, int32_t n) {
  uint64_t bits = 0;
  int32_t b = 0;
#if VS_THIN_SSE2
  constexpr int32_t kBlock = 16;
  const __m128i ridge = _mm_set1_epi8(static_cast<char>(kSkeletonRidge));
  for (; b + kBlock <= n; b += kBlock) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c + b));
    const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(pixels, ridge)));
    bits |= uint64_t{mask} << b;
  }
#endif
  for (; b < n; ++b) bits |= static_cast<uint64_t>(row[c + b] == kSkeletonRidge) << b;
  return bits;
}

constexpr int32_t kBitsPerByte = 8;
constexpr uint32_t kByteMask = 0xFF;

// For each byte value, eight bytes of 0xFF where its bits are set.
struct ByteSpreads {
  uint64_t spread[kByteMask + 1];
};
constexpr ByteSpreads MakeByteSpreads() {
  ByteSpreads t{};
  for (uint32_t v = 0; v <= kByteMask; ++v) {
    for (int32_t b = 0; b < kBitsPerByte; ++b) {
      if ((v >> b & 1) != 0) t.spread[v] |= uint64_t{kByteMask} << (kBitsPerByte * b);
    }
  }
  return t;
}
constexpr ByteSpreads kByteSpreads = MakeByteSpreads();

// Sets pixels c + b of a w-pixel row to 255 for every bit b of `removed`.
// Removed pixels were 0, so OR-ing 0xFF into them gives 255 and leaves the
// other bytes as they are.
void WriteRemoved(uint8_t* row, int32_t c, int32_t w, uint64_t removed) {
  for (int32_t b = 0; removed != 0; b += kBitsPerByte, removed >>= kBitsPerByte) {
    const auto byte = static_cast<uint32_t>(removed & kByteMask);
    if (byte == 0) continue;
    if (c + b + kBitsPerByte <= w) {
      uint64_t pixels;
      std::memcpy(&pixels, row + c + b, sizeof pixels);
      pixels |= kByteSpreads.spread[byte];
      std::memcpy(row + c + b, &pixels, sizeof pixels);
    } else {
      for (int32_t k = 0; k < kBitsPerByte; ++k) {
        if ((byte >> k & 1) != 0) row[c + b + k] = kSkeletonOther;
      }
    }
  }
}

// One sub-pass from `from` to `to` (a copy of it on entry), word by word.
// Returns true when it removed a pixel.
template <int32_t kSubPass>
bool SubPassWords(const Plane& p, int32_t h, const uint64_t* columnMask, const uint64_t* from, uint64_t* to,
                  uint8_t* flags) {
  bool any = false;
  const auto stride = static_cast<ptrdiff_t>(p.stride);
  for (int32_t r = 1; r <= h - 2; ++r) {
    if (flags[r] != kRowUnsettled) continue;
    uint64_t rowRemoved = 0;
    for (int32_t k = 1; k <= p.columns; ++k) {
      const uint64_t* c = from + At(p, k, r);
      if (*c == 0) continue;
      const uint64_t above[3] = {c[-stride - 1], c[-1], c[stride - 1]};
      const uint64_t row[3] = {c[-stride], c[0], c[stride]};
      const uint64_t below[3] = {c[-stride + 1], c[1], c[stride + 1]};
      uint64_t removed = 0;
      RemovedBits<kSubPass>(above, row, below, &removed);
      removed &= columnMask[k];
      to[At(p, k, r)] = c[0] & ~removed;
      rowRemoved |= removed;
    }
    flags[r] = rowRemoved != 0 ? kRowUnsettled : kRowSettled;
    any = any || rowRemoved != 0;
  }
  return any;
}

#if VS_THIN_SSE2 && defined(__GNUC__)
#define VS_THIN_PAIRS 1
// Two words, one per row of a pair of rows.
typedef uint64_t PairWords __attribute__((vector_size(16)));

inline PairWords LoadPair(const uint64_t* at) {
  return PairWords(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
}

// SubPassWords on pairs of rows (the SSE2 level): both rows of a pair share
// every word operation; a row whose flag is set keeps its words.
template <int32_t kSubPass>
bool SubPassPairs(const Plane& p, const uint64_t* columnMask, const uint64_t* from, uint64_t* to, uint8_t* flags) {
  constexpr uint64_t kAll = ~uint64_t{0};
  bool any = false;
  const auto stride = static_cast<ptrdiff_t>(p.stride);
  const int32_t rows = p.blocks * kBlockRows;
  for (int32_t r0 = 0; r0 < rows; r0 += 2) {
    const bool visitFirst = flags[r0] == kRowUnsettled, visitSecond = flags[r0 + 1] == kRowUnsettled;
    if (!visitFirst && !visitSecond) continue;
    const PairWords visit = {visitFirst ? kAll : 0, visitSecond ? kAll : 0};
    const uint64_t* c = from + At(p, 0, r0);
    PairWords above[3] = {PairWords{}, LoadPair(c - 1), LoadPair(c + stride - 1)};
    PairWords row[3] = {PairWords{}, LoadPair(c), LoadPair(c + stride)};
    PairWords below[3] = {PairWords{}, LoadPair(c + 1), LoadPair(c + stride + 1)};
    PairWords pairRemoved{};
    for (int32_t k = 1; k <= p.columns; ++k) {
      for (int32_t i = 0; i < 2; ++i) {
        above[i] = above[i + 1];
        row[i] = row[i + 1];
        below[i] = below[i + 1];
      }
      c += stride;
      above[2] = LoadPair(c + stride - 1);
      row[2] = LoadPair(c + stride);
      below[2] = LoadPair(c + stride + 1);
      if ((row[1][0] | row[1][1]) == 0) continue;
      PairWords removed;
      RemovedBits<kSubPass>(above, row, below, &removed);
      removed &= visit & PairWords{columnMask[k], columnMask[k]};
      const PairWords kept = row[1] & ~removed;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + At(p, k, r0)), __m128i(kept));
      pairRemoved |= removed;
    }
    if (visitFirst) flags[r0] = pairRemoved[0] != 0 ? kRowUnsettled : kRowSettled;
    if (visitSecond) flags[r0 + 1] = pairRemoved[1] != 0 ? kRowUnsettled : kRowSettled;
    any = any || (pairRemoved[0] | pairRemoved[1]) != 0;
  }
  return any;
}
#endif

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN

// Eight words, one per row of a block, as the operators of Deletable take them.
typedef uint64_t BlockWords __attribute__((vector_size(64)));

VS_AVX512 inline BlockWords LoadBlock(const uint64_t* at) { return BlockWords(_mm512_loadu_si512(at)); }

// SubPassWords on blocks of eight rows: a block's rows share every word
// operation; rows whose flag is set keep their words.
template <int32_t kSubPass>
VS_AVX512 bool SubPassBlocks(const Plane& p, const uint64_t* columnMask, const uint64_t* from, uint64_t* to,
                             uint8_t* flags) {
  bool any = false;
  const auto stride = static_cast<ptrdiff_t>(p.stride);
  const __m128i unsettled = _mm_set1_epi8(static_cast<char>(kRowUnsettled));
  for (int32_t b = 0; b < p.blocks; ++b) {
    const int32_t r0 = b * kBlockRows;
    const __mmask8 visit =
        _mm_cmpeq_epi8_mask(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(flags + r0)), unsettled);
    if (visit == 0) continue;
    const uint64_t* c = from + At(p, 0, r0);
    BlockWords above[3] = {BlockWords{}, LoadBlock(c - 1), LoadBlock(c + stride - 1)};
    BlockWords row[3] = {BlockWords{}, LoadBlock(c), LoadBlock(c + stride)};
    BlockWords below[3] = {BlockWords{}, LoadBlock(c + 1), LoadBlock(c + stride + 1)};
    __m512i blockRemoved = _mm512_setzero_si512();
    for (int32_t k = 1; k <= p.columns; ++k) {
      for (int32_t i = 0; i < 2; ++i) {
        above[i] = above[i + 1];
        row[i] = row[i + 1];
        below[i] = below[i + 1];
      }
      c += stride;
      above[2] = LoadBlock(c + stride - 1);
      row[2] = LoadBlock(c + stride);
      below[2] = LoadBlock(c + stride + 1);
      BlockWords bits;
      RemovedBits<kSubPass>(above, row, below, &bits);
      const __m512i removed =
          _mm512_maskz_and_epi64(visit, __m512i(bits), _mm512_set1_epi64(static_cast<int64_t>(columnMask[k])));
      _mm512_storeu_si512(to + At(p, k, r0), _mm512_andnot_si512(removed, __m512i(row[1])));
      blockRemoved = _mm512_or_si512(blockRemoved, removed);
    }
    const __mmask8 removedRows = _mm512_test_epi64_mask(blockRemoved, blockRemoved);
    for (int32_t i = 0; i < kBlockRows; ++i) {
      if ((visit >> i & 1) != 0) flags[r0 + i] = (removedRows >> i & 1) != 0 ? kRowUnsettled : kRowSettled;
    }
    any = any || removedRows != 0;
  }
  return any;
}

// The ridge bits of the whole image into `plane`, with masked byte loads.
VS_AVX512 void FillPlaneWide(const Plane& p, int32_t w, int32_t h, const uint8_t* const* image, uint64_t* plane) {
  const __m512i ridge = _mm512_set1_epi8(static_cast<char>(kSkeletonRidge));
  for (int32_t r = 0; r < h; ++r) {
    for (int32_t k = 1; k <= p.columns; ++k) {
      const int32_t c = (k - 1) * kWordBits;
      const int32_t n = w - c < kWordBits ? w - c : kWordBits;
      const __mmask64 inside = n == kWordBits ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
      const __m512i pixels = _mm512_maskz_loadu_epi8(inside, image[r] + c);
      plane[At(p, k, r)] = _mm512_mask_cmpeq_epi8_mask(inside, pixels, ridge);
    }
  }
}

// Sets the pixels set in `start` and clear in `end` to 255, by masked stores.
VS_AVX512 void WriteBackWide(const Plane& p, int32_t h, const uint64_t* start, const uint64_t* end,
                             uint8_t* const* image) {
  const __m512i other = _mm512_set1_epi8(static_cast<char>(kSkeletonOther));
  for (int32_t r = 1; r <= h - 2; ++r) {
    for (int32_t k = 1; k <= p.columns; ++k) {
      const uint64_t removed = start[At(p, k, r)] & ~end[At(p, k, r)];
      if (removed != 0) _mm512_mask_storeu_epi8(image[r] + (k - 1) * kWordBits, removed, other);
    }
  }
}

VS_WIDE_CODE_END
#endif

int32_t ThinBits(int32_t w, int32_t h, uint8_t* const* image, int32_t maxIterations, SimdLevel level) {
  const Plane p = PlaneOf(w, h);
  const size_t flagRows = static_cast<size_t>(p.blocks) * kBlockRows;
  std::unique_ptr<uint64_t[]> planes(new (std::nothrow) uint64_t[kPlaneCount * p.words]());
  std::unique_ptr<uint64_t[]> columnMask(new (std::nothrow) uint64_t[static_cast<size_t>(p.columns) + 1]);
  std::unique_ptr<uint8_t[]> flags(new (std::nothrow) uint8_t[kSubPasses * flagRows]);
  if (planes == nullptr || columnMask == nullptr || flags == nullptr) return kOutOfMemory;
  for (int32_t k = 1; k <= p.columns; ++k) columnMask[k] = ColumnMask(w, k);
  // Rows 0, h - 1 and the padding are never visited.
  for (int32_t s = 0; s < kSubPasses; ++s) {
    uint8_t* f = flags.get() + static_cast<size_t>(s) * flagRows;
    for (size_t r = 0; r < flagRows; ++r) {
      f[r] = r >= 1 && r <= static_cast<size_t>(h) - 2 ? kRowUnsettled : kRowSettled;
    }
  }
  [[maybe_unused]] const bool wide = level == SimdLevel::kAvx512;
  uint64_t* start = planes.get();
  uint64_t* current = start + p.words;
  uint64_t* next = current + p.words;
#ifdef VS_WIDE_VECTORS
  if (wide) {
    FillPlaneWide(p, w, h, image, start);
  } else
#endif
  {
    for (int32_t r = 0; r < h; ++r) {
      for (int32_t k = 1; k <= p.columns; ++k) {
        const int32_t c = (k - 1) * kWordBits;
        start[At(p, k, r)] = RidgeWord(image[r], c, w - c < kWordBits ? w - c : kWordBits);
      }
    }
  }
  std::memcpy(current, start, p.words * sizeof(uint64_t));
  for (int32_t iteration = 0; iteration < maxIterations; ++iteration) {
    bool removed = false;
    for (int32_t s = 0; s < kSubPasses; ++s) {
      uint8_t* f = flags.get() + static_cast<size_t>(s) * flagRows;
      std::memcpy(next, current, p.words * sizeof(uint64_t));
      bool any;
#ifdef VS_WIDE_VECTORS
      if (wide) {
        any = s == 0 ? SubPassBlocks<0>(p, columnMask.get(), current, next, f)
                     : SubPassBlocks<1>(p, columnMask.get(), current, next, f);
      } else
#endif
#ifdef VS_THIN_PAIRS
      if (level == SimdLevel::kSse2) {
        any = s == 0 ? SubPassPairs<0>(p, columnMask.get(), current, next, f)
                     : SubPassPairs<1>(p, columnMask.get(), current, next, f);
      } else
#endif
      {
        any = s == 0 ? SubPassWords<0>(p, h, columnMask.get(), current, next, f)
                     : SubPassWords<1>(p, h, columnMask.get(), current, next, f);
      }
      removed = removed || any;
      std::swap(current, next);
    }
    if (!removed) break;
  }
#ifdef VS_WIDE_VECTORS
  if (wide) {
    WriteBackWide(p, h, start, current, image);
    return kOk;
  }
#endif
  for (int32_t r = 1; r <= h - 2; ++r) {
    for (int32_t k = 1; k <= p.columns; ++k) {
      WriteRemoved(image[r], (k - 1) * kWordBits, w, start[At(p, k, r)] & ~current[At(p, k, r)]);
    }
  }
  return kOk;
}

}  // namespace

int32_t Thin(int32_t w, int32_t h, uint8_t* const* image, int32_t maxIterations, SimdLevel level) {
  if (w < 3 || h < 3 || maxIterations <= 0) return kOk;
  return ThinBits(w, h, image, maxIterations, level);
}

int32_t ThinPlain(int32_t w, int32_t h, uint8_t* const* image, int32_t maxIterations) {
  if (w < 3 || h < 3 || maxIterations <= 0) return kOk;
  const size_t rows = static_cast<size_t>(h);
  std::unique_ptr<uint8_t[]> copies(new (std::nothrow) uint8_t[kCopyRows * static_cast<size_t>(w)]());
  std::unique_ptr<uint8_t[]> flags(new (std::nothrow) uint8_t[kSubPasses * rows]());
  if (copies == nullptr || flags == nullptr) return kOutOfMemory;
  for (int32_t iteration = 0; iteration < maxIterations; ++iteration) {
    int64_t removed = 0;
    for (int32_t subPass = 0; subPass < kSubPasses; ++subPass) {
      removed += ThinSubPassPlain(w, h, image, subPass, flags.get() + static_cast<size_t>(subPass) * rows,
                                  copies.get());
    }
    if (removed == 0) break;
  }
  return kOk;
}

}  // namespace vorsensor
