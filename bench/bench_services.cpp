// Verification and identification services on templates extracted from the
// committed generated fingerprints (data/synth) and, when the shared
// development folder is there, from two impressions of each of its fingers;
// sealed into template texts as the component hands them out.
//
//   BM_VerifyTexts        Verify on two template texts end to end (decode,
//                         open, read, prepare, match); time per call; half the
//                         pairs two impressions of one finger, half two fingers.
//   BM_MatchPreparedProbe 1:N against a prepared probe: opened records of
//                         other fingers matched against the engine's loaded
//                         sample; items/s is comparisons per second on one core.
//   BM_SearchSealed       MatchTemplates' search over sealed templates (opening
//                         included), no match, so the whole gallery is scanned.
//   BM_IdentifyParallel   the parallel search over the same kind of gallery on
//                         1 and 2 threads; the ratio of their wall-clock items/s
//                         is the speed-up (meaningful only on otherwise idle cores).
// Galleries of kGallery entries repeat the extracted templates of other fingers.
//
// Run: build/release/bench/bench_services (add --benchmark_filter=... to pick;
// VS_SHARED_DATA=/nonexistent leaves the shared folder out).
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bench/extracted_templates.h"
#include "component/template_methods.h"
#include "engine/engine_configuration.h"
#include "services/match_templates.h"
#include "services/parallel_identify.h"
#include "services/verification.h"
#include "services/template_helpers.h"

namespace vorsensor {
namespace {

using bench::ExtractedTemplate;
using testing::RecordBytes;
using testing::Seal;
using testing::SealedBytes;
using testing::TextOf;

constexpr int kGallery = 2000;
constexpr int32_t kSharedImpressions = 2;

const std::vector<ExtractedTemplate>& Templates() {
  static const std::vector<ExtractedTemplate> templates = bench::ExtractTemplates(kSharedImpressions);
  return templates;
}

std::string SetOf(const std::string& finger) { return finger.substr(0, finger.find(':')); }

// Alternately a genuine pair (the first impression of a finger and a later
// one) and an impostor pair (first impressions of two fingers of one set).
struct TextPairs {
  std::vector<std::string> first;
  std::vector<std::string> second;
  TextPairs() {
    const std::vector<ExtractedTemplate>& all = Templates();
    std::vector<std::pair<size_t, size_t>> genuine, impostor;
    std::map<std::string, size_t> firstOf;
    for (size_t k = 0; k < all.size(); ++k) {
      if (firstOf.count(all[k].finger) == 0) {
        firstOf[all[k].finger] = k;
      } else {
        genuine.emplace_back(firstOf[all[k].finger], k);
      }
    }
    // The map holds the fingers in key order, so neighbours of one set follow each other.
    const std::string* previousKey = nullptr;
    size_t previous = 0;
    for (const auto& [key, k] : firstOf) {
      if (previousKey != nullptr && SetOf(*previousKey) == SetOf(key)) impostor.emplace_back(previous, k);
      previousKey = &key;
      previous = k;
    }
    for (size_t i = 0; i < genuine.size() || i < impostor.size(); ++i) {
      for (const auto* list : {&genuine, &impostor}) {
        if (i >= list->size()) continue;
        first.push_back(TextOf(Seal(all[(*list)[i].first].padded)));
        second.push_back(TextOf(Seal(all[(*list)[i].second].padded)));
      }
    }
    std::fprintf(stderr, "%zu genuine and %zu impostor pairs\n", genuine.size(), impostor.size());
  }
};

// A probe (the first template) and a gallery of other fingers (no match anywhere).
struct Gallery {
  RecordBytes probe{};
  std::vector<RecordBytes> records;
  std::vector<SealedBytes> sealed;
  Gallery() {
    const std::vector<ExtractedTemplate>& all = Templates();
    probe = all.front().padded;
    std::vector<const ExtractedTemplate*> others;
    for (const ExtractedTemplate& t : all) {
      if (t.finger != all.front().finger) others.push_back(&t);
    }
    for (int i = 0; i < kGallery; ++i) {
      records.push_back(others[static_cast<size_t>(i) % others.size()]->padded);
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
