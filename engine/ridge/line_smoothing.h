#pragma once
// Smoothing along the ridge flow: a pixel becomes the weighted mean of a line
// 11 pixels long and 1 pixel wide through it along its orientation, so grey
// values mix along the ridges and not across them. A pixel without an
// orientation (120..127) takes the mean of its 3 x 3 square instead.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/simd_level.h"

namespace vorsensor {

constexpr int32_t kLineReach = 6;                     // rows or columns a tap lies from the centre at most
constexpr int32_t kLineRows = 2 * kLineReach + 1;     // rows a kernel reads
constexpr int32_t kLineTapsMax = 18;                  // taps of one kernel at most
constexpr uint32_t kLineWeightTotal = 112211;         // centre weight plus both taps of every pair (11 x 101²)
constexpr uint8_t kLineOrientations = 120;

// One tap of a symmetric pair: applied at (y + dy, x + dx) and (y - dy, x - dx).
// The one stored has dy < 0, or dy = 0 and dx < 0.
struct LineTap {
  int32_t dy;
  int32_t dx;
  uint32_t weight;
};
struct LineKernel {
  uint32_t centre;
  int32_t count;
  LineTap taps[kLineTapsMax];
};

// The kernel of orientation o < 120.
const LineKernel& LineKernelOf(uint8_t o);

// True when the whole kernel of (x, y) lies inside a w x h image.
inline bool LineInterior(int32_t w, int32_t h, int32_t x, int32_t y) {
  return y >= kLineReach && y < h - kLineReach && x >= kLineReach && x < w - kLineReach;
}

// The smoothed value of (x, y). around[d] is source row y + d for d = -6..6
// (only rows inside the image are read); o the orientation (120..127: none);
// interior as LineInterior. Interior pixels divide by kLineWeightTotal (or 9);
// elsewhere taps outside the image add neither pixel nor weight and the sum
// divides by the weights (or pixels) used. Truncating.
uint8_t LineSmoothPixel(const uint8_t* const* around, int32_t w, int32_t h, int32_t x, int32_t y, uint8_t o,
                        bool interior);

// Row copies for a line kernel pass in place: the entry values of rows
// y - 6 .. y + 6 while row y is written. Every row is kept twice in a ring of
// 2 x 13 rows, each padded with 6 bytes on both sides, so that the 13 rows
// round any row lie one after another and a tap is one fixed offset from the
// centre pixel also where the kernel's reads pass a row's ends.
class LineRowRing {
 public:
  // False when the memory cannot be had. `level` picks the vector code (every
  // level gives the same values).
  bool Allocate(int32_t w, int32_t h, SimdLevel level = MachineSimdLevel());
  // Starts a new pass over `image` (its rows are copied as they are needed).
  void Begin(const uint8_t* const* image) {
    image_ = image;
    copied_ = 0;
    widened_ = 0;
  }
  // Prepares row y: copies rows through y + 6 first, so call it before
  // writing row y.
  void Around(int32_t y);
  // Row y, after Around(y): writes out[x] = LineSmoothPixel(...) for every x
  // whose count (low 3 bits of counts[x]) is not 0, or for every x when
  // counts is null, with the orientation in the low 7 bits of orientation[x].
  // Pixels whose taps all lie inside the image take fixed window offsets
  // from the centre pixel.
  void SmoothRow(int32_t y, const uint8_t* orientation, const uint8_t* counts, uint8_t* out);

 private:
  // The kernel as row windows of 4 pixels: the offset of each window from
  // the centre pixel for this ring's stride.
  static constexpr int32_t kGroupsMax = 2 * kLineRows + 2;
  struct Offsets {
    ptrdiff_t offset[kGroupsMax];
  };
  uint8_t* Slot(int32_t slot) const;  // the first pixel of a ring slot (2 x slots_ of them)
  std::unique_ptr<uint8_t[]> rows_;
  std::unique_ptr<Offsets[]> offsets_;  // per orientation, for this width
  // AVX-512 level (rows of 32 pixels or more), instead of the byte ring: the
  // ring offset of each kernel position, the ring's rows as 16-bit values
  // (laid out likewise with wider pads, widened from the image as they are
  // first read), and a row of 1 at the image's columns and 0 in 6 columns on
  // either side, followed by 32 zeros.
  int16_t* WideSlot(int32_t slot) const;
  bool wide_ = false;
  std::unique_ptr<ptrdiff_t[]> wideOffsets_;
  std::unique_ptr<int16_t[]> wideRows_;
  int16_t* wideBase_ = nullptr;  // wideRows_ from its first 64-byte boundary
  std::unique_ptr<int16_t[]> wideInside_;
  SimdLevel level_ = SimdLevel::kPlain;
  const uint8_t* const* image_ = nullptr;
  const uint8_t* around_[kLineRows] = {};
  const uint8_t* centre_ = nullptr;  // row y in the ring, rows round it at multiples of stride_
  size_t stride_ = 0;
  int32_t w_ = 0;
  int32_t h_ = 0;
  int32_t slots_ = 0;
  int32_t copied_ = 0;
  int32_t widened_ = 0;  // rows below this one are widened (AVX-512 level)
};

// Smooths the whole w x h ridge image in place along the orientation map
// (bits 0..6; the background mark is ignored), every pixel from the entry
// values. Returns kOk or kOutOfMemory (image unchanged).
int32_t DirectionalSmooth(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* orientationMap,
                          SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
