// Thinning by table look-up. Each sub-pass reads every neighbourhood from the
// image as it stood when the sub-pass began, through a rolling copy of three
// rows; per-row flags let later iterations skip rows in which a sub-pass
// stopped removing pixels.
#include "engine/minutiae/skeleton_thinning.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/minutiae/tracing_primitives.h"
#include "engine/result_codes.h"

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

// The fast row kernel reads each 3 x 3 window as a 9-bit index, three bits
// (above, row, below) per column from left to right, so that moving one pixel
// on is a shift and one new column; a table per sub-pass gives 0xFF for the
// windows whose centre is removed, which is or-ed into the pixel. Runs of
// eight centres without a ridge pixel are passed over whole.
constexpr int32_t kColumnBits = 3;
constexpr uint32_t kWindowCount = 1u << (3 * kColumnBits);
constexpr uint32_t kCentreBit = 1u << (kColumnBits + 1);
constexpr uint8_t kRemove = 0xFF;
constexpr int32_t kSkipRun = 8;

struct WindowTables {
  uint8_t remove[kSubPasses][kWindowCount];
};

constexpr WindowTables MakeWindowTables() {
  // Ring bit of each window bit: column c-1 (NW, W, SW), column c (N, centre, S), column c+1 (NE, E, SE).
  constexpr int32_t kRingBitOf[9] = {7, 6, 5, 0, -1, 4, 1, 2, 3};
  WindowTables tables{};
  for (uint32_t window = 0; window < kWindowCount; ++window) {
    if ((window & kCentreBit) == 0) continue;
    uint32_t code = 0;
    for (int32_t k = 0; k < 9; ++k) {
      if (kRingBitOf[k] >= 0 && (window & (1u << k)) != 0) code |= 1u << kRingBitOf[k];
    }
    const uint32_t turned = ((code >> kHalfRing) | (code << kHalfRing)) & kCodeMask;
    tables.remove[0][window] = kDeletionTable[code] != 0 ? kRemove : 0;
    tables.remove[1][window] = kDeletionTable[turned] != 0 ? kRemove : 0;
  }
  return tables;
}

inline uint32_t Column(const uint8_t* above, const uint8_t* row, const uint8_t* below, int32_t c) {
  return static_cast<uint32_t>(above[c] == kSkeletonRidge) | static_cast<uint32_t>(row[c] == kSkeletonRidge) << 1 |
         static_cast<uint32_t>(below[c] == kSkeletonRidge) << 2;
}

// Whether none of the eight bytes from `p` on is ridge (0).
inline bool NoRidgeIn8(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  return ((v - kOnes) & ~v & kHighs) == 0;
}

int64_t ThinRowFast(int32_t w, const uint8_t* above, const uint8_t* row, const uint8_t* below, uint8_t* out,
                    const uint8_t* table) {
  int64_t removed = 0;
  int32_t c = 1;
  while (c <= w - 2) {
    if (c + kSkipRun <= w - 1 && NoRidgeIn8(row + c)) {
      c += kSkipRun;
      continue;
    }
    // Up to eight centres without a test per pixel.
    const int32_t end = c + kSkipRun <= w - 1 ? c + kSkipRun : w - 1;
    uint32_t window = Column(above, row, below, c - 1) | Column(above, row, below, c) << kColumnBits;
    for (; c < end; ++c) {
      window |= Column(above, row, below, c + 1) << (2 * kColumnBits);
      const uint8_t mask = table[window];
      out[c] = static_cast<uint8_t>(out[c] | mask);
      removed += mask & 1;
      window >>= kColumnBits;
    }
  }
  return removed;
}

constexpr WindowTables kWindowTables = MakeWindowTables();

// One sub-pass over rows 1..h-2; `flags` holds the sub-pass's row flags.
// Returns the number of pixels removed.
int64_t ThinSubPass(int32_t w, int32_t h, uint8_t* const* image, int32_t subPass, uint8_t* flags, uint8_t* copies,
                    bool plain) {
  const size_t width = static_cast<size_t>(w);
  auto copyOf = [&](int32_t row) { return copies + static_cast<size_t>(row % kCopyRows) * width; };
  std::memcpy(copyOf(0), image[0], width);
  std::memcpy(copyOf(1), image[1], width);
  int64_t removed = 0;
  for (int32_t r = 1; r <= h - 2; ++r) {
    std::memcpy(copyOf(r + 1), image[r + 1], width);
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
  std::unique_ptr<uint8_t[]> copies(new (std::nothrow) uint8_t[kCopyRows * width]);
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
