// Bifurcation cleaning: branch traces, fork shapes, and the loop, triangle,
// bridge and crossing edits.
#include "engine/minutiae/bifurcation_cleaning.h"

#include <cstdint>

#include "engine/minutiae/tracing_primitives.h"
#include "geometry/geometry.h"

namespace vorsensor {

namespace {

constexpr uint8_t kForegroundLimit = 128;  // orientation map values from here are background
constexpr int32_t kBorderMargin = 21;      // bifurcations closer to the border are not examined
constexpr int32_t kForkCount = 3;          // crossing number of a bifurcation
constexpr int32_t kFirstSharedPoint = 2;   // a branch meets an earlier one from its point 2 on
constexpr int32_t kRestore = 1;  // TraceBranches draws its points again

// The other two branches of each branch, in sibling order.
constexpr int32_t kSiblings[kForkBranches][2] = {{1, 2}, {0, 2}, {0, 1}};

struct Point {
  int32_t x;
  int32_t y;
};
inline bool operator==(Point a, Point b) { return a.x == b.x && a.y == b.y; }

// The last point of a branch; the start for a branch that holds none.
Point LastPoint(const BranchTrace& trace, int32_t b) {
  const TracedBranch& branch = trace.branch[b];
  if (branch.length == 0) return Point{trace.x0, trace.y0};
  return Point{branch.x[branch.length - 1], branch.y[branch.length - 1]};
}

// The bounding box of points 2 and later of the branches before b (empty,
// with lo above hi, when they hold none): a walk passes over the point lists
// only inside it.
struct Box {
  int32_t loX, loY, hiX, hiY;
  bool Holds(int32_t x, int32_t y) const { return loX <= x && x <= hiX && loY <= y && y <= hiY; }
};
Box EarlierPointsBox(const BranchTrace& trace, int32_t b) {
  Box box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (int32_t e = 0; e < b; ++e) {
    const TracedBranch& earlier = trace.branch[e];
    for (int32_t k = kFirstSharedPoint; k < earlier.length; ++k) {
      box.loX = earlier.x[k] < box.loX ? earlier.x[k] : box.loX;
      box.hiX = earlier.x[k] > box.hiX ? earlier.x[k] : box.hiX;
      box.loY = earlier.y[k] < box.loY ? earlier.y[k] : box.loY;
      box.hiY = earlier.y[k] > box.hiY ? earlier.y[k] : box.hiY;
    }
  }
  return box;
}

// Whether (x, y) is point 2 or later of a branch before b.
bool MeetsEarlierBranch(const BranchTrace& trace, int32_t b, int32_t x, int32_t y) {
  for (int32_t e = 0; e < b; ++e) {
    const TracedBranch& earlier = trace.branch[e];
    for (int32_t k = kFirstSharedPoint; k < earlier.length; ++k) {
      if (earlier.x[k] == x && earlier.y[k] == y) return true;
    }
  }
  return false;
}

// Sets points from..to-1 of a branch to `value`.
void PaintPoints(uint8_t* const* skeleton, const TracedBranch& branch, int32_t from, int32_t to, uint8_t value) {
  for (int32_t k = from; k < to; ++k) skeleton[branch.y[k]][branch.x[k]] = value;
}
void PaintBranch(uint8_t* const* skeleton, const TracedBranch& branch, uint8_t value) {
  PaintPoints(skeleton, branch, 0, branch.length, value);
}
void PaintFoundBranches(uint8_t* const* skeleton, const BranchTrace& trace, uint8_t value) {
  for (int32_t b = 0; b < trace.count; ++b) PaintBranch(skeleton, trace.branch[b], value);
}

// Two neighbours of the start pixel that the first step of a walk sets aside
// when the start is a corner, so that the walk's second pixel does not take
// the corner's other arm for its own continuation.
struct SetAside {
  bool active;
  Point at[2];
  uint8_t value[2];
};

void PutBack(uint8_t* const* skeleton, SetAside* aside) {
  if (!aside->active) return;
  for (int32_t k = 0; k < 2; ++k) skeleton[aside->at[k].y][aside->at[k].x] = aside->value[k];
  aside->active = false;
}

bool IsCorner(const Ring& ring) {
  const bool n = ring.value[kRingN] == kSkeletonRidge, e = ring.value[kRingE] == kSkeletonRidge;
  const bool s = ring.value[kRingS] == kSkeletonRidge, w = ring.value[kRingW] == kSkeletonRidge;
  return (n && e) || (e && s) || (s && w) || (w && n);
}

// Walks branch b. Returns false when the start has no ridge neighbour left at
// the first step (no further branch exists).
bool TraceOneBranch(int32_t w, int32_t h, uint8_t* const* skeleton, BranchTrace* trace, int32_t b,
                    int32_t maxSteps) {
  TracedBranch& branch = trace->branch[b];
  int32_t x = trace->x0, y = trace->y0;
  int32_t steps = 0;
  SetAside aside{};
  bool found = true;
  const Box earlier = EarlierPointsBox(*trace, b);
  while (steps < maxSteps && x + 1 <= w - 2 && x - 1 >= 1 && y + 1 <= h - 2 && y - 1 >= 1) {
    const Ring ring = ReadRing(skeleton, x, y);
    const int32_t count = RingCount(ring);
    if (count == 0 && steps == 0) {
      found = false;
      break;
    }
    branch.x[branch.length] = x;
    branch.y[branch.length] = y;
    ++branch.length;
    if (earlier.Holds(x, y) && MeetsEarlierBranch(*trace, b, x, y)) {
      skeleton[y][x] = kSkeletonOther;
      branch.status = kBranchMeets;
      break;
    }
    if (count != 1 && steps > 1) {
      branch.status = count == 0 ? kBranchRidgeEnd : (count == 2 ? kBranchMeets : kBranchStopped);
      break;
    }
    const int32_t fromX = x, fromY = y;
    // The step rule, with the branch's point list (which holds the pixel
    // already) in place of a trace list.
    skeleton[y][x] = kSkeletonOther;
    MoveAlongRing(ring, &x, &y);
    if (steps == 0 && IsCorner(ring)) {
      aside.active = true;
      if (x == fromX) {  // moved N or S: set aside E and W
        aside.at[0] = Point{fromX + 1, fromY};
        aside.at[1] = Point{fromX - 1, fromY};
      } else {           // moved E or W: set aside S and N
        aside.at[0] = Point{fromX, fromY + 1};
        aside.at[1] = Point{fromX, fromY - 1};
      }
      for (int32_t k = 0; k < 2; ++k) {
        aside.value[k] = skeleton[aside.at[k].y][aside.at[k].x];
        skeleton[aside.at[k].y][aside.at[k].x] = kSkeletonOther;
      }
    }
    if (steps == 1) PutBack(skeleton, &aside);
    ++steps;
  }
  // A walk that ended before its second step still owes the set-aside pixels.
  PutBack(skeleton, &aside);
  if (found && steps == kBranchPointsMax) branch.status = kBranchRanFull;
  return found;
}

uint8_t PairAngle(const BranchTrace& trace, int32_t a, int32_t b) {
  return static_cast<uint8_t>(FoldedAngle(trace.branch[a].direction, trace.branch[b].direction));
}

bool Within(int32_t value, int32_t lowExclusive, int32_t highExclusive) {
  return lowExclusive < value && value < highExclusive;
}

void CleanOneBifurcation(int32_t w, int32_t h, uint8_t* const* skeleton, int32_t x, int32_t y,
                         const BifurcationCleaningParameters& p, BranchTrace& t1, BranchTrace& t2);

}  // namespace

void TraceBranches(int32_t w, int32_t h, uint8_t* const* skeleton, int32_t x0, int32_t y0, BranchTrace* trace,
                   int32_t restore, int32_t maxSteps) {
  const int32_t limit = maxSteps < kBranchPointsMax ? maxSteps : kBranchPointsMax;
  trace->x0 = x0;
  trace->y0 = y0;
  trace->count = kForkBranches;
  for (TracedBranch& branch : trace->branch) {
    branch.length = 0;
    branch.status = kBranchStopped;
    branch.direction = kNoTraceDirection;
  }
  for (int32_t b = 0; b < kForkBranches; ++b) {
    if (!TraceOneBranch(w, h, skeleton, trace, b, limit)) {
      trace->count = b;
      break;
    }
  }
  PaintFoundBranches(skeleton, *trace, restore != 0 ? kSkeletonRidge : kSkeletonOther);
  for (int32_t b = 0; b < trace->count; ++b) {
    const Point last = LastPoint(*trace, b);
    trace->branch[b].direction = DirectionOf(x0, y0, last.x, last.y);
  }
  if (trace->count == kForkBranches) {
    trace->angle01 = PairAngle(*trace, 0, 1);
    trace->angle12 = PairAngle(*trace, 1, 2);
    trace->angle02 = PairAngle(*trace, 0, 2);
  } else {
    trace->angle01 = trace->angle12 = trace->angle02 = kNoForkAngle;
  }
}

int32_t ForkShape(const BranchTrace& trace, int32_t teeWideAngle, int32_t spreadWideAngle, int32_t teeSideHigh,
                  int32_t teeSideLow, int32_t spreadSideLow) {
  const int32_t angles[3] = {trace.angle01, trace.angle12, trace.angle02};
  int32_t widest = 0;
  for (int32_t k = 1; k < 3; ++k) {
    if (angles[k] > angles[widest]) widest = k;
  }
  const int32_t m = angles[widest];
  const int32_t a = angles[widest == 0 ? 1 : 0];
  const int32_t b = angles[widest == 2 ? 1 : 2];
  if (m > teeWideAngle && Within(a, teeSideLow, teeSideHigh) && Within(b, teeSideLow, teeSideHigh)) return kTeeShape;
  if (m > spreadWideAngle && Within(a, spreadSideLow, spreadWideAngle) && Within(b, spreadSideLow, spreadWideAngle)) {
    return kSpreadFork;
  }
  return kOtherShape;
}

void CleanBifurcations(int32_t w, int32_t h, uint8_t* const* skeleton, const uint8_t* const* orientationMap,
                       const BifurcationCleaningParameters& parameters, SimdLevel level) {
  BranchTrace t1;
  BranchTrace t2;
  for (int32_t y = kBorderMargin; y <= h - 1 - kBorderMargin; ++y) {
    const int32_t last = w - 1 - kBorderMargin;
    for (int32_t x = NextOddCrossing(skeleton, y, kBorderMargin, last, level); x <= last;
         x = NextOddCrossing(skeleton, y, x + 1, last, level)) {
      if (orientationMap[y][x] >= kForegroundLimit) continue;
      if (CrossingNumber(skeleton, x, y) != kForkCount) continue;
      CleanOneBifurcation(w, h, skeleton, x, y, parameters, t1, t2);
    }
  }
}

namespace {

// The two branches of a loop end on the same pixel: the longer path goes.
bool OpenLoop(uint8_t* const* skeleton, const BranchTrace& t1) {
  int32_t pairI = -1, pairJ = -1;
  for (int32_t i = 0; i < kForkBranches; ++i) {
    const int32_t j = (i + 1) % kForkBranches;
    if (LastPoint(t1, i) == LastPoint(t1, j)) {
      pairI = i;
      pairJ = j;
    }
  }
  if (pairI < 0) return false;
  const int32_t removed = t1.branch[pairI].length < t1.branch[pairJ].length ? pairJ : pairI;
  for (int32_t b = 0; b < kForkBranches; ++b) {
    if (b != removed) PaintBranch(skeleton, t1.branch[b], kSkeletonRidge);
  }
  return true;
}

// Three bifurcations P, Q, R in a small triangle become three spokes meeting
// at their centre.
void CollapseTriangle(uint8_t* const* skeleton, const BranchTrace& t1, const BranchTrace& t2, int32_t i, int32_t o,
                      int32_t m) {
  const Point r = LastPoint(t1, o);
  PaintBranch(skeleton, t1.branch[i], kSkeletonOther);
  PaintBranch(skeleton, t1.branch[o], kSkeletonOther);
  PaintBranch(skeleton, t2.branch[m], kSkeletonOther);
  const Point c{(t1.x0 + t2.x0 + r.x) / 3, (t1.y0 + t2.y0 + r.y) / 3};
  DrawLine(c.x, c.y, t2.x0, t2.y0, skeleton);
  DrawLine(c.x, c.y, r.x, r.y, skeleton);
  DrawLine(c.x, c.y, t1.x0, t1.y0, skeleton);
}

// Cuts P's branch i (whole, or only its inner points for a crossing) and
// redraws the start of P's other branches and Q's branches other than bq.
void CutLink(uint8_t* const* skeleton, const BranchTrace& t1, const BranchTrace& t2, int32_t i, int32_t bq,
             bool innerOnly, int32_t keepLength) {
  const TracedBranch& link = t1.branch[i];
  if (innerOnly) {
    PaintPoints(skeleton, link, 1, link.length - 1, kSkeletonOther);
  } else {
    PaintBranch(skeleton, link, kSkeletonOther);
  }
  for (const int32_t o : kSiblings[i]) {
    const TracedBranch& other = t1.branch[o];
    const int32_t keep = other.length < keepLength ? other.length : keepLength;
    PaintPoints(skeleton, other, 0, keep > 0 ? keep : 0, kSkeletonRidge);
  }
  for (const int32_t m : kSiblings[bq]) PaintBranch(skeleton, t2.branch[m], kSkeletonRidge);
}

// The first branch of `trace` that passes through `point`, else 0.
int32_t BranchThrough(const BranchTrace& trace, Point point) {
  for (int32_t b = 0; b < kForkBranches; ++b) {
    const TracedBranch& branch = trace.branch[b];
    for (int32_t k = 0; k < branch.length; ++k) {
      if (branch.x[k] == point.x && branch.y[k] == point.y) return b;
    }
  }
  return 0;
}

int32_t SiblingAngle(const BranchTrace& trace, int32_t b) {
  return FoldedAngle(trace.branch[kSiblings[b][0]].direction, trace.branch[kSiblings[b][1]].direction);
}

void CleanOneBifurcation(int32_t w, int32_t h, uint8_t* const* skeleton, int32_t x, int32_t y,
                         const BifurcationCleaningParameters& p, BranchTrace& t1, BranchTrace& t2) {
  TraceBranches(w, h, skeleton, x, y, &t1, 0, p.branchTraceMax);
  bool meets = false;
  for (int32_t b = 0; b < t1.count; ++b) meets = meets || t1.branch[b].status == kBranchMeets;
  if (t1.count != kForkBranches || !meets) {
    PaintFoundBranches(skeleton, t1, kSkeletonRidge);
    return;
  }
  if (OpenLoop(skeleton, t1)) return;
  PaintFoundBranches(skeleton, t1, kSkeletonRidge);
  int32_t shortCount = 0;
  for (const TracedBranch& branch : t1.branch) shortCount += branch.length <= p.branchShortLen ? 1 : 0;
  const int32_t shapeP = ForkShape(t1, p.teeWideAngle, p.spreadWideAngle, p.teeSideHigh, p.teeSideLow,
                                   p.spreadSideLow);

  for (int32_t i = 0; i < kForkBranches; ++i) {
    const TracedBranch& link = t1.branch[i];
    if (link.status != kBranchMeets) continue;
    const Point q = LastPoint(t1, i);
    TraceBranches(w, h, skeleton, q.x, q.y, &t2, kRestore, p.branchTraceMax);
    if (t2.count != kForkBranches) return;
    if (shortCount >= 2) {
      for (const int32_t o : kSiblings[i]) {
        for (int32_t m = 0; m < kForkBranches; ++m) {
          if (LastPoint(t1, o) == LastPoint(t2, m)) {
            CollapseTriangle(skeleton, t1, t2, i, o, m);
            return;
          }
        }
      }
    }
    const int32_t middle = link.length / 2;
    const int32_t bq = BranchThrough(t2, Point{link.x[middle], link.y[middle]});
    if (link.length < p.bridgeMaxLen && shapeP == kSpreadFork &&
        ForkShape(t2, p.teeWideAngle, p.spreadWideAngle, p.teeSideHigh, p.teeSideLow, p.spreadSideLow) ==
            kSpreadFork) {
      CutLink(skeleton, t1, t2, i, bq, false, p.branchKeepLen);
      return;
    }
    if (link.length <= p.crossMaxLen && SiblingAngle(t1, i) <= p.crossAngleMax &&
        SiblingAngle(t2, bq) <= p.crossAngleMax) {
      CutLink(skeleton, t1, t2, i, bq, true, p.branchKeepLen);
      return;
    }
  }
}

}  // namespace

}  // namespace vorsensor
