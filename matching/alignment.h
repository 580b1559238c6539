#pragma once
// Moving a sample onto the probe: turning and shifting its points (and its
// grid), stretching it for the scale search, and checking that a feature set
// handed in by a caller can be moved without overflow.
#include <cstdint>

#include "matching/grid_similarity.h"
#include "matching/match_state.h"

namespace vorsensor {

// Largest coordinate size accepted in a caller's feature set. Records give
// -2048..4094; the limit keeps every product of the turn and the stretch
// far inside 64 bits and every difference inside 32.
constexpr int32_t kMaxCoordinate = 1 << 20;

// kOk, or kOutOfRange when a count or grid side is outside its list or a
// point lies beyond kMaxCoordinate.
int32_t ValidateFeatureSet(const FeatureSet& set);

// Turns the sample slot by `rotation` about its centre: pair line
// orientations, minutiae, singular points, and the grid when `turnGrid`.
void TurnSample(PreparedSet* sample, int32_t rotation, bool turnGrid, GridScratch scratch);

// Adds the shift to every minutia and singular point, and shifts the grid.
void ShiftSample(FeatureSet* set, int32_t shiftX, int32_t shiftY, GridScratch scratch);

}  // namespace vorsensor
