#include "synth/finger_set.h"

#include <algorithm>

#include "synth/synth_random.h"

namespace vorsensor::synth {

namespace {

constexpr PatternClass kCycle[kPatternClassCount] = {PatternClass::kLeftLoop, PatternClass::kRightLoop,
                                                     PatternClass::kWhorl, PatternClass::kArch,
                                                     PatternClass::kTentedArch};
constexpr uint8_t kSheetBackground = 255;

}  // namespace

PatternClass PatternOfFinger(int32_t finger) { return kCycle[finger % kPatternClassCount]; }

uint64_t FingerSeed(uint64_t setSeed, int32_t finger) { return DeriveSeed(setSeed, static_cast<uint64_t>(finger)); }

uint64_t ImpressionSeed(uint64_t setSeed, int32_t finger, int32_t impression) {
  return DeriveSeed(FingerSeed(setSeed, finger) ^ 0xC0FFEEull, static_cast<uint64_t>(impression));
}

SynthFinger MakeFinger(uint64_t setSeed, int32_t finger, int32_t impressions, const ImpressionOptions& options) {
  SynthFinger result;
  result.pattern = PatternOfFinger(finger);
  result.master = MakeMaster(FingerSeed(setSeed, finger), result.pattern);
  for (int32_t i = 0; i < impressions; ++i) {
    result.impressions.push_back(MakeImpression(result.master, ImpressionSeed(setSeed, finger, i), options));
  }
  return result;
}

imageio::GreyImage ContactSheet(const std::vector<imageio::GreyImage>& images, int32_t columns, int32_t gap) {
  imageio::GreyImage sheet;
  if (images.empty() || columns <= 0) {
    return sheet;
  }
  int32_t cellW = 0;
  int32_t cellH = 0;
  for (const imageio::GreyImage& im : images) {
    cellW = std::max(cellW, im.width);
    cellH = std::max(cellH, im.height);
  }
  const auto count = static_cast<int32_t>(images.size());
  const int32_t cols = std::min(columns, count);
  const int32_t rows = (count + cols - 1) / cols;
  sheet.width = cols * cellW + (cols + 1) * gap;
  sheet.height = rows * cellH + (rows + 1) * gap;
  sheet.pixels.assign(static_cast<size_t>(sheet.width) * static_cast<size_t>(sheet.height), kSheetBackground);
  for (int32_t i = 0; i < count; ++i) {
    const imageio::GreyImage& im = images[static_cast<size_t>(i)];
    const int32_t x0 = gap + (i % cols) * (cellW + gap);
    const int32_t y0 = gap + (i / cols) * (cellH + gap);
    for (int32_t y = 0; y < im.height; ++y) {
      std::copy_n(im.pixels.begin() + static_cast<std::ptrdiff_t>(y) * im.width, im.width,
                  sheet.pixels.begin() + static_cast<std::ptrdiff_t>(y0 + y) * sheet.width + x0);
    }
  }
  return sheet;
}

}  // namespace vorsensor::synth
