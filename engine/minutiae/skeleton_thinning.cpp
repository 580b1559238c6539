// Thinning by table look-up. Each sub-pass reads every neighbourhood from the
// image as it stood when the sub-pass began, through a rolling copy of three
// rows; per-row flags let later iterations skip rows in which a sub-pass
// stopped removing pixels. Thin keeps the copies as bit rows and visits only
// ridge pixels; ThinPlain, the reference, tests every pixel of byte rows.
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

namespace vorsensor {

// Declared extern in the header; constexpr here so that the window tables
// below are built from it at compile time.
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

// Whether a neighbour value counts as ridge in the code.
inline uint32_t Bit(uint8_t value, int32_t k) { return value == kSkeletonRidge ? (1u << k) : 0u; }

// The plain row kernel: the code of every ridge pixel from its eight
// neighbours, looked up in the deletion table. Removes from `out` (row r of
// the image, equal to `row` when called) and returns the number removed.
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

// The fast sub-pass keeps the three rows as bit rows (bit c & 7 of byte
// c >> 3 set when pixel c is ridge), visits only the ridge pixels of the
// centre row, and reads each 3 x 3 window as a 9-bit index (three bits of the
// row above, of the row, of the row below, left to right) in a table per
// sub-pass built from the deletion table.
constexpr int32_t kWindowBits = 9;
constexpr uint32_t kWindowCount = 1u << kWindowBits;
constexpr int32_t kRowBits = 3;           // bits of one row in the index
constexpr uint32_t kThreeBits = 7;
constexpr int32_t kBitRowPadding = 8;     // bytes past a bit row's end, read whole and always 0
constexpr int32_t kBitsPerByte = 8;
constexpr int32_t kBytesPerWord = 8;

struct WindowTables {
  uint8_t remove[kSubPasses][kWindowCount];
};

constexpr WindowTables MakeWindowTables() {
  // Ring bit of each index bit: above (NW, N, NE), row (W, centre, E), below (SW, S, SE).
  constexpr int32_t kRingBitOf[kWindowBits] = {7, 0, 1, 6, -1, 2, 5, 4, 3};
  constexpr uint32_t kCentre = 1u << 4;
  WindowTables tables{};
  for (uint32_t window = 0; window < kWindowCount; ++window) {
    if ((window & kCentre) == 0) continue;
    uint32_t code = 0;
    for (int32_t k = 0; k < kWindowBits; ++k) {
      if (kRingBitOf[k] >= 0 && (window & (1u << k)) != 0) code |= 1u << kRingBitOf[k];
    }
    const uint32_t turned = ((code >> kHalfRing) | (code << kHalfRing)) & kCodeMask;
    tables.remove[0][window] = kDeletionTable[code];
    tables.remove[1][window] = kDeletionTable[turned];
  }
  return tables;
}

constexpr WindowTables kWindowTables = MakeWindowTables();
constexpr uint32_t kByteMask = 0xFF;

// Whether no window whose centre and four edge neighbours (N, W, E, S) are
// ridge removes its centre, in either sub-pass.
constexpr bool EdgeSurroundedStay() {
  constexpr uint32_t kCross = (1u << 1) | (1u << 3) | (1u << 4) | (1u << 5) | (1u << 7);
  for (uint32_t window = 0; window < kWindowCount; ++window) {
    if ((window & kCross) != kCross) continue;
    if (kWindowTables.remove[0][window] != 0 || kWindowTables.remove[1][window] != 0) return false;
  }
  return true;
}
static_assert(EdgeSurroundedStay(), "the fast kernel passes over pixels with four ridge edge neighbours");

int32_t BitRowBytes(int32_t w) { return (w + kBitsPerByte - 1) / kBitsPerByte + kBitRowPadding; }

// The bit row of an image row; bytes past the row's last pixel stay 0.
void BuildBitRow(const uint8_t* row, int32_t w, uint8_t* bits) {
  int32_t c = 0;
#if VS_THIN_SSE2
  constexpr int32_t kBlock = 16;
  const __m128i ridge = _mm_set1_epi8(static_cast<char>(kSkeletonRidge));
  for (; c + kBlock <= w; c += kBlock) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c));
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(pixels, ridge)));
    bits[c / kBitsPerByte] = static_cast<uint8_t>(mask);
    bits[c / kBitsPerByte + 1] = static_cast<uint8_t>(mask >> kBitsPerByte);
  }
#endif
  for (; c < w; c += kBitsPerByte) {
    const int32_t n = w - c < kBitsPerByte ? w - c : kBitsPerByte;
    uint32_t byte = 0;
    for (int32_t k = 0; k < n; ++k) byte |= static_cast<uint32_t>(row[c + k] == kSkeletonRidge) << k;
    bits[c / kBitsPerByte] = static_cast<uint8_t>(byte);
  }
}

// Pixels c-1, c and c+1 of a bit row in bits 0..2 (c at least 1).
inline uint32_t ThreeBits(const uint8_t* bits, int32_t c) {
  const int32_t first = c - 1;
  const uint8_t* at = bits + first / kBitsPerByte;
  const uint32_t pair = static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << kBitsPerByte;
  return (pair >> (first % kBitsPerByte)) & kThreeBits;
}

inline int32_t LowestBit(uint32_t bits) {
#if defined(__GNUC__)
  return __builtin_ctz(bits);
#else
  int32_t k = 0;
  while ((bits & 1u) == 0) {
    bits >>= 1;
    ++k;
  }
  return k;
#endif
}

int64_t ThinRowFast(int32_t w, const uint8_t* above, const uint8_t* row, const uint8_t* below, uint8_t* out,
                    const uint8_t* table) {
  int64_t removed = 0;
  const int32_t bytes = (w + kBitsPerByte - 1) / kBitsPerByte;
  for (int32_t i = 0; i < bytes; ++i) {
    if (i % kBytesPerWord == 0) {
      // Eight bytes (64 pixels) without ridge are passed over at once.
      uint64_t word = 0;
      for (int32_t k = 0; k < kBytesPerWord; ++k) word |= row[i + k];
      if (word == 0) {
        i += kBytesPerWord - 1;
        continue;
      }
    }
    // No deletable pattern has all four edge neighbours ridge (checked below
    // at compile time), so such pixels are not looked up.
    const uint32_t west = (static_cast<uint32_t>(row[i]) << 1 | (i > 0 ? row[i - 1] >> (kBitsPerByte - 1) : 0u)) &
                          kByteMask;
    const uint32_t east = (static_cast<uint32_t>(row[i]) >> 1 | static_cast<uint32_t>(row[i + 1]) << (kBitsPerByte - 1)) &
                          kByteMask;
    uint32_t centres = row[i] & ~(above[i] & below[i] & west & east) & kByteMask;
    while (centres != 0) {
      const int32_t c = i * kBitsPerByte + LowestBit(centres);
      centres &= centres - 1;
      if (c < 1 || c > w - 2) continue;
      const uint32_t window = ThreeBits(above, c) | ThreeBits(row, c) << kRowBits | ThreeBits(below, c) << (2 * kRowBits);
      if (table[window] != 0) {
        out[c] = kSkeletonOther;
        ++removed;
      }
    }
  }
  return removed;
}

// One sub-pass over rows 1..h-2; `flags` holds the sub-pass's row flags.
// Returns the number of pixels removed. `copies` holds three byte rows (the
// plain kernel) or three bit rows.
int64_t ThinSubPass(int32_t w, int32_t h, uint8_t* const* image, int32_t subPass, uint8_t* flags, uint8_t* copies,
                    bool plain) {
  const size_t size = static_cast<size_t>(plain ? w : BitRowBytes(w));
  auto copyOf = [&](int32_t row) { return copies + static_cast<size_t>(row % kCopyRows) * size; };
  auto take = [&](int32_t row) {
    if (plain) {
      std::memcpy(copyOf(row), image[row], size);
    } else {
      BuildBitRow(image[row], w, copyOf(row));
    }
  };
  take(0);
  take(1);
  int64_t removed = 0;
  for (int32_t r = 1; r <= h - 2; ++r) {
    take(r + 1);
    if (flags[r] != kRowUnsettled) continue;
    const int64_t rowRemoved =
        plain ? ThinRowPlain(w, copyOf(r - 1), copyOf(r), copyOf(r + 1), image[r], subPass)
              : ThinRowFast(w, copyOf(r - 1), copyOf(r), copyOf(r + 1), image[r], kWindowTables.remove[subPass]);
    flags[r] = rowRemoved != 0 ? kRowUnsettled : kRowSettled;
    removed += rowRemoved;
  }
  return removed;
}

int32_t ThinWith(int32_t w, int32_t h, uint8_t* const* image, int32_t maxIterations, bool plain) {
  if (w < 3 || h < 3 || maxIterations <= 0) return kOk;
  const size_t width = static_cast<size_t>(w);
  const size_t rows = static_cast<size_t>(h);
  const size_t rowSize = plain ? width : static_cast<size_t>(BitRowBytes(w));
  std::unique_ptr<uint8_t[]> copies(new (std::nothrow) uint8_t[kCopyRows * rowSize]());
  std::unique_ptr<uint8_t[]> flags(new (std::nothrow) uint8_t[kSubPasses * rows]());
  if (copies == nullptr || flags == nullptr) return kOutOfMemory;
  for (int32_t iteration = 0; iteration < maxIterations; ++iteration) {
    int64_t removed = 0;
    for (int32_t subPass = 0; subPass < kSubPasses; ++subPass) {
      removed += ThinSubPass(w, h, image, subPass, flags.get() + static_cast<size_t>(subPass) * rows, copies.get(),
                             plain);
    }
    if (removed == 0) break;
  }
  return kOk;
}

}  // namespace

int32_t Thin(int32_t w, int32_t h, uint8_t* const* image, int32_t maxIterations) {
  return ThinWith(w, h, image, maxIterations, false);
}

int32_t ThinPlain(int32_t w, int32_t h, uint8_t* const* image, int32_t maxIterations) {
  return ThinWith(w, h, image, maxIterations, true);
}

}  // namespace vorsensor
