// Whole-pixel lengths of three-component vectors and the integer square root;
// DirectionOf and DistanceOf are inline (geometry_inline.h), sharing the root
// tables. Integer arithmetic only.
#include "geometry/geometry.h"

namespace vorsensor {
namespace {

using geometry_detail::CappedSquare;
using geometry_detail::OddLength;
using geometry_detail::SmallRoot;

constexpr uint32_t kSmallLimit = 65536;   // roots below 256 come from the tables
constexpr uint32_t kHighShift = 16;       // large values: root of the top 16 bits ...
constexpr uint32_t kHighRootShift = 8;    // ... times 256, then 8 bits refined

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

int32_t Distance3Of(int32_t a, int32_t b, int32_t c) {
  // A negative component counts as 0, not as its square.
  const auto component = [](int32_t v) { return v < 0 ? int64_t{0} : CappedSquare(v); };
  return OddLength(component(a) + component(b) + component(c));
}

}  // namespace vorsensor
