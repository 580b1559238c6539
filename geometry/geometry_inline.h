#pragma once
// Inline bodies of DirectionOf and DistanceOf (included by geometry.h only).
// The matcher calls both for every minutia pair of every sample it compares,
// so they live here where the compiler can inline them, and avoid
// data-dependent branches: pair vectors run 20 to 72 pixels, so a branch on
// "longer than the arctangent table" or on the quadrant is taken at random.
#include <array>
#include <cstdint>

namespace vorsensor {

extern const uint8_t kArcTangent[50][50];

namespace geometry_detail {

constexpr int32_t kArcTableSide = 50;                // table indices 0..49
constexpr int32_t kArcTableMax = kArcTableSide - 1;  // larger vectors are scaled to this
constexpr int32_t kFullTurnUnits = 240;
constexpr int32_t kMaxDistance = 255;                // distances are capped here
constexpr int32_t kSquareLimit = 256;                // components from here count as capped
constexpr int64_t kCappedSquare = int64_t{kMaxDistance} * kMaxDistance;  // 65025
constexpr int64_t kSquareSumLimit = 65536;           // sums from here give the cap
constexpr uint32_t kRootTableSize = 256;
constexpr uint32_t kMidLimit = 4096;                 // below: start from value >> 4
constexpr uint32_t kMidShift = 4;
constexpr uint32_t kStartShift = 8;                  // from kMidLimit: start from value >> 8

// Scaling a vector into the arctangent table divides by its larger component
// m. For m up to kReciprocalMax (every vector a distance-capped pair can
// have) the quotient is taken as (n * kReciprocal[m]) >> kReciprocalShift
// with kReciprocal[m] = ceil(2^24 / m). The numerators are below 50 m, so the
// rounding error n (kReciprocal[m] - 2^24 / m) / 2^24 < 12800 / 2^24 stays
// below the 1 / m that separates n / m from the next whole number: the
// quotient is exact (the geometry tests check every vector up to this length).
constexpr int32_t kReciprocalMax = 255;
constexpr uint32_t kReciprocalShift = 24;

constexpr uint32_t SlowRoot(uint32_t value) {
  uint32_t low = 0;
  uint32_t high = 65536;  // exclusive bound for any 32-bit value
  while (high - low > 1) {
    const uint32_t mid = (low + high) / 2;
    if (uint64_t{mid} * mid <= value) {
      low = mid;
    } else {
      high = mid;
    }
  }
  return low;
}

struct GeometryTables {
  // r * r for r 0..255, and 256 * 256 as a sentinel above every value that uses it.
  std::array<uint32_t, kRootTableSize + 1> squares{};
  // Exact roots of 0..255, the start for values below 256.
  std::array<uint8_t, kRootTableSize> byteRoots{};
  // Start values floor(sqrt(i << shift)): a lower bound of the root of every
  // value v with v >> shift == i, at most two below it (one for shift 4) in
  // the ranges where each is used.
  std::array<uint8_t, kRootTableSize> midRootStarts{};
  std::array<uint8_t, kRootTableSize> rootStarts{};
  // ceil(2^24 / m) for m 1..kReciprocalMax (entry 0 unused).
  std::array<uint32_t, kReciprocalMax + 1> reciprocal{};

  constexpr GeometryTables() {
    for (uint32_t r = 0; r <= kRootTableSize; ++r) squares[r] = r * r;
    for (uint32_t i = 0; i < kRootTableSize; ++i) {
      byteRoots[i] = static_cast<uint8_t>(SlowRoot(i));
      midRootStarts[i] = static_cast<uint8_t>(SlowRoot(i << kMidShift));
      rootStarts[i] = static_cast<uint8_t>(SlowRoot(i << kStartShift));
    }
    for (uint32_t m = 1; m <= static_cast<uint32_t>(kReciprocalMax); ++m) {
      reciprocal[m] = static_cast<uint32_t>(((uint64_t{1} << kReciprocalShift) + m - 1) / m);
    }
  }
};

inline constexpr GeometryTables kTables{};

// floor(sqrt(value)) for value < 65536: a start table gives a lower bound at
// most two below, and two comparisons with the squares raise it to the floor
// (a step is taken only while the next square still fits, so it never overshoots).
inline uint32_t SmallRoot(uint32_t value) {
  if (value < kRootTableSize) return kTables.byteRoots[value];
  uint32_t root = value < kMidLimit ? kTables.midRootStarts[value >> kMidShift] : kTables.rootStarts[value >> kStartShift];
  root += kTables.squares[root + 1] <= value ? 1 : 0;
  root += kTables.squares[root + 1] <= value ? 1 : 0;
  return root;
}

inline int64_t Abs64(int64_t v) { return v < 0 ? -v : v; }

// The square of one component as the distance rule counts it.
inline int64_t CappedSquare(int64_t component) {
  return component < kSquareLimit ? component * component : kCappedSquare;
}

// Root of a sum of squares, capped and raised to the next odd number.
inline int32_t OddLength(int64_t sumOfSquares) {
  int32_t root = kMaxDistance;
  if (sumOfSquares < kSquareSumLimit) root = static_cast<int32_t>(SmallRoot(static_cast<uint32_t>(sumOfSquares)));
  return root | 1;  // an even root becomes the next odd number
}

// `chosen` when `condition` holds, else `other`, by masks (no branch).
inline int64_t Select(bool condition, int64_t chosen, int64_t other) {
  const int64_t mask = -static_cast<int64_t>(condition);
  return (chosen & mask) | (other & ~mask);
}

// The direction of a vector from its table angle t, by quadrant: index
// 2 * (dx >= 1) + (upper half), where the upper half is dy >= 0 on the right
// and dy >= 1 on the left (so (0, 0) falls to the left, lower half).
struct QuadrantRule {
  int32_t base;
  int32_t sign;
};
inline constexpr QuadrantRule kQuadrants[4] = {
    {kFullTurnUnits / 2, 1},   // left, lower: 120 + t
    {kFullTurnUnits / 2, -1},  // left, upper: 120 - t
    {kFullTurnUnits, -1},      // right, lower: 240 - t
    {0, 1},                    // right, upper: t
};

}  // namespace geometry_detail

inline uint8_t DirectionOf(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  using namespace geometry_detail;
  // 64-bit differences: the full 32-bit range of the arguments cannot overflow.
  const int64_t dx = int64_t{x2} - x1;
  const int64_t dy = int64_t{y2} - y1;
  const int64_t ax = Abs64(dx);
  const int64_t ay = Abs64(dy);
  const int64_t m = ax > ay ? ax : ay;
  // Vectors longer than the table are scaled to it: a = (a * 49 + m / 2) / m.
  const int64_t half = m / 2;
  int64_t tx;
  int64_t ty;
  if (m <= kReciprocalMax) {  // the common case, so this branch is well predicted
    // Both the scaled and the unscaled components are computed and one is
    // kept by mask, as whether m reaches the table side is random.
    const uint64_t r = kTables.reciprocal[m];  // entry 0 (m = 0) gives 0, unused
    const int64_t sx = static_cast<int64_t>((static_cast<uint64_t>(ax * kArcTableMax + half) * r) >> kReciprocalShift);
    const int64_t sy = static_cast<int64_t>((static_cast<uint64_t>(ay * kArcTableMax + half) * r) >> kReciprocalShift);
    const bool scaled = m >= kArcTableSide;
    tx = Select(scaled, sx, ax);
    ty = Select(scaled, sy, ay);
  } else {
    tx = (ax * kArcTableMax + half) / m;
    ty = (ay * kArcTableMax + half) / m;
  }
  const int32_t t = kArcTangent[ty][tx];
  const int32_t right = dx >= 1 ? 1 : 0;
  const int32_t upper = dy + right >= 1 ? 1 : 0;
  const QuadrantRule& q = kQuadrants[2 * right + upper];
  const int32_t direction = q.base + q.sign * t;  // 240 only as 240 - 0, which is direction 0
  return static_cast<uint8_t>(direction == kFullTurnUnits ? 0 : direction);
}

inline int32_t DistanceOf(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  using namespace geometry_detail;
  const int64_t ax = Abs64(int64_t{x1} - x2);
  const int64_t ay = Abs64(int64_t{y1} - y2);
  return OddLength(CappedSquare(ax) + CappedSquare(ay));
}

}  // namespace vorsensor
