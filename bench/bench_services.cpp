// Verification and identification services on synthesised fingers of 40 to 60
// minutiae, sealed into template texts as the component hands them out.
//
//   BM_VerifyTexts        Verify on two template texts end to end (decode,
//                         open, read, prepare, match); time per call.
//   BM_MatchPreparedProbe 1:N against a prepared probe: opened records matched
//                         against the engine's loaded sample; items/s is
//                         comparisons per second on one core.
//   BM_SearchSealed       MatchTemplates' search over sealed templates (opening
//                         included), no match, so the whole gallery is scanned.
//   BM_IdentifyParallel   the parallel search over the same kind of gallery on
//                         1 and 2 threads; the ratio of their wall-clock items/s
//                         is the speed-up (meaningful only on otherwise idle cores).
//
// Run: build/release/bench/bench_services (add --benchmark_filter=... to pick).
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "component/template_methods.h"
#include "engine/engine_configuration.h"
#include "services/match_templates.h"
#include "services/parallel_identify.h"
#include "services/verification.h"
#include "services/template_helpers.h"

namespace vorsensor {
namespace {

using testing::MakeFinger;
using testing::MakeImpression;
using testing::RecordBytes;
using testing::RecordOf;
using testing::Seal;
using testing::SealedBytes;
using testing::TestRandom;
using testing::TextOf;

constexpr int kPairs = 64;
constexpr int kGallery = 2000;

// Text pairs: every other pair two impressions of one finger, the rest two fingers.
struct TextPairs {
  std::vector<std::string> first;
  std::vector<std::string> second;
  TextPairs() {
    TestRandom random(1);
    for (int i = 0; i < kPairs; ++i) {
      const auto finger = MakeFinger(random);
      first.push_back(TextOf(*finger));
      second.push_back(i % 2 == 0 ? TextOf(*MakeImpression(*finger, random, random.Range(-10, 10),
                                                           random.Range(-20, 20), random.Range(-20, 20)))
                                  : TextOf(*MakeFinger(random)));
    }
  }
};

// A probe and a gallery of other fingers (no match anywhere).
struct Gallery {
  RecordBytes probe{};
  std::vector<RecordBytes> records;
  std::vector<SealedBytes> sealed;
  Gallery() {
    TestRandom random(2);
    probe = RecordOf(*MakeFinger(random));
    for (int i = 0; i < kGallery; ++i) {
      records.push_back(RecordOf(*MakeFinger(random)));
      sealed.push_back(Seal(records.back()));
    }
  }
};

const TextPairs& Pairs() {
  static const TextPairs pairs;
  return pairs;
}

const Gallery& TheGallery() {
  static const Gallery gallery;
  return gallery;
}

EngineConfiguration* Config() {
  static EngineConfiguration config = [] {
    EngineConfiguration c{};
    SetDefaultConfiguration(&c);
    return c;
  }();
  return &config;
}

void BM_VerifyTexts(benchmark::State& state) {
  const TextPairs& pairs = Pairs();
  int matches = 0;
  size_t i = 0;
  for (auto _ : state) {
    matches += Verify(pairs.first[i], pairs.second[i], Config());
    i = (i + 1) % pairs.first.size();
  }
  benchmark::DoNotOptimize(matches);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VerifyTexts)->Unit(benchmark::kMicrosecond);

void BM_MatchPreparedProbe(benchmark::State& state) {
  const Gallery& gallery = TheGallery();
  EngineConfiguration* config = Config();
  if (LoadSample(gallery.probe.data(), config) != 0) {
    state.SkipWithError("the probe cannot be loaded");
    return;
  }
  int matches = 0;
  size_t i = 0;
  for (auto _ : state) {
    matches += MatchLoadedSample(gallery.records[i].data(), nullptr, config) == 0;
    i = (i + 1) % gallery.records.size();
  }
  UnloadSample(config);
  benchmark::DoNotOptimize(matches);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MatchPreparedProbe)->Unit(benchmark::kMicrosecond);

void BM_SearchSealed(benchmark::State& state) {
  const Gallery& gallery = TheGallery();
  const SealedBytes probe = Seal(gallery.probe);
  std::vector<const uint8_t*> list;
  for (const SealedBytes& s : gallery.sealed) list.push_back(s.data());
  for (auto _ : state) {
    int32_t index = 0;
    int32_t status = kTemplatesNoMatch;
    MatchTemplates(probe.data(), list.data(), static_cast<int32_t>(list.size()), &index, &status, Config());
    benchmark::DoNotOptimize(status);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(list.size()));
}
BENCHMARK(BM_SearchSealed)->Unit(benchmark::kMillisecond);

void BM_IdentifyParallel(benchmark::State& state) {
  const Gallery& gallery = TheGallery();
  const SealedBytes probe = Seal(gallery.probe);
  const SealedTemplateSource source = [&gallery](int32_t k, uint8_t* sealed) {
    const SealedBytes& s = gallery.sealed[static_cast<size_t>(k)];
    std::copy(s.begin(), s.end(), sealed);
    return true;
  };
  const int32_t threads = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    int32_t index = 0;
    int32_t status = kTemplatesNoMatch;
    IdentifyParallel(probe.data(), kGallery, source, threads, &index, &status, Config());
    benchmark::DoNotOptimize(status);
  }
  state.SetItemsProcessed(state.iterations() * kGallery);
}
// Wall-clock time for the speed-up; the CPU column counts every thread of the
// process, so CPU(2) / CPU(1) shows the work the split adds.
BENCHMARK(BM_IdentifyParallel)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace
}  // namespace vorsensor

BENCHMARK_MAIN();
