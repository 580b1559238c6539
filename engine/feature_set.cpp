// Copying and clearing feature sets. A copy moves only the parts in use: the
// full structure is about 36 KB, almost all of it unused list and grid space.
#include "engine/feature_set.h"

#include <cstddef>
#include <cstring>

namespace vorsensor {
namespace {

// A count clamped to 0..limit, so that a damaged count never copies past the lists.
int32_t Clamp(int32_t count, int32_t limit) {
  if (count < 0) return 0;
  return count > limit ? limit : count;
}

}  // namespace

void CopyFeatureSet(FeatureSet* target, const FeatureSet* source) {
  if (target == nullptr || source == nullptr || target == source) return;
  target->densityByte = source->densityByte;
  target->minutiaCount = source->minutiaCount;
  target->singularCount = source->singularCount;
  target->gridWidth = source->gridWidth;
  target->gridHeight = source->gridHeight;
  const int32_t minutiae = Clamp(source->minutiaCount, kMaxMinutiae);
  const int32_t singular = Clamp(source->singularCount, kMaxSingularPoints);
  const int32_t gridWidth = Clamp(source->gridWidth, kMaxGridSide);
  const int32_t gridHeight = Clamp(source->gridHeight, kMaxGridSide);
  std::memcpy(target->minutiae, source->minutiae, static_cast<size_t>(minutiae) * sizeof(Minutia));
  std::memcpy(target->singular, source->singular, static_cast<size_t>(singular) * sizeof(SingularPoint));
  for (int32_t r = 0; r < gridHeight; ++r) {
    std::memcpy(target->grid[r], source->grid[r], static_cast<size_t>(gridWidth));
  }
}

void ClearFeatureSet(FeatureSet* set) {
  if (set == nullptr) return;
  set->densityByte = 0;
  set->minutiaCount = 0;
  set->singularCount = 0;
  set->gridWidth = 0;
  set->gridHeight = 0;
}

}  // namespace vorsensor
