// The fixed smoothing passes: a pass takes the orientation of every pixel from
// a copy of its entry image (the per-pixel orientation stage, whose
// reliability output is not needed here) and then runs the directional
// smoothing, which reads the entry values too.
#include "engine/ridge/ridge_smoothing.h"

#include "engine/result_codes.h"
#include "engine/ridge/line_smoothing.h"
#include "engine/ridge/pixel_orientation.h"
#include "engine/row_image.h"

namespace vorsensor {
namespace {

// Energy and flatness limits that never hold a window back: only the
// orientation is used.
constexpr uint8_t kNoEnergyLimit = 0;
constexpr uint8_t kNoFlatnessLimit = 0;

template <typename Orient>
int32_t SmoothPasses(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t passes, Orient orient) {
  if (passes == 0 || w <= 0 || h <= 0) return kOk;
  RowImage entry = AllocRowImage(w, h);
  RowImage orientation = AllocRowImage(w, h);
  if (!entry.valid() || !orientation.valid()) return kOutOfMemory;
  for (uint32_t pass = 0; pass < passes; ++pass) {
    CopyRowImage(entry.rows(), ridgeImage, w, h);
    if (const int32_t rc = orient(entry.rows(), orientation.rows()); rc < 0) return rc;
    if (const int32_t rc = DirectionalSmooth(w, h, ridgeImage, orientation.rows()); rc < 0) return rc;
  }
  return kOk;
}

}  // namespace

int32_t SmoothAlongGradient(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t r, uint32_t passes) {
  return SmoothPasses(w, h, ridgeImage, passes, [&](uint8_t* const* entry, uint8_t* const* orientation) {
    return GradientPixelOrientation(w, h, entry, orientation, r, kNoEnergyLimit);
  });
}

int32_t SmoothAlongDifferences(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t r, uint32_t passes) {
  return SmoothPasses(w, h, ridgeImage, passes, [&](uint8_t* const* entry, uint8_t* const* orientation) {
    return DifferencePixelOrientation(w, h, entry, orientation, r, kNoFlatnessLimit);
  });
}

}  // namespace vorsensor
