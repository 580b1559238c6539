#pragma once
// Integer geometry in direction units (1/240 of a turn; 0 towards +x, 60
// towards +y, i.e. down the image) and whole-pixel distances. No floating point.
#include <cstdint>

namespace vorsensor {

constexpr int32_t kFullTurn = 240;
constexpr int32_t kHalfTurn = 120;
constexpr int32_t kTrigScale = 10000;

// Direction 0..239 of the vector from (x1, y1) to (x2, y2); the zero vector gives 180.
// (Inline, in geometry_inline.h.)
inline uint8_t DirectionOf(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// Euclidean length capped at 255, raised to the next odd number when even (1..255).
// (Inline, in geometry_inline.h.)
inline int32_t DistanceOf(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// The same for a three-component vector; negative components count as 0.
int32_t Distance3Of(int32_t a, int32_t b, int32_t c);
// floor(sqrt(value)).
uint32_t IntegerSqrt(uint32_t value);

// sin and cos of k direction units times 10000, rounded (k 0..239).
extern const int32_t kSine[kFullTurn];
extern const int32_t kCosine[kFullTurn];
// atan2(y, x) in direction units, [|dy|][|dx|], 0..60; [0][0] = 60.
extern const uint8_t kArcTangent[50][50];

}  // namespace vorsensor

#include "geometry/geometry_inline.h"  // IWYU pragma: export
