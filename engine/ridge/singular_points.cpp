// Singular points: Poincare index on two rings of the block direction grid,
// clustering of neighbouring detections, location by orientation disorder and
// the direction search along a circle.
#include "engine/ridge/singular_points.h"

#include <cstdlib>

#include "geometry/digital_line.h"
#include "geometry/geometry.h"

namespace vorsensor {

namespace {

constexpr int32_t kBlockSide = 16;          // pixels per block side
constexpr int32_t kDetectMargin = 2;        // blocks: both rings must lie inside the grid
constexpr uint8_t kOrientationLimit = 120;  // grid and map values from here on carry no orientation
constexpr int32_t kQuarterTurn = 60;        // orientation difference that is ambiguous / folded
constexpr int32_t kClusterLinkRadius = 2;   // detections link only to their eight neighbours
constexpr int32_t kRefineHalfWidth = 16;    // refinement window about the first position
constexpr uint8_t kOrientationBits = 0x7F;  // the orientation part of a map value
constexpr int32_t kNoLineMean = 60;         // mean used when no pixel of a line lies in the image

struct Offset {
  int32_t row;
  int32_t column;
};

// Both rings walked in the same sense: along the upper side to the right, down
// the right side, left along the lower side and up the left side.
constexpr Offset kInnerRing[8] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}};
constexpr Offset kOuterRing[12] = {{-2, -1}, {-2, 0}, {-2, 1}, {-1, 2}, {0, 2}, {1, 2},
                                   {2, 1},   {2, 0},  {2, -1}, {1, -2}, {0, -2}, {-1, -2}};

int32_t KindOfIndex(int32_t index) {
  switch (index) {
    case 1: return kSingularCore;
    case 2: return kSingularWhorl;
    case -1: return kSingularDelta;
    default: return kSingularOther;
  }
}

// Difference of two orientations folded into 0..60 (a ridge has no sense).
// Values that carry no orientation (127) fold to a small negative difference.
int32_t FoldedDifference(int32_t a, int32_t b) {
  const int32_t d = std::abs(a - b);
  return d < kQuarterTurn + 1 ? d : kHalfTurn - d;
}

template <size_t N>
int32_t IndexOfRing(const uint8_t* const* grid, int32_t bx, int32_t by, const Offset (&ring)[N]) {
  uint8_t values[N];
  for (size_t k = 0; k < N; ++k) values[k] = grid[by + ring[k].row][bx + ring[k].column];
  return RingIndex(static_cast<int32_t>(N), values);
}

template <size_t N>
bool RingOriented(const uint8_t* const* grid, int32_t bx, int32_t by, const Offset (&ring)[N]) {
  for (const Offset& offset : ring) {
    if (grid[by + offset.row][bx + offset.column] >= kOrientationLimit) return false;
  }
  return true;
}

// Moves `best` / (bestX, bestY) to every pixel of the rectangle whose disorder
// is strictly greater, in row-major order.
void SearchDisorder(int32_t w, int32_t h, const uint8_t* const* map, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    int32_t r, int64_t* best, int32_t* bestX, int32_t* bestY) {
  for (int32_t y = y0; y <= y1; ++y) {
    for (int32_t x = x0; x <= x1; ++x) {
      const int64_t s = OrientationDisorder(w, h, map, x, y, r);
      if (s > *best) {
        *best = s;
        *bestX = x;
        *bestY = y;
      }
    }
  }
}

}  // namespace

int32_t RingIndex(int32_t n, const uint8_t* values) {
  if (n <= 0) return 0;
  int32_t prev = values[n - 1];
  int32_t sum = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t a = values[i];
    const int32_t b = a + kHalfTurn;
    int32_t da = std::abs(prev - a);
    int32_t db = std::abs(prev - b);
    if (da > kHalfTurn) da = kFullTurn - da;
    if (db > kHalfTurn) db = kFullTurn - db;
    if (da == db) return 0;
    const int32_t chosen = db < da ? b : a;
    int32_t step = chosen - prev;
    if (step > kHalfTurn) step -= kFullTurn;
    if (step < -kHalfTurn) step += kFullTurn;
    sum += step;
    prev = chosen;
  }
  return sum / kHalfTurn;
}

int32_t DetectSingularPoints(int32_t bw, int32_t bh, const uint8_t* const* directionGrid, SingularPointList* list) {
  list->count = 0;
  for (int32_t by = kDetectMargin; by < bh - kDetectMargin; ++by) {
    for (int32_t bx = kDetectMargin; bx < bw - kDetectMargin; ++bx) {
      if (!RingOriented(directionGrid, bx, by, kInnerRing) || !RingOriented(directionGrid, bx, by, kOuterRing)) {
        continue;
      }
      const int32_t i8 = IndexOfRing(directionGrid, bx, by, kInnerRing);
      const int32_t i12 = IndexOfRing(directionGrid, bx, by, kOuterRing);
      int32_t index = 0;
      if (i8 == i12) {
        index = i8;
      } else if ((i8 > 0 && i12 > 0) || (i8 < 0 && i12 < 0)) {
        index = i12;
      }
      if (index == 0) continue;
      // A grid of many tiny whorls qualifies hundreds of blocks; the list holds
      // the first ones in scan order.
      if (list->count == kMaxSingularPoints) return list->count;
      SingularPoint& point = list->points[list->count++];
      point = SingularPoint{};
      point.x = bx;
      point.y = by;
      point.kind = KindOfIndex(index);
      point.direction = kNoSingularDirection;
    }
  }
  return list->count;
}

int32_t NearSingularPoint(const SingularPoint* points, int32_t count, int32_t x, int32_t y, int32_t radius) {
  // 64-bit so that no radius or coordinate can overflow; equal to the 32-bit
  // result wherever that one does not overflow.
  const int64_t limit = static_cast<int64_t>(radius) * radius;
  for (int32_t i = 0; i < count; ++i) {
    const int64_t dx = static_cast<int64_t>(points[i].x) - x;
    const int64_t dy = static_cast<int64_t>(points[i].y) - y;
    if (dx * dx + dy * dy < limit) return 1;
  }
  return 0;
}

uint32_t OrientationDisorder(int32_t w, int32_t h, const uint8_t* const* orientationMap, int32_t x, int32_t y,
                             int32_t r) {
  if (x < 0 || y < 0 || x >= w || y >= h) return 0;
  const int32_t o = orientationMap[y][x];
  if (o >= kOrientationLimit) return 0;
  // Inside the image this is the whole window; pixels beyond the border add nothing.
  const int32_t top = y - r < 0 ? 0 : y - r;
  const int32_t bottom = y + r >= h ? h - 1 : y + r;
  const int32_t left = x - r < 0 ? 0 : x - r;
  const int32_t right = x + r >= w ? w - 1 : x + r;
  uint32_t sum = 0;
  for (int32_t row = top; row <= bottom; ++row) {
    const uint8_t* line = orientationMap[row];
    for (int32_t column = left; column <= right; ++column) {
      const int32_t v = line[column];
      if (v < kOrientationLimit) sum += static_cast<uint32_t>(FoldedDifference(o, v));
    }
  }
  return sum;
}

uint8_t SingularDirection(int32_t w, int32_t h, const uint8_t* const* orientationMap, int32_t x, int32_t y,
                          int32_t radius) {
  int32_t best = kHalfTurn;
  uint8_t result = kNoSingularDirection;
  const int64_t r = radius;
  for (int32_t cy = y - radius; cy <= y + radius; ++cy) {
    for (int32_t cx = x - radius; cx <= x + radius; ++cx) {
      const int64_t dy = y - cy;
      const int64_t dx = x - cx;
      const int64_t off = dx * dx + dy * dy - r * r;
      if (off >= r || off <= -r) continue;  // one pixel wide circle of radius R
      const uint8_t t = DirectionOf(x, y, cx, cy);
      const int32_t o = t >= kHalfTurn ? t - kHalfTurn : t;
      int32_t sum = 0;
      int32_t count = 0;
      for (DigitalLine line = StartDigitalLine(cx, cy, x, y); !DigitalLineDone(line); StepDigitalLine(&line)) {
        if (line.x < 0 || line.y < 0 || line.x >= w || line.y >= h) continue;
        sum += FoldedDifference(orientationMap[line.y][line.x] & kOrientationBits, o);
        ++count;
      }
      const int32_t mean = count > 0 ? sum / count : kNoLineMean;
      if (mean < best) {
        best = mean;
        result = t;
      }
    }
  }
  return result;
}

int32_t LocateSingularPoints(int32_t w, int32_t h, const uint8_t* const* orientationMap,
                             const SingularPointList& detected, SingularPoint* located, uint32_t locateRadius,
                             uint32_t directionRadius) {
  const int32_t total = detected.count < kMaxSingularPoints ? detected.count : kMaxSingularPoints;
  const int32_t r = static_cast<int32_t>(locateRadius);
  bool assigned[kMaxSingularPoints] = {};
  SingularPoint cluster[kMaxSingularPoints];
  int32_t remaining = total;
  int32_t count = 0;
  while (remaining > 0) {
    // Grow one cluster: passes over the list until a pass adds nothing.
    int32_t members = 0;
    for (bool grew = true; grew;) {
      grew = false;
      for (int32_t i = 0; i < total; ++i) {
        const SingularPoint& point = detected.points[i];
        if (assigned[i]) continue;
        if (members > 0 && NearSingularPoint(cluster, members, point.x, point.y, kClusterLinkRadius) == 0) continue;
        assigned[i] = true;
        --remaining;
        cluster[members++] = point;
        grew = true;
      }
    }
    bool oneKind = true;
    for (int32_t m = 1; m < members; ++m) oneKind = oneKind && cluster[m].kind == cluster[0].kind;
    if (!oneKind) continue;  // a core next to a delta says nothing reliable

    int64_t best = -1;
    int32_t bestX = 0;
    int32_t bestY = 0;
    for (int32_t m = 0; m < members; ++m) {
      const int32_t x0 = kBlockSide * cluster[m].x;
      const int32_t y0 = kBlockSide * cluster[m].y;
      SearchDisorder(w, h, orientationMap, x0, y0, x0 + kBlockSide - 1, y0 + kBlockSide - 1, r, &best, &bestX,
                     &bestY);
    }
    const int32_t cx = bestX;
    const int32_t cy = bestY;
    SearchDisorder(w, h, orientationMap, cx - kRefineHalfWidth, cy - kRefineHalfWidth, cx + kRefineHalfWidth,
                   cy + kRefineHalfWidth, r, &best, &bestX, &bestY);

    SingularPoint& point = located[count++];
    point = SingularPoint{};
    point.x = bestX;
    point.y = bestY;
    point.kind = cluster[0].kind;
    point.direction =
        SingularDirection(w, h, orientationMap, bestX, bestY, static_cast<int32_t>(directionRadius));
  }
  return count;
}

}  // namespace vorsensor
