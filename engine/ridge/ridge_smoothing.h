#pragma once
// Fixed smoothing passes over the binary ridge image: each pass measures
// every pixel's orientation from the pass's entry image (over the square
// window of half-width r, exactly as the per-pixel orientation stage does)
// and smooths the pixel along it with the line kernel. The image turns grey.
// Both return kOk, or kOutOfMemory before the pass that lacks memory changes
// anything (earlier passes stay done).
#include <cstdint>

namespace vorsensor {

// Orientation from the mean gradient moments of the window.
int32_t SmoothAlongGradient(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t r, uint32_t passes);

// Orientation from the window sums of directional differences; where they
// give none (all four equal) the pixel takes its 3 x 3 mean.
int32_t SmoothAlongDifferences(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t r, uint32_t passes);

}  // namespace vorsensor
