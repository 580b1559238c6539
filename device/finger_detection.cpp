#include "device/finger_detection.h"

#include <cstdlib>
#include <cstring>

namespace vorsensor {
namespace {

constexpr int32_t kLast = kBlockMaskSide - 1;
constexpr int32_t kBlockPixels = kFingerBlockSide * kFingerBlockSide;
constexpr int32_t kWindowPixels = kFingerWindowSide * kFingerWindowSide;

bool Foreground(uint8_t value) { return value != kBackgroundMaskBlock; }

uint8_t& At(uint8_t* mask, int32_t bx, int32_t by) { return mask[by * kBlockMaskSide + bx]; }

uint8_t MeanOf(uint8_t a, uint8_t b) { return static_cast<uint8_t>((a + b) / 2); }

int32_t BlockContrast(const uint8_t* window, int32_t bx, int32_t by) {
  const uint8_t* block = window + by * kFingerBlockSide * kFingerWindowSide + bx * kFingerBlockSide;
  int32_t sum = 0;
  for (int32_t y = 0; y < kFingerBlockSide; ++y) {
    for (int32_t x = 0; x < kFingerBlockSide; ++x) sum += block[y * kFingerWindowSide + x];
  }
  const int32_t mean = sum / kBlockPixels;
  int32_t deviation = 0;
  for (int32_t y = 0; y < kFingerBlockSide; ++y) {
    for (int32_t x = 0; x < kFingerBlockSide; ++x) deviation += std::abs(block[y * kFingerWindowSide + x] - mean);
  }
  return deviation / kBlockPixels;
}

}  // namespace

void SetBlockContrasts(const uint8_t* window, uint8_t* mask) {
  for (int32_t by = 0; by < kBlockMaskSide; ++by) {
    for (int32_t bx = 0; bx < kBlockMaskSide; ++bx) {
      uint8_t& block = At(mask, bx, by);
      if (!Foreground(block)) continue;
      const int32_t contrast = BlockContrast(window, bx, by);
      block = contrast < kBlockContrastMin ? kBackgroundMaskBlock : static_cast<uint8_t>(contrast);
    }
  }
}

void CleanUpBlockMask(uint8_t* mask) {
  for (int32_t by = 1; by < kLast; ++by) {
    for (int32_t bx = 1; bx < kLast; ++bx) {
      const uint8_t up = At(mask, bx, by - 1);
      const uint8_t down = At(mask, bx, by + 1);
      const uint8_t upRight = At(mask, bx + 1, by - 1);
      const uint8_t downLeft = At(mask, bx - 1, by + 1);
      const uint8_t upLeft = At(mask, bx - 1, by - 1);
      const uint8_t downRight = At(mask, bx + 1, by + 1);
      uint8_t& block = At(mask, bx, by);
      if (!Foreground(block)) {
        if (Foreground(up) && Foreground(down)) {
          block = MeanOf(up, down);
        } else if (Foreground(upRight) && Foreground(downLeft)) {
          block = MeanOf(upRight, downLeft);
        } else if (Foreground(upLeft) && Foreground(downRight)) {
          block = MeanOf(upLeft, downRight);
        }
      } else if ((!Foreground(up) && !Foreground(down)) || (!Foreground(upRight) && !Foreground(downLeft)) ||
                 (!Foreground(upLeft) && !Foreground(downRight))) {
        block = kBackgroundMaskBlock;
      }
    }
  }
}

void FillMaskRows(uint8_t* mask) {
  for (int32_t by = 0; by < kBlockMaskSide; ++by) {
    int32_t first = 0;
    while (first < kBlockMaskSide && !Foreground(At(mask, first, by))) ++first;
    if (first == kBlockMaskSide) first = 0;
    int32_t last = kLast;
    while (last > 0 && !Foreground(At(mask, last, by))) --last;
    for (int32_t bx = first; bx < last; ++bx) {
      if (Foreground(At(mask, bx, by))) continue;
      bool below = false;
      for (int32_t y = by + 1; y < kBlockMaskSide && !below; ++y) below = Foreground(At(mask, bx, y));
      bool above = false;
      for (int32_t y = by - 1; y >= 0 && !above; --y) above = Foreground(At(mask, bx, y));
      if (below && above) At(mask, bx, by) = kFilledBlock;
    }
  }
}

void FillMaskColumns(uint8_t* mask) {
  for (int32_t bx = 0; bx < kBlockMaskSide; ++bx) {
    int32_t top = 0;
    while (top < kBlockMaskSide && !Foreground(At(mask, bx, top))) ++top;
    if (top == kBlockMaskSide) top = 0;
    int32_t bottom = kLast;
    while (bottom > 0 && !Foreground(At(mask, bx, bottom))) --bottom;
    for (int32_t by = top; by < bottom; ++by) {
      if (Foreground(At(mask, bx, by))) continue;
      bool right = false;
      for (int32_t x = bx + 1; x < kBlockMaskSide && !right; ++x) right = Foreground(At(mask, x, by));
      bool left = false;
      for (int32_t x = bx - 1; x >= 0 && !left; --x) left = Foreground(At(mask, x, by));
      if (right && left) At(mask, bx, by) = kFilledBlock;
    }
  }
}

void BuildBlockMask(const uint8_t* window, uint8_t* mask) {
  std::memset(mask, kFilledBlock, kBlockMaskBytes);
  for (int32_t i = 0; i < kBlockMaskSide; ++i) {
    At(mask, i, 0) = kBackgroundMaskBlock;
    At(mask, i, kLast) = kBackgroundMaskBlock;
    At(mask, 0, i) = kBackgroundMaskBlock;
    At(mask, kLast, i) = kBackgroundMaskBlock;
  }
  SetBlockContrasts(window, mask);
  CleanUpBlockMask(mask);
  FillMaskRows(mask);
  FillMaskColumns(mask);
  CleanUpBlockMask(mask);
}

FingerEvidence JudgeFingerImage(const uint8_t* image, int32_t width, int32_t height) {
  FingerEvidence evidence;
  if (image == nullptr || width <= 0 || height <= 0) return evidence;
  // The window's offset halves signed differences with an arithmetic shift,
  // and rows are read 256 bytes apart whatever the width. Only a window that
  // lies wholly inside the image's width x height bytes is read.
  const int64_t start = int64_t{(height - kFingerWindowSide) >> 1} * kFingerWindowSide +
                        ((width - kFingerWindowSide) >> 1);
  if (start < 0 || start + kWindowPixels > int64_t{width} * height) return evidence;
  const uint8_t* window = image + start;

  uint8_t mask[kBlockMaskBytes];
  BuildBlockMask(window, mask);
  for (const uint8_t block : mask) evidence.foregroundBlocks += Foreground(block) ? 1 : 0;
  int64_t sum = 0;
  for (int32_t i = 0; i < kWindowPixels; ++i) sum += window[i];
  evidence.meanGrey = static_cast<int32_t>(sum / kWindowPixels);
  evidence.present = evidence.meanGrey <= kFingerMeanGreyMax ||
                     evidence.foregroundBlocks * 100 > kFingerBlockCountMin * 100;
  return evidence;
}

int32_t CheckFingerImage(const uint8_t* image, int32_t width, int32_t height) {
  return JudgeFingerImage(image, width, height).present ? 0 : -1;
}

int32_t HasFinger(int32_t width, int32_t height, const uint8_t* image) {
  return CheckFingerImage(image, width, height) == 0 ? 1 : 0;
}

}  // namespace vorsensor
