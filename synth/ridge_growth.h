#pragma once
// Ridges grown by iterated oriented Gabor filtering: a random image is filtered
// again and again, each pixel with the kernel of its local ridge orientation and
// period, and its contrast renormalised and clipped. The pattern settles into
// ridges that follow the orientation field at the requested spacing, with the
// endings and bifurcations that such growth leaves where ridges must be added
// or lost. All arithmetic after the kernel table is integer.
#include <cstdint>
#include <vector>

#include "synth/synth_random.h"

namespace vorsensor::synth {

constexpr int kOrientationSteps = 48;     // quantised ridge orientations over half a turn
constexpr int kPeriodSteps = 11;          // quantised ridge periods
constexpr double kShortestPeriod = 7.5;   // pixels; step kPeriodStep
constexpr double kPeriodStep = 0.5;
constexpr int16_t kRidgeFull = 2048;      // ridge field values are clipped to +-this (ridge positive)

struct RidgeMaps {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> orientation;  // 0..kOrientationSteps-1 per pixel
  std::vector<uint8_t> period;       // 0..kPeriodSteps-1 per pixel
};

// Quantised index of a doubled orientation angle (radians) and of a period (pixels).
uint8_t OrientationIndex(double doubledAngle);
uint8_t PeriodIndex(double period);

// The grown ridge field, width x height values in +-kRidgeFull.
std::vector<int16_t> GrowRidges(const RidgeMaps& maps, int iterations, SynthRandom& random);

}  // namespace vorsensor::synth
