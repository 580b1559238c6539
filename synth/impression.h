#pragma once
// One impression of a master fingerprint as a small sensor would capture it:
// placed and rotated within the sensor area, elastically distorted where the
// skin slides, with its own pressure and dryness, noise and background.
#include <cstdint>
#include <vector>

#include "imageio/grey_image.h"
#include "synth/master_fingerprint.h"

namespace vorsensor::synth {

constexpr int32_t kDefaultImpressionWidth = 256;
constexpr int32_t kDefaultImpressionHeight = 288;
constexpr int32_t kImpressionDpi = 500;

struct ImpressionOptions {
  int32_t width = kDefaultImpressionWidth;
  int32_t height = kDefaultImpressionHeight;
};

struct Impression {
  imageio::GreyImage image;             // width x height at 500 dpi, dark ridges on a light background
  std::vector<SingularPoint> singular;  // the master's singular points in this image's coordinates
  double rotation = 0.0;                // radians, master to image
  double shiftX = 0.0;                  // offset of the placement from the reference point, pixels
  double shiftY = 0.0;
};

// True when a point of `singular` lies within the image.
bool InsideImage(const Impression& impression, const SingularPoint& point);

Impression MakeImpression(const MasterFingerprint& master, uint64_t seed, const ImpressionOptions& options);

}  // namespace vorsensor::synth
