#pragma once
// The block direction grid in matching: turning and shifting a sample's grid
// with its minutiae, and the similarity of two grids.
#include <cstdint>

#include "engine/feature_set.h"

namespace vorsensor {

using GridScratch = uint8_t[kMaxGridSide][kMaxGridSide];

// Turns the grid by `rotation` about the pixel centre (cx, cy). The grid
// becomes square (the larger side); cells that come from outside it are
// background. Orientations are turned too.
void TurnGrid(FeatureSet* set, int32_t rotation, int32_t cx, int32_t cy, GridScratch scratch);

// Shifts the grid by whole blocks: shift / 16, one block further away from
// zero when the remainder is 8 or more in size. Cells that come from outside
// the grid are background.
void ShiftGrid(FeatureSet* set, int32_t shiftX, int32_t shiftY, GridScratch scratch);

struct GridAgreement {
  int32_t similarity;
  int32_t denominator;
};

// Agreement of the orientations the two grids share: (1, 1) when they share
// no rows or columns, (0, 1) when no cell is foreground in both.
GridAgreement GridSimilarity(const FeatureSet& probe, const FeatureSet& sample);

}  // namespace vorsensor
