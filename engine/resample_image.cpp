// Image resampling in integer arithmetic: copy, 2 x 2 halving or bilinear
// interpolation with weights in hundredths.
#include "engine/resample_image.h"

namespace vorsensor {

namespace {

constexpr int64_t kWeightScale = 100;    // interpolation weights are hundredths
constexpr int64_t kEvenWeight = 50;      // used where a weight falls exactly on a source pixel
constexpr int32_t kHalvingRound = 2;     // added before dividing a 2 x 2 sum by 4
constexpr int32_t kHalvingBlock = 4;

// Source position of target index i in hundredths, split into the lower index,
// the upper index (clamped) and the upper weight.
struct Tap {
  int32_t low;
  int32_t high;
  int64_t weight;
};

Tap TapOf(int32_t i, int32_t sourceSize, int32_t targetSize) {
  const int64_t p = static_cast<int64_t>(i) * sourceSize * kWeightScale / targetSize;
  Tap tap;
  tap.low = static_cast<int32_t>(p / kWeightScale);
  tap.high = tap.low + 1 < sourceSize ? tap.low + 1 : sourceSize - 1;
  tap.weight = p - kWeightScale * tap.low;
  if (tap.weight == 0 && sourceSize != targetSize) tap.weight = kEvenWeight;
  return tap;
}

}  // namespace

void ResampleImage(int32_t width, int32_t height, const uint8_t* const* source, int32_t nw, int32_t nh,
                   uint8_t* const* target) {
  if (width <= 0 || height <= 0 || nw <= 0 || nh <= 0) return;
  if (width == nw && height == nh) {
    for (int32_t y = 0; y < nh; ++y) {
      for (int32_t x = 0; x < nw; ++x) target[y][x] = source[y][x];
    }
    return;
  }
  if (width == 2 * nw && height == 2 * nh) {
    for (int32_t y = 0; y < nh; ++y) {
      const uint8_t* upper = source[2 * y];
      const uint8_t* lower = source[2 * y + 1];
      for (int32_t x = 0; x < nw; ++x) {
        const int32_t sum = upper[2 * x] + upper[2 * x + 1] + lower[2 * x] + lower[2 * x + 1];
        target[y][x] = static_cast<uint8_t>((sum + kHalvingRound) / kHalvingBlock);
      }
    }
    return;
  }
  constexpr int64_t kWeightTotal = kWeightScale * kWeightScale;
  for (int32_t y = 0; y < nh; ++y) {
    const Tap row = TapOf(y, height, nh);
    const uint8_t* upper = source[row.low];
    const uint8_t* lower = source[row.high];
    for (int32_t x = 0; x < nw; ++x) {
      const Tap column = TapOf(x, width, nw);
      const int64_t fy = row.weight, fx = column.weight;
      const int64_t value = upper[column.low] * (kWeightScale - fy) * (kWeightScale - fx) +
                            upper[column.high] * (kWeightScale - fy) * fx + lower[column.low] * fy * (kWeightScale - fx) +
                            lower[column.high] * fy * fx + kWeightTotal / 2;
      target[y][x] = static_cast<uint8_t>(value / kWeightTotal);
    }
  }
}

}  // namespace vorsensor
