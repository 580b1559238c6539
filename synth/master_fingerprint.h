#pragma once
// A master fingerprint: the whole ridge pattern of one synthetic finger at
// 500 dpi, from which every impression of that finger is taken.
#include <cstdint>
#include <vector>

#include "synth/pattern_model.h"

namespace vorsensor::synth {

struct MasterFingerprint {
  int32_t width = 0;
  int32_t height = 0;
  PatternClass pattern = PatternClass::kArch;
  std::vector<int16_t> ridges;  // width x height, +-kRidgeFull, positive on ridges
  std::vector<SingularPoint> singular;
  double meanPeriod = 0.0;      // the finger's base ridge period in pixels
  // Pad outline: an ellipse of half-width halfWidth and half-height topHeight
  // above the centre, straight sides below it down to the first finger crease.
  double centreX = 0.0;
  double centreY = 0.0;
  double halfWidth = 0.0;
  double topHeight = 0.0;
  double bottomDepth = 0.0;
};

// Generates the master of one finger; the same seed and class always give the same master.
MasterFingerprint MakeMaster(uint64_t seed, PatternClass pattern);

// How far (x, y) lies inside the pad outline: 1 well inside, 0 outside, a
// smooth ramp over `edge` pixels at the outline.
double PadCoverage(const MasterFingerprint& master, double x, double y, double edge);

// The ridge field at a point, bilinear between pixels, in [-1, 1] (0 outside).
double RidgeAt(const MasterFingerprint& master, double x, double y);

}  // namespace vorsensor::synth
