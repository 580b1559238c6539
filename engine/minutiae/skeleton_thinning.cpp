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

namespace {

constexpr int32_t kSubPasses = 2;
constexpr int32_t kCopyRows = 3;  // rows r-1, r and r+1 as they stood
constexpr uint32_t kHalfRing = 4;   // neighbours in half a turn
constexpr uint32_t kCodeMask = 0xFF;

constexpr uint8_t kRowUnsettled = 0;  // the sub-pass visits the row
constexpr uint8_t kRowSettled = 1;    // the sub-pass removed nothing there last time

// Whether a neighbour value counts as ridge in the code.
inline uint32_t Bit(uint8_t value, int32_t k) { return value == kSkeletonRidge ? (1u << k) : 0u; }

// One sub-pass over rows 1..h-2; `flags` holds the sub-pass's row flags.
// Returns the number of pixels removed.
int64_t ThinSubPass(int32_t w, int32_t h, uint8_t* const* image, int32_t subPass, uint8_t* flags, uint8_t* copies) {
  const size_t width = static_cast<size_t>(w);
  auto copyOf = [&](int32_t row) { return copies + static_cast<size_t>(row % kCopyRows) * width; };
  std::memcpy(copyOf(0), image[0], width);
  std::memcpy(copyOf(1), image[1], width);
  int64_t removed = 0;
  for (int32_t r = 1; r <= h - 2; ++r) {
    std::memcpy(copyOf(r + 1), image[r + 1], width);
    if (flags[r] != kRowUnsettled) continue;
    flags[r] = kRowSettled;
    const uint8_t* above = copyOf(r - 1);
    const uint8_t* row = copyOf(r);
    const uint8_t* below = copyOf(r + 1);
    uint8_t* out = image[r];
    for (int32_t c = 1; c <= w - 2; ++c) {
      if (row[c] != kSkeletonRidge) continue;
      // Bits in ring order N, NE, E, SE, S, SW, W, NW.
      uint32_t code = Bit(above[c], 0) | Bit(above[c + 1], 1) | Bit(row[c + 1], 2) | Bit(below[c + 1], 3) |
                      Bit(below[c], 4) | Bit(below[c - 1], 5) | Bit(row[c - 1], 6) | Bit(above[c - 1], 7);
      // The second sub-pass starts the same order half a turn later, at S.
      if (subPass != 0) code = ((code >> kHalfRing) | (code << kHalfRing)) & kCodeMask;
      if (kDeletionTable[code] != 0) {
        out[c] = kSkeletonOther;
        flags[r] = kRowUnsettled;
        ++removed;
      }
    }
  }
  return removed;
}

}  // namespace

// clang-format off
const uint8_t kDeletionTable[256] = {
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

int32_t Thin(int32_t w, int32_t h, uint8_t* const* image, int32_t maxIterations) {
  if (w < 3 || h < 3 || maxIterations <= 0) return kOk;
  const size_t width = static_cast<size_t>(w);
  const size_t rows = static_cast<size_t>(h);
  std::unique_ptr<uint8_t[]> copies(new (std::nothrow) uint8_t[kCopyRows * width]);
  std::unique_ptr<uint8_t[]> flags(new (std::nothrow) uint8_t[kSubPasses * rows]());
  if (copies == nullptr || flags == nullptr) return kOutOfMemory;
  for (int32_t iteration = 0; iteration < maxIterations; ++iteration) {
    int64_t removed = 0;
    for (int32_t subPass = 0; subPass < kSubPasses; ++subPass) {
      removed += ThinSubPass(w, h, image, subPass, flags.get() + static_cast<size_t>(subPass) * rows, copies.get());
    }
    if (removed == 0) break;
  }
  return kOk;
}

}  // namespace vorsensor
