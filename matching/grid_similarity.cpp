// Block direction grids in matching.
#include "matching/grid_similarity.h"

#include <cstdint>
#include <cstring>

#include "geometry/geometry.h"

namespace vorsensor {
namespace {

constexpr int32_t kBlockSide = 16;
constexpr int32_t kHalfBlock = 8;
constexpr int32_t kOrientationFold = 60;   // orientation differences fold at 60
constexpr int32_t kSameOrientation = 5;    // differences below count as 0
constexpr int32_t kOppositeOrientation = 50;  // differences above count as 60
constexpr int32_t kRoundHalf = kTrigScale / 2;

int32_t RoundTurned(int64_t value) {
  return static_cast<int32_t>((value > 0 ? value + kRoundHalf : value - kRoundHalf) / kTrigScale);
}

int32_t BlockShift(int32_t shift) {
  int32_t blocks = shift / kBlockSide;
  const int32_t rest = shift % kBlockSide;
  if (rest >= kHalfBlock) ++blocks;
  if (rest <= -kHalfBlock) --blocks;
  return blocks;
}

void CopyGrid(const FeatureSet& set, GridScratch scratch) {
  for (int32_t r = 0; r < set.gridHeight; ++r) std::memcpy(scratch[r], set.grid[r], static_cast<size_t>(set.gridWidth));
}

}  // namespace

void TurnGrid(FeatureSet* set, int32_t rotation, int32_t cx, int32_t cy, GridScratch scratch) {
  const int32_t width = set->gridWidth;
  const int32_t height = set->gridHeight;
  if (width <= 0 || height <= 0) return;
  CopyGrid(*set, scratch);
  const int32_t n = width > height ? width : height;
  const int64_t c = kCosine[rotation];
  const int64_t s = kSine[rotation];
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t i = 0; i < n; ++i) {
      const int64_t dx = static_cast<int64_t>(kBlockSide) * i - cx;
      const int64_t dy = static_cast<int64_t>(kBlockSide) * j - cy;
      const int32_t oi = (cx + RoundTurned(dx * c + dy * s)) / kBlockSide;
      const int32_t oj = (cy + RoundTurned(dy * c - dx * s)) / kBlockSide;
      uint8_t value = kBackgroundBlock;
      if (oi >= 0 && oi < width && oj >= 0 && oj < height) {
        const int32_t v = scratch[oj][oi];
        if (v != kBackgroundBlock) {
          int32_t turned = (v + rotation) % kFullTurn;
          if (turned >= kHalfTurn) turned -= kHalfTurn;
          value = static_cast<uint8_t>(turned);
        }
      }
      set->grid[j][i] = value;
    }
  }
  set->gridWidth = n;
  set->gridHeight = n;
}

void ShiftGrid(FeatureSet* set, int32_t shiftX, int32_t shiftY, GridScratch scratch) {
  const int32_t width = set->gridWidth;
  const int32_t height = set->gridHeight;
  if (width <= 0 || height <= 0) return;
  const int32_t bx = BlockShift(shiftX);
  const int32_t by = BlockShift(shiftY);
  if (bx == 0 && by == 0) return;
  CopyGrid(*set, scratch);
  for (int32_t j = 0; j < height; ++j) {
    for (int32_t i = 0; i < width; ++i) {
      const int32_t oi = i - bx;
      const int32_t oj = j - by;
      // Columns are bounded by the width and rows by the height, so a
      // non-square grid never reads cells outside its used area.
      const bool inside = oi >= 0 && oi < width && oj >= 0 && oj < height;
      set->grid[j][i] = inside ? scratch[oj][oi] : kBackgroundBlock;
    }
  }
}

GridAgreement GridSimilarity(const FeatureSet& probe, const FeatureSet& sample) {
  const int32_t columns = probe.gridWidth < sample.gridWidth ? probe.gridWidth : sample.gridWidth;
  const int32_t rows = probe.gridHeight < sample.gridHeight ? probe.gridHeight : sample.gridHeight;
  if (columns <= 0 || rows <= 0) return GridAgreement{1, 1};
  int32_t similarity = 0;
  int32_t denominator = 0;
  for (int32_t j = 0; j < rows; ++j) {
    for (int32_t i = 0; i < columns; ++i) {
      const int32_t a = probe.grid[j][i];
      const int32_t b = sample.grid[j][i];
      if (a == kBackgroundBlock || b == kBackgroundBlock) continue;
      // Orientations (0..119) fold at 60; other cell values are taken modulo
      // a half turn first so that the fold stays within 0..60.
      int32_t d = (a > b ? a - b : b - a) % kHalfTurn;
      if (d > kOrientationFold) d = kHalfTurn - d;
      if (d < kSameOrientation) d = 0;
      if (d > kOppositeOrientation) d = kOrientationFold;
      similarity += kOrientationFold - d;
      denominator += kOrientationFold;
    }
  }
  if (denominator == 0) return GridAgreement{0, 1};
  return GridAgreement{similarity, denominator};
}

}  // namespace vorsensor
