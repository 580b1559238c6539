// Edge density: each row's foreground and edge marks are made once, from
// copies of the binary rows round it, and enter per-column counts; a running
// count along the row gives the window, so the cost per pixel does not depend
// on the radius and the density can replace the binary image in place.
#include "engine/ridge/edge_density.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/row_ring.h"

namespace vorsensor {
namespace {

constexpr uint8_t kForegroundLimit = 128;       // map values below are foreground
constexpr uint8_t kOrientationBits = 0x7F;
constexpr uint8_t kOrientations = 120;
constexpr uint32_t kEdgeSumLow = 9;              // a 255 somewhere in the square
constexpr uint32_t kEdgeSumHigh = 254 * 9;       // a 0 somewhere in the square
constexpr uint32_t kDensityScale = 255;
constexpr uint32_t kPercent = 100;
constexpr uint8_t kForegroundMark = 1;
constexpr uint8_t kEdgeMark = 2;
constexpr int32_t kSquareRows = 3;

// factor[o] for o = 0..30; factor[60 - o] = factor[o + 60] = factor[o].
constexpr uint8_t kFactorEighth[31] = {100, 100, 100, 99, 99, 99, 98, 97, 96, 95, 95, 93, 92, 91, 90, 89,
                                       88,  87,  86,  85, 84, 83, 82, 81, 80, 79, 79, 79, 78, 78, 78};
constexpr uint8_t kQuarterTurn = 60;
constexpr uint8_t kEighthTurn = 30;

// Marks of row y (kForegroundMark, plus kEdgeMark) from the binary rows above,
// at and below it (null when outside the image).
void MarkRow(const uint8_t* above, const uint8_t* row, const uint8_t* below, const uint8_t* map, int32_t w,
             uint8_t* marks) {
  std::memset(marks, 0, static_cast<size_t>(w));
  if (above == nullptr || below == nullptr) return;
  for (int32_t x = 1; x < w - 1; ++x) {
    if (map[x] >= kForegroundLimit) continue;
    const uint32_t s = above[x - 1] + above[x] + above[x + 1] + row[x - 1] + row[x] + row[x + 1] + below[x - 1] +
                       below[x] + below[x + 1];
    marks[x] = static_cast<uint8_t>(kForegroundMark | (s >= kEdgeSumLow && s <= kEdgeSumHigh ? kEdgeMark : 0));
  }
}

}  // namespace

uint8_t DirectionFactor(uint8_t o) {
  if (o >= kQuarterTurn) o = static_cast<uint8_t>(o - kQuarterTurn);
  if (o > kEighthTurn) o = static_cast<uint8_t>(kQuarterTurn - o);
  return kFactorEighth[o];
}

int32_t EdgeDensity(int32_t w, int32_t h, uint8_t* const* scratch, const uint8_t* const* orientationMap, uint32_t r) {
  if (w <= 0 || h <= 0) return kOk;
  const int32_t radius = ClampRadius(r, w, h);
  const int32_t slots = 2 * static_cast<int64_t>(radius) + 1 < h ? 2 * radius + 1 : h;
  RowRing binary;  // entry rows e - 1 .. e + 1 while the marks of row e are made
  RowRing marks;   // marks of the rows in the window
  std::unique_ptr<uint32_t[]> storage(new (std::nothrow) uint32_t[2 * static_cast<size_t>(w)]());
  if (!binary.Allocate(w, h < kSquareRows ? h : kSquareRows) || !marks.Allocate(w, slots) || storage == nullptr) {
    return kOutOfMemory;
  }
  const bool narrow = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * kDensityScale <= UINT32_MAX;
  uint32_t* foreground = storage.get();
  uint32_t* edges = foreground + w;

  int32_t copied = 0;
  auto enter = [&](int32_t e) {
    // Row e + 1 is copied before row e is overwritten (e >= y at every call).
    for (; copied <= e + 1 && copied < h; ++copied) {
      std::memcpy(binary[copied], scratch[copied], static_cast<size_t>(w));
    }
    const bool inside = e >= 1 && e + 1 < h;
    uint8_t* m = marks[e];
    MarkRow(inside ? binary[e - 1] : nullptr, binary[e], inside ? binary[e + 1] : nullptr, orientationMap[e], w, m);
    for (int32_t x = 0; x < w; ++x) {
      foreground[x] += m[x] & kForegroundMark;
      edges[x] += m[x] >> 1;
    }
  };
  auto leave = [&](int32_t e) {
    const uint8_t* m = marks[e];
    for (int32_t x = 0; x < w; ++x) {
      foreground[x] -= m[x] & kForegroundMark;
      edges[x] -= m[x] >> 1;
    }
  };

  for (int32_t e = 0; e < radius && e < h; ++e) enter(e);
  for (int32_t y = 0; y < h; ++y) {
    if (y - radius - 1 >= 0) leave(y - radius - 1);
    if (y + radius < h) enter(y + radius);
    uint32_t f = 0, edge = 0;
    for (int32_t x = 0; x < radius && x < w; ++x) {
      f += foreground[x];
      edge += edges[x];
    }
    const uint8_t* map = orientationMap[y];
    uint8_t* out = scratch[y];
    for (int32_t x = 0; x < w; ++x) {
      if (x + radius < w) {
        f += foreground[x + radius];
        edge += edges[x + radius];
      }
      if (x - radius - 1 >= 0) {
        f -= foreground[x - radius - 1];
        edge -= edges[x - radius - 1];
      }
      const uint8_t o = static_cast<uint8_t>(map[x] & kOrientationBits);
      const uint32_t factor = o < kOrientations ? DirectionFactor(o) : kPercent;
      // edge <= f, so the quotient is at most 255; a 32-bit division serves
      // wherever edge x 255 fits 32 bits (every image of up to 16 M pixels).
      uint64_t density = 0;
      if (f != 0) {
        density = narrow ? edge * kDensityScale / f : static_cast<uint64_t>(edge) * kDensityScale / f;
      }
      out[x] = static_cast<uint8_t>(density * factor / kPercent);
    }
  }
  return kOk;
}

uint8_t RidgeDensity(int32_t w, int32_t h, const uint8_t* const* binaryImage, const uint8_t* const* orientationMap) {
  uint64_t foreground = 0, edges = 0;
  for (int32_t y = 1; y + 1 < h; ++y) {
    const uint8_t* above = binaryImage[y - 1];
    const uint8_t* row = binaryImage[y];
    const uint8_t* below = binaryImage[y + 1];
    const uint8_t* map = orientationMap[y];
    for (int32_t x = 1; x < w - 1; ++x) {
      if (map[x] >= kForegroundLimit) continue;
      const uint32_t s = above[x - 1] + above[x] + above[x + 1] + row[x - 1] + row[x] + row[x + 1] + below[x - 1] +
                         below[x] + below[x + 1];
      ++foreground;
      edges += s >= kEdgeSumLow && s <= kEdgeSumHigh ? 1 : 0;
    }
  }
  return static_cast<uint8_t>(foreground == 0 ? 0 : edges * kDensityScale / foreground);
}

}  // namespace vorsensor
