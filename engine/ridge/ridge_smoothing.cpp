// The fixed smoothing passes: each pass streams the orientation of its entry
// image row by row (the per-pixel orientation measurement without its
// reliability) into the directional smoothing of that row. Both keep rings of
// the entry rows they still read, so row y is written in place as soon as its
// orientations are known, and no pass allocates more than a few rows.
#include "engine/ridge/ridge_smoothing.h"

#include "engine/result_codes.h"
#include "engine/ridge/line_smoothing.h"
#include "engine/ridge/pixel_orientation.h"

namespace vorsensor {
namespace {

// Smooths each row along the orientations streamed for it.
class SmoothingPass : public OrientationRows {
 public:
  SmoothingPass(LineRowRing& ring, uint8_t* const* image) : ring_(ring), image_(image) {}
  void Row(int32_t y, const uint8_t* orientation, const uint8_t*) override {
    ring_.Around(y);
    ring_.SmoothRow(y, orientation, nullptr, image_[y]);
  }

 private:
  LineRowRing& ring_;
  uint8_t* const* image_;
};

template <typename Stream>
int32_t SmoothPasses(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t passes, Stream stream) {
  if (passes == 0 || w <= 0 || h <= 0) return kOk;
  LineRowRing ring;
  if (!ring.Allocate(w, h)) return kOutOfMemory;
  for (uint32_t pass = 0; pass < passes; ++pass) {
    ring.Begin(ridgeImage);
    SmoothingPass rows(ring, ridgeImage);
    if (const int32_t rc = stream(rows); rc < 0) return rc;
  }
  return kOk;
}

}  // namespace

int32_t SmoothAlongGradient(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t r, uint32_t passes) {
  return SmoothPasses(w, h, ridgeImage, passes, [&](OrientationRows& rows) {
    return StreamGradientOrientation(w, h, ridgeImage, r, false, rows);
  });
}

int32_t SmoothAlongDifferences(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t r, uint32_t passes) {
  return SmoothPasses(w, h, ridgeImage, passes, [&](OrientationRows& rows) {
    return StreamDifferenceOrientation(w, h, ridgeImage, r, false, rows);
  });
}

}  // namespace vorsensor
