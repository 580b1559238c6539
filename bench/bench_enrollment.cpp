// Enrolment on synthesised fingers of 40 to 60 minutiae (records handed to the
// run in place of extraction, so the figures leave extraction out).
//
//   BM_EnrollStepCompleting  the step that closes a triangle of three
//                            impressions: two comparisons, the merge of three
//                            records and the sealing; time per step.
//   BM_MergeTemplates        the merge alone: six alignments and the merge
//                            rules on three records.
//   BM_CompareForMerge       one comparison of two records.
//   BM_MakeCaptureTemplate   one generated 256 x 288 fingerprint (data/synth)
//                            extracted and sealed.
//   BM_EnrollStepOnImages    the component's step that completes the run on
//                            the third generated impression of a finger
//                            (extraction, two comparisons, merge, sealing).
//
// Run: build/release/bench/bench_enrollment.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/template_record.h"
#include "imageio/image_io.h"
#include "services/capture_template.h"
#include "services/enrollment_run.h"
#include "services/template_merge.h"
#include "services/template_helpers.h"

namespace vorsensor {
namespace {

using testing::MakeFinger;
using testing::MakeImpression;
using testing::RecordBytes;
using testing::RecordOf;
using testing::TestRandom;

std::vector<RecordBytes> Impressions() {
  TestRandom random(515);
  const auto finger = MakeFinger(random);
  std::vector<RecordBytes> records;
  for (int32_t k = 0; k < 3; ++k) records.push_back(RecordOf(*MakeImpression(*finger, random, 5 * k - 5, 4 * k, -6 * k)));
  return records;
}

struct Source {
  std::vector<RecordBytes> records;
  static int32_t Extract(void* context, int32_t, int32_t, int32_t, uint8_t* image, uint8_t* record, int32_t,
                         int32_t* length) {
    const RecordBytes& r = static_cast<Source*>(context)->records[image[0]];
    std::copy(r.begin(), r.end(), record);
    *length = static_cast<int32_t>(r.size());
    return 200;
  }
};

void BM_EnrollStepCompleting(benchmark::State& state) {
  InitEngine();
  Source source{Impressions()};
  EnrollmentHooks hooks;
  hooks.context = &source;
  hooks.extract = &Source::Extract;
  EnrollmentRun run;
  std::array<uint8_t, 500> sealed{};
  int32_t length = 0;
  int32_t status = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BeginEnrollment(&run, kEnrollRejectionLimit, hooks);
    for (uint8_t image = 0; image < 2; ++image) {
      EnrollStep(&run, kEnrollResolution, 256, 288, &image, sealed.data(), &length, &status);
    }
    uint8_t third = 2;
    state.ResumeTiming();
    EnrollStep(&run, kEnrollResolution, 256, 288, &third, sealed.data(), &length, &status);
    if (status != kEnrollComplete) state.SkipWithError("the run did not complete");
  }
  ReleaseEngine();
}
BENCHMARK(BM_EnrollStepCompleting)->Unit(benchmark::kMillisecond);

void BM_MergeTemplates(benchmark::State& state) {
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  const std::vector<RecordBytes> records = Impressions();
  const uint8_t* three[3] = {records[0].data(), records[1].data(), records[2].data()};
  std::vector<uint8_t> output(kRecordWorkBufferSize);
  int32_t length = 0;
  for (auto _ : state) {
    if (MergeTemplates(3, three, records[0].size(), output.data(), output.size(), &length, &config) < 0) {
      state.SkipWithError("the merge failed");
    }
  }
}
BENCHMARK(BM_MergeTemplates)->Unit(benchmark::kMillisecond);

void BM_CompareForMerge(benchmark::State& state) {
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  const std::vector<RecordBytes> records = Impressions();
  int32_t matched = 0;
  for (auto _ : state) {
    CompareForMerge(records[0].data(), records[0].size(), records[1].data(), records[1].size(), &matched, &config);
    if (matched != 1) state.SkipWithError("no match");
  }
}
BENCHMARK(BM_CompareForMerge)->Unit(benchmark::kMicrosecond);

std::vector<uint8_t> SynthImage(int32_t impression) {
  const std::string path = std::string(VS_SOURCE_DIR) + "/data/synth/f02_i" + std::to_string(impression) + ".png";
  return imageio::ReadImage(path).image.pixels;
}

void BM_MakeCaptureTemplate(benchmark::State& state) {
  InitEngine();
  const std::vector<uint8_t> original = SynthImage(1);
  std::vector<uint8_t> image;
  std::array<uint8_t, 500> sealed{};
  int32_t length = 0;
  int32_t quality = 0;
  for (auto _ : state) {
    state.PauseTiming();
    image = original;  // extraction leaves the ridge image in the buffer
    state.ResumeTiming();
    if (MakeCaptureTemplate(kEnrollResolution, 256, 288, image.data(), sealed.data(), &length, &quality) != 1) {
      state.SkipWithError("no template");
    }
  }
  ReleaseEngine();
}
BENCHMARK(BM_MakeCaptureTemplate)->Unit(benchmark::kMillisecond);

void BM_EnrollStepOnImages(benchmark::State& state) {
  InitEngine();
  const std::vector<uint8_t> originals[3] = {SynthImage(1), SynthImage(2), SynthImage(3)};
  std::array<uint8_t, 500> sealed{};
  int32_t length = 0;
  int32_t status = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BeginEnrollment(kEnrollRejectionLimit);
    for (int32_t k = 0; k < 2; ++k) {
      std::vector<uint8_t> image = originals[k];
      EnrollStep(kEnrollResolution, 256, 288, image.data(), sealed.data(), &length, &status);
    }
    std::vector<uint8_t> third = originals[2];
    state.ResumeTiming();
    EnrollStep(kEnrollResolution, 256, 288, third.data(), sealed.data(), &length, &status);
    if (status != kEnrollComplete) state.SkipWithError("the run did not complete");
  }
  ReleaseEngine();
}
BENCHMARK(BM_EnrollStepOnImages)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vorsensor

BENCHMARK_MAIN();
