// Ring, crossing count, step rule, ending trace, digital line and trace list.
#include "engine/minutiae/tracing_primitives.h"

#include <new>

#include "geometry/digital_line.h"
#include "geometry/geometry.h"

namespace vorsensor {

namespace {

// The step rule's preference: edge neighbours first, then corners.
constexpr RingPosition kStepOrder[kRingSize] = {kRingN, kRingE, kRingS, kRingW, kRingNE, kRingSE, kRingSW, kRingNW};

}  // namespace

TraceList AllocTraceList(int32_t capacity) {
  TraceList list;
  const int32_t size = capacity > 0 ? capacity : 1;
  std::unique_ptr<int32_t[]> xs(new (std::nothrow) int32_t[static_cast<size_t>(size)]);
  std::unique_ptr<int32_t[]> ys(new (std::nothrow) int32_t[static_cast<size_t>(size)]);
  if (xs == nullptr || ys == nullptr) return list;
  list.xs_ = std::move(xs);
  list.ys_ = std::move(ys);
  list.capacity_ = capacity > 0 ? capacity : 0;
  return list;
}

void Step(uint8_t* const* image, int32_t* x, int32_t* y, const Ring& ring, TraceList* list) {
  image[*y][*x] = kSkeletonOther;
  list->Append(*x, *y);
  MoveAlongRing(ring, x, y);
}

void MoveAlongRing(const Ring& ring, int32_t* x, int32_t* y) {
  for (const RingPosition k : kStepOrder) {
    if (ring.value[k] == kSkeletonRidge) {
      *x += kRingDx[k];
      *y += kRingDy[k];
      return;
    }
  }
}

uint8_t EndingTrace(int32_t w, int32_t h, uint8_t* const* image, int32_t x, int32_t y, int32_t maxSteps,
                    int32_t minSteps, TraceList* list) {
  const int32_t x0 = x, y0 = y;
  const int32_t stepLimit = maxSteps < list->room() ? maxSteps : list->room();
  int32_t steps = 0;
  while (steps < stepLimit && y >= 1 && y < h - 1 && x >= 1 && x < w - 1) {
    const Ring ring = ReadRing(image, x, y);
    if (RingCount(ring) != 1) break;
    Step(image, &x, &y, ring, list);
    ++steps;
  }
  return steps >= minSteps ? DirectionOf(x0, y0, x, y) : kNoTraceDirection;
}

int32_t EndingTraceRoom(int32_t w, int32_t h, int32_t maxSteps) {
  // Each step erases a distinct pixel, so no walk is longer than the image.
  const int64_t pixels = int64_t{w > 0 ? w : 0} * int64_t{h > 0 ? h : 0};
  const int64_t steps = maxSteps > 0 ? maxSteps : 0;
  const int64_t room = steps < pixels ? steps : pixels;
  return static_cast<int32_t>(room);
}

uint8_t EndingDirection(int32_t w, int32_t h, uint8_t* const* image, int32_t x, int32_t y, int32_t maxSteps,
                        int32_t minSteps, TraceList* scratch) {
  scratch->Clear();
  const uint8_t direction = EndingTrace(w, h, image, x, y, maxSteps, minSteps, scratch);
  RestoreList(image, *scratch);
  scratch->Clear();
  return direction;
}

int32_t LineBlocked(int32_t xA, int32_t yA, int32_t xB, int32_t yB, const uint8_t* const* image) {
  if (xA == xB && yA == yB) return 1;
  DigitalLine line = StartDigitalLine(xA, yA, xB, yB);
  // A is the first pixel of the line and does not count.
  for (StepDigitalLine(&line); !DigitalLineDone(line); StepDigitalLine(&line)) {
    if (image[line.y][line.x] == kSkeletonRidge) return 1;
  }
  return 0;
}

void RecordLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB, TraceList* list) {
  for (DigitalLine line = StartDigitalLine(xA, yA, xB, yB); !DigitalLineDone(line); StepDigitalLine(&line)) {
    list->Append(line.x, line.y);
  }
}

void DrawLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB, uint8_t* const* image) {
  if (xA == xB && yA == yB) return;
  for (DigitalLine line = StartDigitalLine(xA, yA, xB, yB); !DigitalLineDone(line); StepDigitalLine(&line)) {
    image[line.y][line.x] = kSkeletonRidge;
  }
  image[yB][xB] = kSkeletonRidge;
}

void RestoreList(uint8_t* const* image, const TraceList& list) {
  for (int32_t i = 0; i < list.count(); ++i) image[list.y(i)][list.x(i)] = kSkeletonRidge;
}

}  // namespace vorsensor
