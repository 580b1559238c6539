#include "synth/smooth_noise.h"

#include "synth/synth_math.h"

namespace vorsensor::synth {

SmoothNoise::SmoothNoise(double width, double height, double cell, SynthRandom& random)
    : cell_(cell),
      columns_(static_cast<int32_t>(FloorToInt(width / cell)) + 2),
      rows_(static_cast<int32_t>(FloorToInt(height / cell)) + 2),
      grid_(static_cast<size_t>(columns_) * static_cast<size_t>(rows_)) {
  for (double& v : grid_) {
    v = random.Uniform(-1.0, 1.0);
  }
}

double SmoothNoise::At(double x, double y) const {
  const double gx = Clamp(x / cell_, 0.0, columns_ - 1.000001);
  const double gy = Clamp(y / cell_, 0.0, rows_ - 1.000001);
  const auto ix = static_cast<int32_t>(gx);
  const auto iy = static_cast<int32_t>(gy);
  const double fx = SmoothStep(gx - ix);
  const double fy = SmoothStep(gy - iy);
  const double* row0 = grid_.data() + static_cast<size_t>(iy) * static_cast<size_t>(columns_) + ix;
  const double* row1 = row0 + columns_;
  const double top = row0[0] + (row0[1] - row0[0]) * fx;
  const double bottom = row1[0] + (row1[1] - row1[0]) * fx;
  return top + (bottom - top) * fy;
}

}  // namespace vorsensor::synth
