// Arbitrary bytes as a raw frame read: the bytes fill the frame buffer (the
// rest stays white) and their count is the driver's byte count. The image is
// all white unless the count is a full frame; every stage only copies or
// averages, so each pixel lies between the smallest and largest pixel byte.
// The finger check then runs on the image and on the bytes as an image of
// sizes taken from the input (never reading outside them).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/driver_contract.h"
#include "device/finger_detection.h"
#include "device/frame_conversion.h"

using namespace vorsensor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> raw(kRawFrameBytes, 0xFF);
  std::copy_n(data, std::min<size_t>(size, raw.size()), raw.begin());
  std::vector<uint8_t> a(kSensorPlaneBytes), b(kSensorPlaneBytes), image(kImageBytes);
  const bool full = ConvertRawFrame(raw.data(), static_cast<uint32_t>(size), a.data(), b.data(), image.data());
  if (full != (size == static_cast<size_t>(kRawFrameBytes))) std::abort();
  uint8_t lo = 255;
  uint8_t hi = full ? 0 : 255;
  if (full) {
    for (int32_t y = 0; y < kSensorRows; ++y) {
      const auto row = raw.begin() + y * kRawRowBytes + kRawRowHeader;
      lo = std::min(lo, *std::min_element(row, row + kSensorColumns));
      hi = std::max(hi, *std::max_element(row, row + kSensorColumns));
    }
  }
  for (const uint8_t pixel : image) {
    if (pixel < lo || pixel > hi) std::abort();
  }
  const FingerEvidence e = JudgeFingerImage(image.data(), kImageWidth, kImageHeight);
  if (e.foregroundBlocks < 0 || e.foregroundBlocks > 900 || e.meanGrey < lo || e.meanGrey > hi) std::abort();
  if (!full && e.present) std::abort();

  if (size >= 4) {
    const int32_t width = data[0] | (data[1] & 0x03) << 8;
    const int32_t height = data[2] | (data[3] & 0x03) << 8;
    const std::vector<uint8_t> pixels(data + 4, data + size);
    if (static_cast<size_t>(width) * static_cast<size_t>(height) <= pixels.size()) {
      const int32_t answer = CheckFingerImage(pixels.data(), width, height);
      if (HasFinger(width, height, pixels.data()) != (answer == 0 ? 1 : 0)) std::abort();
    }
  }
  return 0;
}
