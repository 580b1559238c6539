#pragma once
// The small pixel operations every skeleton stage rests on: the ring of eight
// neighbours and its crossing count, the step rule that walks along a ridge
// erasing what it leaves, the ending trace that gives a ridge ending its
// direction, the digital line between two points, and the trace list that
// lets a stage put back what it erased.
//
// Skeleton pixels are 0 (ridge) or 255 (anything else). Coordinates are
// (x, y) = (column, row) throughout; images are arrays of row pointers.
#include <cstdint>
#include <memory>

#include "engine/simd_level.h"
#include "geometry/geometry.h"

namespace vorsensor {

constexpr uint8_t kSkeletonRidge = 0;
constexpr uint8_t kSkeletonOther = 255;
constexpr uint8_t kNoTraceDirection = 255;  // a trace too short to give a direction

// Ring positions, turning from north through east.
enum RingPosition : int32_t { kRingN, kRingNE, kRingE, kRingSE, kRingS, kRingSW, kRingW, kRingNW, kRingSize };
constexpr int32_t kRingDx[kRingSize] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int32_t kRingDy[kRingSize] = {-1, -1, 0, 1, 1, 1, 0, -1};

// The eight neighbour values of a pixel in ring order.
struct Ring {
  uint8_t value[kRingSize];
};

// The neighbours of (x, y); the pixel must not lie on the outermost rows or columns.
inline Ring ReadRing(const uint8_t* const* image, int32_t x, int32_t y) {
  const uint8_t* above = image[y - 1];
  const uint8_t* row = image[y];
  const uint8_t* below = image[y + 1];
  return Ring{{above[x], above[x + 1], row[x + 1], below[x + 1], below[x], below[x - 1], row[x - 1], above[x - 1]}};
}

// Transitions from exactly 255 to exactly 0 round the closed ring (N after NW).
inline int32_t RingCount(const Ring& ring) {
  int32_t count = 0;
  for (int32_t k = 0; k < kRingSize; ++k) {
    const uint8_t next = ring.value[(k + 1) % kRingSize];
    count += (ring.value[k] == kSkeletonOther && next == kSkeletonRidge) ? 1 : 0;
  }
  return count;
}

// -1 when (x, y) is not a ridge pixel, else its ring count: 0 isolated, 1 ridge
// ending, 2 ordinary ridge pixel, 3 bifurcation. Inline, as the stages ask it
// of every foreground pixel.
inline int32_t CrossingNumber(const uint8_t* const* image, int32_t x, int32_t y) {
  if (image[y][x] != kSkeletonRidge) return -1;
  return RingCount(ReadRing(image, x, y));
}

// The first column from x to last (inclusive) of row y whose pixel is a ridge
// pixel with an odd crossing number, else last + 1 (x when x is past it). A
// ring has at most four transitions, so these are exactly the ridge endings
// (1) and the bifurcations (3); the stages that look for either call it
// between candidates and test the crossing number there. It reads the image
// as it now is. Row y must have a row above and below it, and columns x - 1
// and last + 1 must lie inside the image. The plain level asks CrossingNumber
// pixel by pixel; the others decide up to 62 pixels at once by bitwise logic
// on masks of the three rows.
int32_t NextOddCrossing(const uint8_t* const* image, int32_t y, int32_t x, int32_t last,
                        SimdLevel level = MachineSimdLevel());

// Pixels a stage erased, so that it can draw them again: parallel column and
// row lists with a fixed capacity. Appending to a full list does nothing and
// reports false; the stages size their lists so that this never happens.
class TraceList {
 public:
  TraceList() = default;
  bool valid() const { return xs_ != nullptr; }
  int32_t count() const { return count_; }
  int32_t capacity() const { return capacity_; }
  int32_t room() const { return capacity_ - count_; }
  int32_t x(int32_t i) const { return xs_[i]; }
  int32_t y(int32_t i) const { return ys_[i]; }
  void Clear() { count_ = 0; }
  bool Append(int32_t x, int32_t y) {
    if (count_ >= capacity_) return false;
    xs_[count_] = x;
    ys_[count_] = y;
    ++count_;
    return true;
  }

 private:
  friend TraceList AllocTraceList(int32_t capacity);
  std::unique_ptr<int32_t[]> xs_;
  std::unique_ptr<int32_t[]> ys_;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

// An empty list with room for `capacity` pixels (at least one is allocated);
// not valid() when the memory is not there.
TraceList AllocTraceList(int32_t capacity);

// The step rule: erases (x, y), appends it to `list`, and moves to the first
// neighbour whose value in `ring` (read before the step) is 0, edge neighbours
// before corner neighbours (N, E, S, W, NE, SE, SW, NW). Stays when none is 0.
void Step(uint8_t* const* image, int32_t* x, int32_t* y, const Ring& ring, TraceList* list);

// The move of the step rule alone: to the first ridge neighbour in `ring`,
// edge neighbours first; no move when there is none.
void MoveAlongRing(const Ring& ring, int32_t* x, int32_t* y);

// Walks from the ridge ending (x, y) while fewer than maxSteps steps are made,
// the pixel keeps a one-pixel margin to the image border and its ring count is
// exactly 1. Returns DirectionOf from the ending to where the walk stopped
// when at least minSteps steps were made, else kNoTraceDirection. The walked
// pixels stay erased and listed either way. The walk makes no more steps than
// `list` has room for, so that it never erases a pixel it cannot list.
uint8_t EndingTrace(int32_t w, int32_t h, uint8_t* const* image, int32_t x, int32_t y, int32_t maxSteps,
                    int32_t minSteps, TraceList* list);

// EndingTrace with `scratch` (emptied first, room for maxSteps pixels) as its
// list; the walked ridge is drawn again before returning.
uint8_t EndingDirection(int32_t w, int32_t h, uint8_t* const* image, int32_t x, int32_t y, int32_t maxSteps,
                        int32_t minSteps, TraceList* scratch);

// The room an ending trace of maxSteps steps can use on a w x h image.
int32_t EndingTraceRoom(int32_t w, int32_t h, int32_t maxSteps);

// 1 when A equals B or a ridge pixel lies on the digital line from A towards
// B, A and B themselves not counted; else 0.
int32_t LineBlocked(int32_t xA, int32_t yA, int32_t xB, int32_t yB, const uint8_t* const* image);

// Appends the pixels of the digital line from A towards B (A included, B not).
void RecordLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB, TraceList* list);

// Sets B and every pixel of the digital line from A towards B to ridge;
// nothing when A equals B.
void DrawLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB, uint8_t* const* image);

// The angle between two directions 0..239, folded into 0..120.
inline int32_t FoldedAngle(int32_t a, int32_t b) {
  const int32_t d = a > b ? a - b : b - a;
  return d > kHalfTurn ? kFullTurn - d : d;
}

// Sets every listed pixel to ridge.
void RestoreList(uint8_t* const* image, const TraceList& list);

}  // namespace vorsensor
