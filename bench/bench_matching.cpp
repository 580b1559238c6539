// Matcher throughput: one prepared probe against many prepared samples, as
// an identification search runs, on templates extracted from the committed
// generated fingerprints (data/synth) and, when the shared development folder
// is there, from two impressions of each of its fingers. The probe is the
// first generated impression; BM_MatchSampleSynthesised keeps the earlier
// gallery of synthesised feature sets (40..60 minutiae) for comparison.
//   build/release/bench/bench_matching
// Instruction counts (reproducible on a loaded machine): run the fixed
// gallery round under callgrind and read MatchSample's inclusive cost,
//   valgrind --tool=callgrind build/release/bench/bench_matching --benchmark_filter=GalleryFixed
// which is the cost of kFixedComparisons comparisons.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/extracted_templates.h"
#include "engine/engine_configuration.h"
#include "matching/feature_set_helpers.h"
#include "matching/matcher.h"

namespace {

using namespace vorsensor;

constexpr int32_t kGallerySize = 256;
constexpr int32_t kMemoryComparisons = 10000;
constexpr int32_t kFixedComparisons = 4 * kGallerySize;
constexpr int32_t kSharedImpressions = 2;

struct Gallery {
  std::vector<uint8_t> probe;
  std::vector<std::vector<uint8_t>> samples;
};

// `genuinePercent` of the samples are impressions of the probe's finger
// (turned up to 30 units, shifted up to 40 pixels); the rest other fingers.
Gallery MakeGallery(uint64_t seed, int32_t genuinePercent) {
  testing::TestRandom random(seed);
  auto finger = testing::MakeFingerSet(random);
  Gallery g;
  g.probe = testing::RecordBytesOf(*finger);
  for (int32_t i = 0; i < kGallerySize; ++i) {
    if (random.Range(0, 99) < genuinePercent) {
      testing::ImpressionChange change;
      change.rotation = random.Range(-30, 30);
      change.shiftX = random.Range(-40, 40);
      change.shiftY = random.Range(-40, 40);
      g.samples.push_back(testing::RecordBytesOf(*testing::MakeImpressionSet(*finger, random, change)));
    } else {
      g.samples.push_back(testing::RecordBytesOf(*testing::MakeFingerSet(random)));
    }
  }
  return g;
}

enum class Kind { kAll, kGenuine, kImpostor };

// The first extracted template as the probe; as samples every other one, the
// other impressions of its finger, or the other fingers.
Gallery ExtractedGallery(Kind kind) {
  static const std::vector<bench::ExtractedTemplate> templates = bench::ExtractTemplates(kSharedImpressions);
  Gallery g;
  const bench::ExtractedTemplate& probe = templates.front();
  g.probe = probe.record;
  for (size_t k = 1; k < templates.size(); ++k) {
    const bool genuine = templates[k].finger == probe.finger;
    if (kind == Kind::kAll || (kind == Kind::kGenuine) == genuine) g.samples.push_back(templates[k].record);
  }
  return g;
}

void RunComparisons(benchmark::State& state, const Gallery& g) {
  EngineConfiguration config;
  SetDefaultConfiguration(&config);
  MatchWorkspace* w = CreateMatchWorkspace();
  PrepareProbe(w, g.probe.data(), g.probe.size(), 120, &config);
  MatchDetails details{kDetailsShortSize, 0, 0, 0, 0};
  size_t next = 0;
  int64_t matches = 0;
  for (auto _ : state) {
    const std::vector<uint8_t>& s = g.samples[next];
    next = next + 1 == g.samples.size() ? 0 : next + 1;
    const int32_t answer = MatchSample(w, s.data(), s.size(), 48, &config, &details, sizeof details);
    matches += answer == 0 ? 1 : 0;
    benchmark::DoNotOptimize(answer);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["comparisons_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["match_rate"] = static_cast<double>(matches) / static_cast<double>(state.iterations());
  FreeMatchWorkspace(w);
}

// An identification gallery: every extracted template (mostly other fingers).
void BM_MatchSampleGallery(benchmark::State& state) { RunComparisons(state, ExtractedGallery(Kind::kAll)); }
// Impressions of the probe's finger only (the slowest case: every stage runs).
void BM_MatchSampleGenuine(benchmark::State& state) { RunComparisons(state, ExtractedGallery(Kind::kGenuine)); }
// Other fingers only.
void BM_MatchSampleImpostor(benchmark::State& state) { RunComparisons(state, ExtractedGallery(Kind::kImpostor)); }
// The synthesised gallery of the earlier figures: 5 % impressions of the probe's finger.
void BM_MatchSampleSynthesised(benchmark::State& state) { RunComparisons(state, MakeGallery(42, 5)); }

// Workspace size after 10,000 comparisons (it must not grow once warmed up).
void BM_WorkspaceAfter10000(benchmark::State& state) {
  const Gallery g = ExtractedGallery(Kind::kAll);
  EngineConfiguration config;
  SetDefaultConfiguration(&config);
  size_t afterFirstRound = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    MatchWorkspace* w = CreateMatchWorkspace();
    PrepareProbe(w, g.probe.data(), g.probe.size(), 120, &config);
    for (int32_t i = 0; i < kMemoryComparisons; ++i) {
      const std::vector<uint8_t>& s = g.samples[static_cast<size_t>(i) % g.samples.size()];
      benchmark::DoNotOptimize(MatchSample(w, s.data(), s.size(), 48, &config, nullptr, 0));
      if (i + 1 == kGallerySize) afterFirstRound = MatchWorkspaceBytes(w);
    }
    bytes = MatchWorkspaceBytes(w);
    FreeMatchWorkspace(w);
  }
  state.counters["workspace_bytes"] = static_cast<double>(bytes);
  state.counters["growth_after_warmup_bytes"] = static_cast<double>(bytes - afterFirstRound);
}

void BM_PrepareProbe(benchmark::State& state) {
  const Gallery g = ExtractedGallery(Kind::kAll);
  EngineConfiguration config;
  SetDefaultConfiguration(&config);
  MatchWorkspace* w = CreateMatchWorkspace();
  for (auto _ : state) benchmark::DoNotOptimize(PrepareProbe(w, g.probe.data(), g.probe.size(), 120, &config));
  FreeMatchWorkspace(w);
}

BENCHMARK(BM_MatchSampleGallery);
// The same gallery for a fixed number of comparisons (for instruction counts).
BENCHMARK(BM_MatchSampleGallery)->Name("BM_MatchSampleGalleryFixed")->Iterations(kFixedComparisons);
BENCHMARK(BM_MatchSampleGenuine);
BENCHMARK(BM_MatchSampleImpostor);
BENCHMARK(BM_MatchSampleSynthesised);
BENCHMARK(BM_PrepareProbe);
BENCHMARK(BM_WorkspaceAfter10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
