// The finger box: darkness profiles of the columns and rows, the box they give,
// cutting, pasting back and moving the features.
#include "engine/finger_box.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vorsensor {

namespace {

constexpr int64_t kDarknessScale = 100;  // darkness of a line in hundredths of a grey level per pixel
constexpr uint8_t kWhite = 255;

// One side of the box along an axis of `size` lines, each with its darkness
// sum over `across` pixels.
struct Span {
  int32_t start;
  int32_t length;
};

Span FindSpan(const std::vector<int64_t>& sums, int32_t size, int32_t across, uint32_t level, uint32_t minSide) {
  const int32_t least = static_cast<int32_t>(std::min<uint32_t>(minSide, static_cast<uint32_t>(size)));
  auto dark = [&](int32_t i) {
    return across > 0 && kDarknessScale * sums[static_cast<size_t>(i)] / across >= static_cast<int64_t>(level);
  };
  int32_t start = size;
  for (int32_t i = 0; i < size; ++i) {
    if (dark(i)) {
      start = i;
      break;
    }
  }
  if (size - start < least) start = size - least;
  start -= start % kFingerBoxAlign;

  int32_t length = 0;
  for (int32_t i = size - 1; i >= start; --i) {
    if (dark(i)) {
      length = i - start + 1;
      break;
    }
  }
  length = std::max(length, least);
  if (length % kFingerBoxAlign != 0) length += kFingerBoxAlign - length % kFingerBoxAlign;
  length = std::min(length, size - start);
  return Span{start, length};
}

}  // namespace

FingerBox FindFingerBox(int32_t nw, int32_t nh, const uint8_t* const* image, uint32_t level, uint32_t minSide) {
  if (nw <= 0 || nh <= 0) return FingerBox{0, 0, std::max(nw, 0), std::max(nh, 0)};
  std::vector<int64_t> columns(static_cast<size_t>(nw), 0);
  std::vector<int64_t> rows(static_cast<size_t>(nh), 0);
  for (int32_t y = 0; y < nh; ++y) {
    const uint8_t* row = image[y];
    int64_t rowSum = 0;
    for (int32_t x = 0; x < nw; ++x) {
      const int32_t darkness = kWhite - row[x];
      rowSum += darkness;
      columns[static_cast<size_t>(x)] += darkness;
    }
    rows[static_cast<size_t>(y)] = rowSum;
  }
  const Span across = FindSpan(columns, nw, nh, level, minSide);
  const Span down = FindSpan(rows, nh, nw, level, minSide);
  return FingerBox{across.start, down.start, across.length, down.length};
}

bool CutsImage(const FingerBox& box, int32_t nw, int32_t nh) {
  return box.x0 != 0 || box.y0 != 0 || box.width != nw || box.height != nh;
}

void CutImage(const uint8_t* const* image, const FingerBox& box, uint8_t* const* cutout) {
  for (int32_t y = 0; y < box.height; ++y) {
    std::memcpy(cutout[y], image[box.y0 + y] + box.x0, static_cast<size_t>(box.width));
  }
}

void PasteImage(uint8_t* const* image, int32_t nw, int32_t nh, const FingerBox& box, const uint8_t* const* cutout) {
  for (int32_t y = 0; y < nh; ++y) {
    uint8_t* row = image[y];
    if (y < box.y0 || y >= box.y0 + box.height) {
      std::memset(row, kWhite, static_cast<size_t>(nw));
      continue;
    }
    std::memset(row, kWhite, static_cast<size_t>(box.x0));
    std::memcpy(row + box.x0, cutout[y - box.y0], static_cast<size_t>(box.width));
    std::memset(row + box.x0 + box.width, kWhite, static_cast<size_t>(nw - box.x0 - box.width));
  }
}

void ShiftFeatures(FeatureSet* features, const FingerBox& box, int32_t nw, int32_t nh) {
  for (int32_t i = 0; i < features->minutiaCount; ++i) {
    features->minutiae[i].x += box.x0;
    features->minutiae[i].y += box.y0;
  }
  for (int32_t i = 0; i < features->singularCount; ++i) {
    features->singular[i].x += box.x0;
    features->singular[i].y += box.y0;
  }
  if (features->gridWidth == 0 || features->gridHeight == 0) return;
  const int32_t oldWidth = features->gridWidth, oldHeight = features->gridHeight;
  const int32_t newWidth = std::min(nw / kFingerBoxAlign, kMaxGridSide);
  const int32_t newHeight = std::min(nh / kFingerBoxAlign, kMaxGridSide);
  const int32_t dx = box.x0 / kFingerBoxAlign, dy = box.y0 / kFingerBoxAlign;
  // From the last cell backwards: the moved grid lies right of and below its
  // old place, so every cell is read before anything is written over it.
  for (int32_t y = newHeight - 1; y >= 0; --y) {
    const int32_t oldY = y - dy;
    for (int32_t x = newWidth - 1; x >= 0; --x) {
      const int32_t oldX = x - dx;
      const bool inside = oldY >= 0 && oldY < oldHeight && oldX >= 0 && oldX < oldWidth;
      features->grid[y][x] = inside ? features->grid[oldY][oldX] : kBackgroundBlock;
    }
  }
  features->gridWidth = newWidth;
  features->gridHeight = newHeight;
}

}  // namespace vorsensor
