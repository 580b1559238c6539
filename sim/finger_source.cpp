#include "sim/finger_source.h"

#include <algorithm>

namespace vorsensor::sim {
namespace {

constexpr uint8_t kRowHeaderMark = 0xA5;
constexpr uint8_t kBlankGrey = 232;
constexpr int32_t kBlankTexture = 4;

// Image row that sensor row s ends up as after the vertical stretch (rows
// 8..279 of the sensor's 288; the 16 rows above and below are not seen).
int32_t ImageRowOf(int32_t s) {
  if (s < 8) return 0;
  if (s < 24) return s - 8;
  if (s >= 280) return kFingerHeight - 1;
  const int32_t band = (s - 24) / 16;
  return 17 + 17 * band + (s - 24) % 16;
}

}  // namespace

int32_t OpticalMargin(int32_t row) {
  // Bands of 19 rows from 20 down, the bands of 15 and 10 one row longer, and
  // a last band of one row with 5.
  int32_t margin = 20;
  int32_t start = 0;
  while (margin > 5) {
    const int32_t length = (margin == 15 || margin == 10) ? 20 : 19;
    if (row < start + length) return margin;
    start += length;
    --margin;
  }
  return 5;
}

void MakeRawFrame(const uint8_t* image, uint8_t* raw) {
  uint8_t mirrored[kRowPixels];
  for (int32_t s = 0; s < kFrameRows; ++s) {
    const uint8_t* source = image + ImageRowOf(s) * kFingerWidth;
    const int32_t m = OpticalMargin(s);
    const int32_t span = kRowPixels - 2 * m;
    // Between the columns the conversion samples, grey is interpolated
    // linearly; the sampled columns m + floor(i * span / 256) get pixel i itself.
    for (int32_t c = 0; c < kRowPixels; ++c) {
      const int32_t scaled = std::clamp(c - m, 0, span - 1) * kFingerWidth;  // image position x span
      const int32_t i = std::min(scaled / span, kFingerWidth - 1);
      const int32_t next = std::min(i + 1, kFingerWidth - 1);
      const int32_t fraction = scaled - i * span;
      mirrored[c] = static_cast<uint8_t>((source[i] * (span - fraction) + source[next] * fraction + span / 2) / span);
    }
    for (int32_t i = 0; i < kFingerWidth; ++i) {
      mirrored[m + i * span / kFingerWidth] = source[i];
    }
    uint8_t* row = raw + s * kRowBytes;
    row[0] = kRowHeaderMark;
    row[1] = static_cast<uint8_t>(s);
    for (int32_t x = 0; x < kRowPixels; ++x) row[2 + x] = mirrored[kRowPixels - 1 - x];
  }
}

std::vector<uint8_t> RawFrameOf(const uint8_t* image) {
  std::vector<uint8_t> raw(kFrameBytes);
  MakeRawFrame(image, raw.data());
  return raw;
}

std::vector<uint8_t> BlankSensorImage() {
  std::vector<uint8_t> image(static_cast<size_t>(kFingerWidth) * kFingerHeight);
  for (int32_t y = 0; y < kFingerHeight; ++y) {
    for (int32_t x = 0; x < kFingerWidth; ++x) {
      image[static_cast<size_t>(y * kFingerWidth + x)] =
          static_cast<uint8_t>(kBlankGrey + (x * 7 + y * 13) % kBlankTexture);
    }
  }
  return image;
}

}  // namespace vorsensor::sim
