// The refresh measures the orientation and its reliability of the smoothed
// image with the per-pixel orientation stage (no energy or flatness limit),
// then turns the reliability into pass counts.
#include "engine/ridge/orientation_refresh.h"

#include "engine/result_codes.h"
#include "engine/ridge/foreground.h"
#include "engine/ridge/pixel_orientation.h"
#include "engine/ridge/singular_points.h"
#include "engine/row_image.h"

namespace vorsensor {
namespace {

constexpr uint8_t kNoEnergyLimit = 0;
constexpr uint8_t kNoFlatnessLimit = 0;

int32_t GuardRadius(uint32_t radius) { return radius > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(radius); }

template <typename Orient, typename Extra>
int32_t Refresh(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* orientationMap,
                uint8_t* const* scratch, const SingularPoint* singularPoints, int32_t singularCount,
                const PassCountRule& rule, uint32_t singularGuardRadius, Orient orient, Extra extra) {
  if (w <= 0 || h <= 0) return kOk;
  RowImage reliability = AllocRowImage(w, h);
  RowImage orientation = AllocRowImage(w, h);
  if (!reliability.valid() || !orientation.valid()) return kOutOfMemory;
  CopyRowImage(reliability.rows(), ridgeImage, w, h);
  if (const int32_t rc = orient(reliability.rows(), orientation.rows()); rc < 0) return rc;
  const int32_t guard = GuardRadius(singularGuardRadius);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* map = orientationMap[y];
    uint8_t* counts = scratch[y];
    const uint8_t* fresh = orientation[y];
    const uint8_t* value = reliability[y];
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t background = static_cast<uint8_t>(map[x] & kBackgroundMark);
      map[x] = static_cast<uint8_t>(fresh[x] | background);
      uint32_t passes = 0;
      if (background == 0 && NearSingularPoint(singularPoints, singularCount, x, y, guard) == 0) {
        passes = rule.base + extra(value[x]);
      }
      counts[x] = static_cast<uint8_t>((counts[x] & ~kPassCountBits) | (passes & kPassCountBits));
    }
  }
  return kOk;
}

}  // namespace

uint32_t GradientExtraPasses(uint8_t coherence, const PassCountRule& rule) {
  const int32_t high = rule.high, low = rule.low;
  if (high == low) return 0;
  const int32_t c = coherence < low ? low : coherence;
  const int64_t a = c > high ? 0 : high - c;
  const int64_t span = high - low;
  return static_cast<uint32_t>((static_cast<int64_t>(rule.range) * a + span / 2) / span);
}

uint32_t DifferenceExtraPasses(uint8_t ratio, const PassCountRule& rule) {
  const int64_t high = rule.high, low = rule.low;
  const int64_t q = ratio > high ? high : ratio;
  const int64_t a = q < low ? 0 : q - low;
  int64_t v = a * rule.range;
  const int64_t step = high - low;
  uint32_t k = 0;
  if (step <= 0) return 0;  // no span to count in (refused by the configuration check)
  while (v >= step >> 1) {
    v -= step;
    ++k;
  }
  // With a span of 1 half a step is 0, so the count would run one past the
  // range (and into the density bits); it stops at the range.
  return k > rule.range ? rule.range : k;
}

int32_t RefreshByGradient(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* orientationMap,
                          uint8_t* const* scratch, const SingularPoint* singularPoints, int32_t singularCount,
                          uint32_t r, const PassCountRule& rule, uint32_t singularGuardRadius) {
  return Refresh(
      w, h, ridgeImage, orientationMap, scratch, singularPoints, singularCount, rule, singularGuardRadius,
      [&](uint8_t* const* grey, uint8_t* const* orientation) {
        return GradientPixelOrientation(w, h, grey, orientation, r, kNoEnergyLimit);
      },
      [&](uint8_t coherence) { return GradientExtraPasses(coherence, rule); });
}

int32_t RefreshByDifferences(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* orientationMap,
                             uint8_t* const* scratch, const SingularPoint* singularPoints, int32_t singularCount,
                             uint32_t r, const PassCountRule& rule, uint32_t singularGuardRadius) {
  return Refresh(
      w, h, ridgeImage, orientationMap, scratch, singularPoints, singularCount, rule, singularGuardRadius,
      [&](uint8_t* const* grey, uint8_t* const* orientation) {
        return DifferencePixelOrientation(w, h, grey, orientation, r, kNoFlatnessLimit);
      },
      [&](uint8_t ratio) { return DifferenceExtraPasses(ratio, rule); });
}

}  // namespace vorsensor
