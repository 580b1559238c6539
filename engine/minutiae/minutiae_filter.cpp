// The minutiae filter's three marking rules and the compaction.
#include "engine/minutiae/minutiae_filter.h"

#include <cstring>

#include "geometry/geometry.h"

namespace vorsensor {

namespace {

constexpr uint8_t kBackgroundBit = 0x80;  // orientation map: pixel outside the finger

bool Marked(const Minutia& m) { return m.direction == kDroppedDirection; }

// Whether DistanceOf(a, b) is surely `limit` or more without working it out:
// DistanceOf is never below the larger of |dx| and |dy|, up to its cap, so a
// limit at or below the cap is reached by a pair that far apart along an axis.
bool SurelyAtLeast(const Minutia& a, const Minutia& b, int32_t limit) {
  if (limit > geometry_detail::kMaxDistance) return false;
  const int64_t dx = int64_t{a.x} - b.x;
  const int64_t dy = int64_t{a.y} - b.y;
  return dx >= limit || -dx >= limit || dy >= limit || -dy >= limit;
}

// Crowding: each record counts every other one, marked or not.
void MarkCrowded(Minutia* records, int32_t count, const MinutiaeFilterParameters& p) {
  for (int32_t i = 0; i < count; ++i) {
    int32_t neighbours = 0;
    for (int32_t j = 0; j < count; ++j) {
      if (j != i && !SurelyAtLeast(records[i], records[j], p.crowdRadius) &&
          DistanceOf(records[i].x, records[i].y, records[j].x, records[j].y) < p.crowdRadius) {
        ++neighbours;
      }
    }
    if (neighbours > p.crowdMaxNeighbours) records[i].direction = kDroppedDirection;
  }
}

// Facing pairs: two close minutiae whose directions are nearly opposite.
void MarkFacingPairs(Minutia* records, int32_t count, const MinutiaeFilterParameters& p) {
  for (int32_t i = 0; i < count; ++i) {
    Minutia& a = records[i];
    for (int32_t j = 0; j < count; ++j) {
      Minutia& b = records[j];
      if (j == i || Marked(a) || Marked(b) || SurelyAtLeast(a, b, p.forkPairDistance)) continue;
      const int32_t d = DistanceOf(a.x, a.y, b.x, b.y);
      if (d >= p.forkPairDistance) continue;
      const bool bothForks = a.type == kMinutiaBifurcation && b.type == kMinutiaBifurcation;
      if (d >= p.pairDistance && !bothForks) continue;
      int32_t delta = int32_t{a.direction} - int32_t{b.direction};
      if (delta < 0) delta += kFullTurn;
      const int32_t offOpposite = delta > kHalfTurn ? delta - kHalfTurn : kHalfTurn - delta;
      if (offOpposite < p.pairAngleTolerance) {
        a.direction = kDroppedDirection;
        b.direction = kDroppedDirection;
      }
    }
  }
}

// Whether the square of half size r round (x, y) leaves the image or holds a
// background pixel. Eight map bytes at a time are tested for the bit.
bool NearBackground(int32_t w, int32_t h, const uint8_t* const* orientationMap, int32_t x, int32_t y, int64_t r) {
  if (x - r < 0 || y - r < 0 || x + r >= w || y + r >= h) return true;
  constexpr int32_t kRun = 8;
  constexpr uint64_t kEveryByte = 0x0101010101010101ull;
  constexpr uint64_t kBackgroundBits = kBackgroundBit * kEveryByte;
  const int32_t radius = static_cast<int32_t>(r);
  for (int32_t row = y - radius; row <= y + radius; ++row) {
    const uint8_t* line = orientationMap[row];
    int32_t c = x - radius;
    uint64_t any = 0;
    for (; c + kRun - 1 <= x + radius; c += kRun) {
      uint64_t v;
      std::memcpy(&v, line + c, sizeof v);
      any |= v;
    }
    for (; c <= x + radius; ++c) any |= line[c];
    if ((any & kBackgroundBits) != 0) return true;
  }
  return false;
}

}  // namespace

void FilterMinutiae(int32_t w, int32_t h, const uint8_t* const* orientationMap, Minutia* records, int32_t count,
                    const MinutiaeFilterParameters& parameters) {
  MarkCrowded(records, count, parameters);
  MarkFacingPairs(records, count, parameters);
  const int64_t r = parameters.borderWindow;
  for (int32_t i = 0; i < count; ++i) {
    Minutia& m = records[i];
    if (!Marked(m) && NearBackground(w, h, orientationMap, m.x, m.y, r)) m.direction = kDroppedDirection;
  }
}

int32_t CompactMinutiae(Minutia* records, int32_t count) {
  int32_t kept = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (!Marked(records[i])) records[kept++] = records[i];
  }
  return kept;
}

}  // namespace vorsensor
