#pragma once
// The minutiae filter: marks minutiae that are crowded together, pairs that
// face each other at close range (both ends of a short break or bridge) and
// minutiae near the background or the image border; compaction then drops
// every marked minutia and every one without a direction.
#include <cstdint>

#include "engine/feature_set.h"

namespace vorsensor {

struct MinutiaeFilterParameters {
  int32_t crowdRadius;         // distance below which two minutiae are neighbours
  int32_t crowdMaxNeighbours;  // more neighbours than this: dropped
  int32_t pairDistance;        // facing pairs: distance limit (exclusive) unless both are bifurcations
  int32_t forkPairDistance;    // facing pairs: distance limit (exclusive) for two bifurcations
  int32_t pairAngleTolerance;  // facing pairs: greatest difference (exclusive) from opposite directions
  int32_t borderWindow;        // half size of the square that must lie inside the image and the foreground
};

// Marks records (direction kDroppedDirection): crowding first (counting every
// other record), then facing pairs among the unmarked, then the border and
// background window of the unmarked.
void FilterMinutiae(int32_t w, int32_t h, const uint8_t* const* orientationMap, Minutia* records, int32_t count,
                    const MinutiaeFilterParameters& parameters);

// Keeps, in their order, the records whose direction is not kDroppedDirection
// and returns their number.
int32_t CompactMinutiae(Minutia* records, int32_t count);

}  // namespace vorsensor
