#pragma once
// The in-memory result of extraction: minutiae, singular points, an optional
// block direction grid and the density byte.
#include <cstdint>

namespace vorsensor {

constexpr int32_t kMaxMinutiae = 1024;
constexpr int32_t kMaxSingularPoints = 64;
constexpr int32_t kMaxGridSide = 128;

constexpr int32_t kMinutiaEnding = 1;
constexpr int32_t kMinutiaBifurcation = 2;
constexpr uint8_t kDroppedDirection = 255;   // marks a minutia to be compacted away
constexpr uint8_t kNoSpread = 255;           // orientation spread not computed
constexpr uint8_t kNoDensity = 255;          // no density copy
constexpr uint8_t kBackgroundBlock = 255;    // grid cell outside the finger

struct Minutia {
  int32_t x;          // column
  int32_t y;          // row
  int32_t type;       // kMinutiaEnding or kMinutiaBifurcation
  uint8_t direction;  // 0..239 direction units, kDroppedDirection when dropped
  uint8_t spread;     // orientation spread round the minutia, kNoSpread if none
  uint8_t density;    // density value at the minutia, kNoDensity if none
  uint8_t spare;
};

struct SingularPoint {
  int32_t x;
  int32_t y;
  int32_t kind;       // 0..3
  uint8_t direction;  // 0..239
  uint8_t spare[3];
};

struct FeatureSet {
  uint8_t densityByte;  // summary value of the final binary image
  int32_t minutiaCount;
  Minutia minutiae[kMaxMinutiae];
  int32_t singularCount;
  SingularPoint singular[kMaxSingularPoints];
  int32_t gridWidth;
  int32_t gridHeight;
  uint8_t grid[kMaxGridSide][kMaxGridSide];
};

// Copies the header, both counts, the used list entries and the used grid
// cells; other bytes of `target` are left as they are.
void CopyFeatureSet(FeatureSet* target, const FeatureSet* source);
// An empty set: no points, no grid, density byte 0.
void ClearFeatureSet(FeatureSet* set);

}  // namespace vorsensor
