#pragma once
// Border trimming: finds a bright strip at the left or right end of the rows
// (the edge of a sensor window), row by row from the top, and replaces it by
// the ridge texture next to it, continued outwards and smoothed across rows.
#include <cstdint>

namespace vorsensor {

// In place. brightMin: the least grey value of a strip pixel; rowWindow: rows
// on each side whose inner pixels give an edge pixel's percentile; percentile:
// the rank, in percent from the brightest, taken from that window (values above
// 100 count as 100); spread: rows on each side averaged by the outward fill.
// Returns kOk, or kOutOfMemory with the image unchanged.
int32_t TrimBorders(int32_t w, int32_t h, uint8_t* const* image, uint8_t brightMin, uint32_t rowWindow,
                    uint32_t percentile, uint32_t spread);

}  // namespace vorsensor
