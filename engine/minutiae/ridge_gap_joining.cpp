// Gap joining: an ending trace erases A's ridge (so that it neither blocks the
// line to a partner nor passes as one), the square round A is searched for the
// first fitting partner, and the trace list, with the line to the partner
// appended, is drawn back.
#include "engine/minutiae/ridge_gap_joining.h"

#include "engine/minutiae/tracing_primitives.h"
#include "engine/result_codes.h"
#include "geometry/geometry.h"

namespace vorsensor {

namespace {

constexpr uint8_t kForegroundLimit = 128;  // orientation map values from here are background
constexpr int32_t kEndingCount = 1;        // crossing number of a ridge ending

// The reversed direction of d (0..239).
inline int32_t Reversed(int32_t d) { return d < kHalfTurn ? d + kHalfTurn : d - kHalfTurn; }

// Bounds lo..hi (inclusive) of the search along one axis of length n.
struct Span {
  int32_t lo;
  int32_t hi;
};
Span SearchSpan(int32_t centre, int32_t radius, int32_t n) {
  const int64_t lo = int64_t{centre} - radius;
  const int64_t hi = int64_t{centre} + radius;
  return Span{centre <= radius ? 1 : static_cast<int32_t>(lo),
              int64_t{centre} >= int64_t{n} - 1 - radius ? n - 2 : static_cast<int32_t>(hi)};
}

struct JoinSearch {
  int32_t w;
  int32_t h;
  uint8_t* const* skeleton;
  int32_t traceMax;
  int32_t traceMin;
  int32_t radius;
  int32_t angleMin;
  TraceList* scratch;  // B's private trace list
};

// Whether B at (xb, yb) continues the ridge of the ending A at (x, y) with direction dA.
bool IsPartner(const JoinSearch& s, int32_t x, int32_t y, int32_t dA, int32_t xb, int32_t yb) {
  if (CrossingNumber(s.skeleton, xb, yb) != kEndingCount) return false;
  if (LineBlocked(x, y, xb, yb, s.skeleton) != 0) return false;
  const int32_t dAB = DirectionOf(x, y, xb, yb);
  if (FoldedAngle(dAB, dA) < s.angleMin) return false;
  const int32_t dB = EndingDirection(s.w, s.h, s.skeleton, xb, yb, s.traceMax, s.traceMin, s.scratch);
  if (dB == kNoTraceDirection) return false;
  return FoldedAngle(dB, Reversed(dAB)) >= s.angleMin;
}

}  // namespace

int32_t JoinGaps(int32_t w, int32_t h, uint8_t* const* skeleton, const uint8_t* const* orientationMap,
                 int32_t joinTraceMax, int32_t joinTraceMin, int32_t joinRadius, int32_t joinAngleMin,
                 SimdLevel level) {
  if (w < 3 || h < 3) return kOk;
  const int32_t radius = joinRadius > 0 ? joinRadius : 0;
  // A's trace, then the line to B, which is no longer than the longer side.
  const int32_t traceRoom = EndingTraceRoom(w, h, joinTraceMax);
  TraceList list = AllocTraceList(traceRoom + (w > h ? w : h));
  TraceList scratch = AllocTraceList(traceRoom);
  if (!list.valid() || !scratch.valid()) return kOutOfMemory;
  const JoinSearch search{w, h, skeleton, joinTraceMax, joinTraceMin, radius, joinAngleMin, &scratch};

  for (int32_t y = 1; y <= h - 2; ++y) {
    // Only pixels with an odd crossing number can be endings; the search
    // finds them in the skeleton as every earlier join left it.
    for (int32_t x = NextOddCrossing(skeleton, y, 1, w - 2, level); x <= w - 2;
         x = NextOddCrossing(skeleton, y, x + 1, w - 2, level)) {
      if (orientationMap[y][x] >= kForegroundLimit) continue;
      if (CrossingNumber(skeleton, x, y) != kEndingCount) continue;
      list.Clear();
      const int32_t dA = EndingTrace(w, h, skeleton, x, y, joinTraceMax, joinTraceMin, &list);
      if (dA != kNoTraceDirection) {
        const Span rows = SearchSpan(y, radius, h);
        const Span columns = SearchSpan(x, radius, w);
        bool found = false;
        for (int32_t yb = rows.lo; yb <= rows.hi && !found; ++yb) {
          for (int32_t xb = NextOddCrossing(skeleton, yb, columns.lo, columns.hi, level); xb <= columns.hi;
               xb = NextOddCrossing(skeleton, yb, xb + 1, columns.hi, level)) {
            if (IsPartner(search, x, y, dA, xb, yb)) {
              RecordLine(x, y, xb, yb, &list);
              found = true;
              break;
            }
          }
        }
      }
      RestoreList(skeleton, list);
    }
  }
  return kOk;
}

}  // namespace vorsensor
