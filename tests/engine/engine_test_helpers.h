#pragma once
// Set-up shared by the engine tests: the default configuration as a value and
// the stage outputs the pipeline hands over.
#include <string>
#include <vector>

#include "engine/engine_configuration.h"

namespace vorsensor::testing {

inline EngineConfiguration DefaultConfiguration() {
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  return config;
}

// The stage output keys in the order handed over; the single-mean
// binarisation makes no density maps.
inline std::vector<std::string> StageKeys(bool adaptiveBinarisation = true) {
  std::vector<std::string> keys = {
      "normalised", "block-orientation", "block-reliability", "block-orientation-voted", "singular-detected",
      "pixel-orientation", "pixel-reliability", "singular-points", "orientation-map", "quality", "smoothed",
      "edge-density", "density-copy", "binary-first", "ridge-smoothed", "pass-counts", "orientation-refreshed",
      "ridge-pass-smoothed", "binary-second", "binary-final", "ridge-density", "skeleton-thinned", "skeleton-joined",
      "skeleton-cleaned", "minutiae-scanned", "minutiae"};
  if (!adaptiveBinarisation) keys.erase(keys.begin() + 11, keys.begin() + 13);
  return keys;
}

}  // namespace vorsensor::testing
