#pragma once
// Smooth random fields (value noise): random values on a coarse grid,
// interpolated with smooth weights. Used for ridge period variation, skin
// distortion, dryness and background shading.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "synth/synth_random.h"

namespace vorsensor::synth {

class SmoothNoise {
 public:
  // Covers [0, width) x [0, height) with grid cells of `cell` pixels; values in [-1, 1].
  SmoothNoise(double width, double height, double cell, SynthRandom& random);
  // Outside the covered area the nearest edge value is used.
  double At(double x, double y) const;

 private:
  double cell_;
  int32_t columns_;
  int32_t rows_;
  std::vector<double> grid_;
};

}  // namespace vorsensor::synth
