// Direction of a vector by arctangent table look-up, whole-pixel lengths by a
// table-guided integer square root. Integer arithmetic only.
#include "matching/geometry/geometry.h"

#include <array>

namespace vorsensor {
namespace {

constexpr int32_t kArcTableSide = 50;                  // table indices 0..49
constexpr int32_t kArcTableMax = kArcTableSide - 1;    // larger vectors are scaled to this
constexpr int32_t kMaxDistance = 255;                  // distances are capped here
constexpr int32_t kSquareLimit = 256;                  // components from here count as capped
constexpr int64_t kCappedSquare = int64_t{kMaxDistance} * kMaxDistance;  // 65025
constexpr int64_t kSquareSumLimit = 65536;             // sums from here give the cap
constexpr uint32_t kRootTableSize = 256;
constexpr uint32_t kSmallLimit = 65536;                // roots below 256 come from the tables
constexpr uint32_t kMidLimit = 4096;                   // below: start from value >> 4
constexpr uint32_t kMidShift = 4;
constexpr uint32_t kStartShift = 8;                    // from kMidLimit: start from value >> 8
constexpr uint32_t kHighShift = 16;                    // large values: root of the top 16 bits ...
constexpr uint32_t kHighRootShift = 8;                 // ... times 256, then 8 bits refined

// Integer floor square root by plain bisection; only used at compile time to
// build the tables below.
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

// kSquares[r] = r * r for r 0..255, and 256 * 256 as a sentinel above every
// value that uses the table.
constexpr std::array<uint32_t, kRootTableSize + 1> MakeSquares() {
  std::array<uint32_t, kRootTableSize + 1> table{};
  for (uint32_t r = 0; r <= kRootTableSize; ++r) table[r] = r * r;
  return table;
}

// Exact roots of 0..255, the start for values below 256.
constexpr std::array<uint8_t, kRootTableSize> MakeByteRoots() {
  std::array<uint8_t, kRootTableSize> table{};
  for (uint32_t i = 0; i < kRootTableSize; ++i) table[i] = static_cast<uint8_t>(SlowRoot(i));
  return table;
}

// Start values: table[i] = floor(sqrt(i << shift)), a lower bound of the
// root of every value v with v >> shift == i. For the ranges in which each
// table is used the bound is at most two below the root (one for shift 4).
constexpr std::array<uint8_t, kRootTableSize> MakeRootStarts(uint32_t shift) {
  std::array<uint8_t, kRootTableSize> table{};
  for (uint32_t i = 0; i < kRootTableSize; ++i) table[i] = static_cast<uint8_t>(SlowRoot(i << shift));
  return table;
}

constexpr std::array<uint32_t, kRootTableSize + 1> kSquares = MakeSquares();
constexpr std::array<uint8_t, kRootTableSize> kByteRoots = MakeByteRoots();
constexpr std::array<uint8_t, kRootTableSize> kMidRootStarts = MakeRootStarts(kMidShift);
constexpr std::array<uint8_t, kRootTableSize> kRootStarts = MakeRootStarts(kStartShift);

// floor(sqrt(value)) for value < 65536: a start table gives a lower bound at
// most two below, and two comparisons with the squares raise it to the floor
// (a step is taken only while the next square still fits, so it never overshoots).
inline uint32_t SmallRoot(uint32_t value) {
  if (value < kRootTableSize) return kByteRoots[value];
  uint32_t root = value < kMidLimit ? kMidRootStarts[value >> kMidShift] : kRootStarts[value >> kStartShift];
  root += kSquares[root + 1] <= value ? 1 : 0;
  root += kSquares[root + 1] <= value ? 1 : 0;
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
  return (root & 1) == 0 ? root + 1 : root;
}

}  // namespace

uint32_t IntegerSqrt(uint32_t value) {
  if (value < kSmallLimit) return SmallRoot(value);
  // The root lies in [256 * r, 256 * (r + 1)) with r the root of the top 16
  // bits; settle the low 8 bits of the root one bit at a time.
  uint32_t root = SmallRoot(value >> kHighShift) << kHighRootShift;
  for (uint32_t bit = 1u << (kHighRootShift - 1); bit != 0; bit >>= 1) {
    const uint32_t candidate = root | bit;
    if (uint64_t{candidate} * candidate <= value) root = candidate;
  }
  return root;
}

uint8_t DirectionOf(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  // 64-bit differences: the full 32-bit range of the arguments cannot overflow.
  const int64_t dx = int64_t{x2} - x1;
  const int64_t dy = int64_t{y2} - y1;
  int64_t ax = Abs64(dx);
  int64_t ay = Abs64(dy);
  const int64_t m = ax > ay ? ax : ay;
  if (m >= kArcTableSide) {
    ax = (ax * kArcTableMax + m / 2) / m;
    ay = (ay * kArcTableMax + m / 2) / m;
  }
  const int32_t t = kArcTangent[ay][ax];
  int32_t direction;
  if (dx >= 1) {
    direction = dy >= 0 ? t : kFullTurn - t;
  } else {
    direction = dy >= 1 ? kHalfTurn - t : kHalfTurn + t;
  }
  if (direction == kFullTurn) direction = 0;
  return static_cast<uint8_t>(direction);
}

int32_t DistanceOf(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const int64_t ax = Abs64(int64_t{x1} - x2);
  const int64_t ay = Abs64(int64_t{y1} - y2);
  return OddLength(CappedSquare(ax) + CappedSquare(ay));
}

int32_t Distance3Of(int32_t a, int32_t b, int32_t c) {
  // A negative component counts as 0, not as its square.
  const auto component = [](int32_t v) { return v < 0 ? int64_t{0} : CappedSquare(v); };
  return OddLength(component(a) + component(b) + component(c));
}

}  // namespace vorsensor
