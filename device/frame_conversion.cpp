#include "device/frame_conversion.h"

#include <cstring>

#include "device/driver_contract.h"

namespace vorsensor {
namespace {

constexpr uint8_t kWhite = 0xFF;

// Last row of each keystone band; the margin is 20 in the first band and one
// less in each later one.
constexpr int32_t kKeystoneBandEnds[] = {18, 37, 56, 75, 94, 114, 133, 152, 171, 190, 210, 229, 248, 267, 286, 287};
constexpr int32_t kTopMargin = 20;
// The source step per output column in 1/4096 columns: span x 16.
constexpr int32_t kKeystoneStepScale = 16;
constexpr int32_t kKeystoneFractionBits = 12;

// Source rows the stretch leaves out at the top, then the rows per band: each
// band of 16 source rows becomes 17 output rows, the first a mean row.
constexpr int32_t kStretchSkip = 8;
constexpr int32_t kStretchBand = 16;

uint8_t FilledPixel(const uint8_t* plane, int32_t x, int32_t y, int32_t width, int32_t height) {
  int32_t sum = 0;
  int32_t count = 0;
  if (y > 0) {
    sum += plane[(y - 1) * width + x];
    ++count;
  }
  if (x > 0) {
    sum += plane[y * width + x - 1];
    ++count;
  }
  if (x < width - 1) {
    sum += plane[y * width + x + 1];
    ++count;
  }
  if (y < height - 1) {
    sum += plane[(y + 1) * width + x];
    ++count;
  }
  return static_cast<uint8_t>(sum / count);
}

void CopyRow(const uint8_t* source, int32_t sourceRow, uint8_t* target, int32_t targetRow) {
  std::memcpy(target + targetRow * kImageWidth, source + sourceRow * kImageWidth, kImageWidth);
}

}  // namespace

void CheckerboardFill(const uint8_t* source, uint8_t* target, int32_t width, int32_t height) {
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = source + y * width;
    uint8_t* out = target + y * width;
    std::memcpy(out, row, static_cast<size_t>(width));
    // Filled pixels: x has the parity of y.
    const int32_t first = y & 1;
    if (y == 0 || y == height - 1) {
      for (int32_t x = first; x < width; x += 2) {
        out[x] = FilledPixel(source, x, y, width, height);
      }
      continue;
    }
    // Inside rows, all but the two end pixels take the four-neighbour mean
    // without bounds checks.
    const uint8_t* above = row - width;
    const uint8_t* below = row + width;
    for (int32_t x = first; x < width; x += 2) {
      if (x == 0 || x == width - 1) {
        out[x] = FilledPixel(source, x, y, width, height);
      } else {
        out[x] = static_cast<uint8_t>((above[x] + row[x - 1] + row[x + 1] + below[x]) >> 2);
      }
    }
  }
}

void MirrorRows(const uint8_t* source, uint8_t* target, int32_t width, int32_t height) {
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = source + y * width;
    uint8_t* out = target + y * width;
    for (int32_t x = 0; x < width; ++x) {
      out[x] = row[width - 1 - x];
    }
  }
}

int32_t KeystoneMargin(int32_t row) {
  int32_t margin = kTopMargin;
  for (const int32_t end : kKeystoneBandEnds) {
    if (row <= end) {
      return margin;
    }
    --margin;
  }
  return margin + 1;
}

void KeystoneResample(const uint8_t* source, uint8_t* target) {
  for (int32_t y = 0; y < kSensorRows; ++y) {
    const int32_t margin = KeystoneMargin(y);
    const int32_t step = (kSensorColumns - 2 * margin) * kKeystoneStepScale;
    const uint8_t* row = source + y * kSensorColumns + margin;
    uint8_t* out = target + y * kImageWidth;
    int32_t position = 0;
    for (int32_t i = 0; i < kImageWidth; ++i) {
      out[i] = row[position >> kKeystoneFractionBits];
      position += step;
    }
  }
}

void RowStretch(const uint8_t* source, uint8_t* target) {
  int32_t out = 0;
  for (int32_t s = kStretchSkip; s < kStretchSkip + kStretchBand; ++s) {
    CopyRow(source, s, target, out++);
  }
  for (int32_t band = kStretchSkip + kStretchBand; out < kImageHeight; band += kStretchBand) {
    const uint8_t* upper = source + (band - 1) * kImageWidth;
    const uint8_t* lower = source + band * kImageWidth;
    uint8_t* mean = target + out * kImageWidth;
    for (int32_t x = 0; x < kImageWidth; ++x) {
      mean[x] = static_cast<uint8_t>((upper[x] + lower[x]) >> 1);
    }
    ++out;
    for (int32_t s = band; s < band + kStretchBand && out < kImageHeight; ++s) {
      CopyRow(source, s, target, out++);
    }
  }
}

bool ConvertRawFrame(const uint8_t* raw, uint32_t bytesReturned, uint8_t* planeA, uint8_t* planeB, uint8_t* image) {
  const bool full = bytesReturned == static_cast<uint32_t>(kRawFrameBytes);
  if (full) {
    for (int32_t y = 0; y < kSensorRows; ++y) {
      std::memcpy(planeB + y * kSensorColumns, raw + y * kRawRowBytes + kRawRowHeader, kSensorColumns);
    }
  } else {
    std::memset(planeB, kWhite, kSensorPlaneBytes);
  }
  CheckerboardFill(planeB, planeA, kSensorColumns, kSensorRows);
  MirrorRows(planeA, planeB, kSensorColumns, kSensorRows);
  KeystoneResample(planeB, planeA);
  RowStretch(planeA, image);
  return full;
}

}  // namespace vorsensor
