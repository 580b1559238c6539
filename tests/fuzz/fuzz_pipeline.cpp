// Arbitrary images through the extraction stages: any side from 0 to a little
// past the largest the extraction takes (so both sides of that limit are
// reached), up to a pixel budget that keeps runs short, any pixels, the default settings or any scanner profile, with and
// without a diagnostics sink. The pipeline must return a quality 0..255 or an
// error code, never crash or read outside its images, and give the same
// answer with a sink as without one.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "engine/diagnostics.h"
#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "engine/pipeline.h"
#include "engine/result_codes.h"
#include "engine/row_image.h"
#include "engine/scanner_profiles.h"

using namespace vorsensor;

namespace {

// Sides up to 2100 (the extraction takes up to 2048); at most 2^18 pixels
// (2048 x 128), which keeps a run under a second.
constexpr int32_t kMaxSide = 2100;
constexpr int64_t kMaxPixels = int64_t{1} << 18;

// Touches every byte handed over, so the sanitizers see any bad extent.
class CheckingSink : public StageSink {
 public:
  void Image(std::string_view, const uint8_t* const* rows, int32_t width, int32_t height) override {
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) sum_ += rows[y][x];
    }
  }
  void Text(std::string_view, std::string_view text) override { sum_ += text.size(); }

 private:
  uint64_t sum_ = 0;
};

int32_t Run(const uint8_t* pixels, size_t count, int32_t w, int32_t h, const EngineConfiguration& config,
            StageSink* sink, FeatureSet* features) {
  RowImage image = AllocRowImage(w, h);
  if (!image.valid()) return kOutOfMemory;
  size_t i = 0;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) image[y][x] = count == 0 ? 255 : pixels[i++ % count];
  }
  return RunPipeline(w, h, image.rows(), features, &config, sink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int32_t w = (data[0] | (data[1] & 0x0F) << 8) % (kMaxSide + 1);
  const int32_t h = (data[2] | (data[3] & 0x0F) << 8) % (kMaxSide + 1);
  if (int64_t{w} * h > kMaxPixels) return 0;
  const uint8_t selector = size > 4 ? data[4] : 0;
  const uint8_t* pixels = data + std::min<size_t>(size, 5);
  const size_t count = size - std::min<size_t>(size, 5);

  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  const ScannerProfile& profile = kScannerProfiles[selector % kScannerProfileCount];
  if (SelectScannerProfile(profile.id, &config) != kOk) std::abort();
  config.exportBlockMap = selector & 0x80 ? 1 : 0;
  config.keepSingularPoints = selector & 0x40 ? 1 : 0;

  auto plain = std::make_unique<FeatureSet>();
  auto watched = std::make_unique<FeatureSet>();
  CheckingSink sink;
  const int32_t quality = Run(pixels, count, w, h, config, nullptr, plain.get());
  const int32_t again = Run(pixels, count, w, h, config, &sink, watched.get());
  if (quality != again) std::abort();
  if (quality > 255) std::abort();
  if (quality >= 0 && (plain->singularCount < 0 || plain->singularCount > kMaxSingularPoints ||
                       plain->singularCount != watched->singularCount)) {
    std::abort();
  }
  return 0;
}
