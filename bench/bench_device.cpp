// Per-frame costs of the capture loop, which converts a frame and checks it
// for a finger every 100 ms while it waits: raw frame conversion and finger
// detection, on a generated fingerprint (data/synth) as the simulated sensor
// serves it, and on the blank sensor.
#include <benchmark/benchmark.h>

#include <vector>

#include "device/driver_contract.h"
#include "device/finger_detection.h"
#include "device/frame_conversion.h"
#include "imageio/image_io.h"
#include "sim/finger_source.h"

namespace {

using namespace vorsensor;

std::vector<uint8_t> FingerImage() {
  const imageio::ImageResult read = imageio::ReadImage(std::string(VS_SOURCE_DIR) + "/data/synth/f01_i1.png");
  if (read.ok() && read.image.width == kImageWidth && read.image.height == kImageHeight) return read.image.pixels;
  return sim::BlankSensorImage();
}

void BM_ConvertRawFrame(benchmark::State& state) {
  const std::vector<uint8_t> image = FingerImage();
  const std::vector<uint8_t> raw = sim::RawFrameOf(image.data());
  std::vector<uint8_t> a(kSensorPlaneBytes), b(kSensorPlaneBytes), out(kImageBytes);
  for (auto _ : state) {
    ConvertRawFrame(raw.data(), kRawFrameBytes, a.data(), b.data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ConvertRawFrame);

void BM_FingerDetection(benchmark::State& state) {
  const std::vector<uint8_t> image = state.range(0) == 0 ? sim::BlankSensorImage() : FingerImage();
  for (auto _ : state) {
    benchmark::DoNotOptimize(CheckFingerImage(image.data(), kImageWidth, kImageHeight));
  }
}
BENCHMARK(BM_FingerDetection)->Arg(0)->Arg(1)->ArgName("finger");

}  // namespace

BENCHMARK_MAIN();
