// Time per extraction stage on one 256 x 288 image: a real sensor image from
// the shared data folder when there is one, else a synthetic whorl of ridges.
// Each iteration restores the stage's input first (a 73728-byte copy, timed
// on its own by BM_CopyImage), as the stages work in place.
//
// ExtractTemplate as callers use it: on the committed generated fingerprints
// (data/synth, 256 x 288 at 500 dpi), on the fixture's image, and on every set
// of the shared data folder at its stated resolution. The heap in use is
// counted by replacing the global allocation functions; `peak_heap_bytes` is
// the most one extraction holds at once beyond what was in use before it.
//
// Instruction counts (steady on a loaded machine):
//   valgrind --tool=callgrind build/release/bench/bench_extraction --benchmark_filter=ExtractTemplateFixed
// and read ExtractTemplate's inclusive cost / kFixedExtractions, with the
// stages below it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/background_levelling.h"
#include "engine/border_trimming.h"
#include "engine/box_mean.h"
#include "engine/contrast_normalisation.h"
#include "engine/engine_configuration.h"
#include "engine/extraction_entry.h"
#include "engine/feature_set.h"
#include "engine/minutiae/bifurcation_cleaning.h"
#include "engine/minutiae/minutiae_filter.h"
#include "engine/minutiae/minutiae_scan.h"
#include "engine/minutiae/ridge_gap_joining.h"
#include "engine/minutiae/skeleton_thinning.h"
#include "engine/pipeline.h"
#include "engine/ridge/binarisation.h"
#include "engine/ridge/block_orientation.h"
#include "engine/ridge/block_votes.h"
#include "engine/ridge/edge_density.h"
#include "engine/ridge/foreground.h"
#include "engine/ridge/line_smoothing.h"
#include "engine/ridge/majority_filter.h"
#include "engine/ridge/orientation_refresh.h"
#include "engine/ridge/pass_counts.h"
#include "engine/ridge/pixel_orientation.h"
#include "engine/ridge/ridge_smoothing.h"
#include "engine/ridge/singular_points.h"
#include "engine/row_image.h"
#include "engine/template_record.h"
#include "fingerprint_images.h"
#include "imageio/image_io.h"
#include "geometry/geometry.h"
#include "test_paths.h"

// Heap accounting: every global allocation carries its size in a header.
namespace heap {
constexpr size_t kHeader = alignof(std::max_align_t);
std::atomic<int64_t> live{0};
std::atomic<int64_t> peak{0};

void* Allocate(size_t bytes) {
  void* block = std::malloc(bytes + kHeader);
  if (block == nullptr) return nullptr;
  *static_cast<size_t*>(block) = bytes;
  const int64_t now = live.fetch_add(static_cast<int64_t>(bytes)) + static_cast<int64_t>(bytes);
  int64_t high = peak.load();
  while (now > high && !peak.compare_exchange_weak(high, now)) {
  }
  return static_cast<char*>(block) + kHeader;
}
void Release(void* pointer) {
  if (pointer == nullptr) return;
  char* block = static_cast<char*>(pointer) - kHeader;
  live.fetch_sub(static_cast<int64_t>(*reinterpret_cast<size_t*>(block)));
  std::free(block);
}
}  // namespace heap

void* operator new(size_t bytes) {
  if (void* p = heap::Allocate(bytes)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t bytes) {
  if (void* p = heap::Allocate(bytes)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t bytes, const std::nothrow_t&) noexcept { return heap::Allocate(bytes); }
void* operator new[](size_t bytes, const std::nothrow_t&) noexcept { return heap::Allocate(bytes); }
void operator delete(void* p) noexcept { heap::Release(p); }
void operator delete[](void* p) noexcept { heap::Release(p); }
void operator delete(void* p, size_t) noexcept { heap::Release(p); }
void operator delete[](void* p, size_t) noexcept { heap::Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { heap::Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { heap::Release(p); }

namespace {

using namespace vorsensor;

constexpr int32_t kWidth = 256;
constexpr int32_t kHeight = 288;
constexpr int32_t kSyntheticPeriod = 9;

// Concentric ridges of period 9 round the image centre with a bright strip on the left.
void Synthesise(RowImage& image) {
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      const int32_t dx = x - kWidth / 2, dy = y - kHeight / 2;
      const int32_t phase = static_cast<int32_t>(IntegerSqrt(static_cast<uint32_t>(dx * dx + dy * dy))) % kSyntheticPeriod;
      const int32_t half = kSyntheticPeriod / 2;
      image[y][x] = static_cast<uint8_t>(40 + (phase < half ? phase : kSyntheticPeriod - phase) * 180 / half);
      if (x < 6) image[y][x] = 245;
    }
  }
}

// The first 256 x 288 image of the shared data folder, if any.
bool LoadReal(RowImage& image) {
  const std::filesystem::path dir = testing::SharedDataDir();
  if (dir.empty()) return false;
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, ec)) {
    if (entry.path().extension() != ".pgm") continue;
    const imageio::ImageResult read = imageio::ReadImage(entry.path().string());
    if (read.image.width != kWidth || read.image.height != kHeight) continue;
    for (int32_t y = 0; y < kHeight; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) image[y][x] = read.image.At(x, y);
    }
    return true;
  }
  return false;
}

struct Fixture {
  RowImage source = AllocRowImage(kWidth, kHeight);
  RowImage ridge = AllocRowImage(kWidth, kHeight);
  RowImage scratch = AllocRowImage(kWidth, kHeight);
  RowImage map = AllocRowImage(kWidth, kHeight);
  BlockGridDimensions grid = BlockGridSize(kWidth, kHeight);
  RowImage direction = AllocRowImage(grid.bw, grid.bh);
  RowImage reliability = AllocRowImage(grid.bw, grid.bh);
  EngineConfiguration config{};
  bool real = false;

  Fixture() {
    SetDefaultConfiguration(&config);
    real = LoadReal(source);
    if (!real) Synthesise(source);
    // The normalised image the block stages read, as the pipeline makes it.
    CopyRowImage(ridge.rows(), source.rows(), kWidth, kHeight);
    Normalise();
  }
  void Restore(RowImage& image) { CopyRowImage(image.rows(), source.rows(), kWidth, kHeight); }
  // Steps 4 to 6 of the default pipeline: ridge -> scratch.
  void Normalise() {
    BoxMean(kWidth, kHeight, ridge.rows(), 1);
    CopyRowImage(scratch.rows(), ridge.rows(), kWidth, kHeight);
    BoxMean(kWidth, kHeight, scratch.rows(), config.localMeanRadius);
    NormaliseContrast(kWidth, kHeight, ridge.rows(), scratch.rows(), config.contrastRadius);
    BoxMean(kWidth, kHeight, scratch.rows(), 1);
  }
  void GradientBlocks() {
    GradientBlockOrientation(kWidth, kHeight, scratch.rows(), grid.bw, grid.bh, direction.rows(),
                             reliability.rows(), config.gradientEnergyMin);
    VoteBlocksByCoherence(grid.bw, grid.bh, direction.rows(), reliability.rows(), config.coherenceMin);
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void Label(benchmark::State& state) { state.SetLabel(Shared().real ? "real image" : "synthetic image"); }

void BM_CopyImage(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    f.Restore(f.ridge);
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_CopyImage)->Unit(benchmark::kMicrosecond);

void BM_TrimBorders(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    f.Restore(f.ridge);
    TrimBorders(kWidth, kHeight, f.ridge.rows(), f.config.borderBrightMin, f.config.borderRowWindow,
                f.config.borderPercentile, f.config.borderSpread);
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_TrimBorders)->Unit(benchmark::kMicrosecond);

void BM_LevelBackground(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    f.Restore(f.ridge);
    LevelBackground(kWidth, kHeight, f.ridge.rows(), f.scratch.rows(), f.map.rows(), f.ridge.rows());
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_LevelBackground)->Unit(benchmark::kMicrosecond);

// Box mean at radius 1, 4 (localMeanRadius) and 128 (contrastRadius): the same cost.
void BM_BoxMean(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    f.Restore(f.ridge);
    BoxMean(kWidth, kHeight, f.ridge.rows(), static_cast<uint32_t>(state.range(0)));
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_BoxMean)->Arg(1)->Arg(4)->Arg(128)->Unit(benchmark::kMicrosecond);

void BM_NormaliseContrast(benchmark::State& state) {
  Fixture& f = Shared();
  RowImage mean = AllocRowImage(kWidth, kHeight);
  f.Restore(mean);
  BoxMean(kWidth, kHeight, mean.rows(), f.config.localMeanRadius);
  RowImage local = AllocRowImage(kWidth, kHeight);
  for (auto _ : state) {
    CopyRowImage(local.rows(), mean.rows(), kWidth, kHeight);
    NormaliseContrast(kWidth, kHeight, f.source.rows(), local.rows(), static_cast<uint32_t>(state.range(0)));
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_NormaliseContrast)->Arg(4)->Arg(128)->Unit(benchmark::kMicrosecond);

// Pipeline steps 4 to 6 with the default configuration (three radius-1 means,
// the local mean and the normalisation).
void BM_NormalisationSteps(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    f.Restore(f.ridge);
    f.Normalise();
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_NormalisationSteps)->Unit(benchmark::kMicrosecond);

void BM_GradientBlockOrientation(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    f.GradientBlocks();
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_GradientBlockOrientation)->Unit(benchmark::kMicrosecond);

void BM_DifferenceBlockOrientation(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    DifferenceBlockOrientation(kWidth, kHeight, f.scratch.rows(), f.grid.bw, f.grid.bh, f.direction.rows(),
                               f.reliability.rows(), f.config.blockFlatnessMax);
    VoteBlocksByVariation(f.grid.bw, f.grid.bh, f.direction.rows(), f.reliability.rows(),
                          f.config.blockVariationMax);
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_DifferenceBlockOrientation)->Unit(benchmark::kMicrosecond);

// Everything above on the default path: normalisation steps and the gradient block field.
void BM_DefaultFrontStages(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    f.Restore(f.ridge);
    f.Normalise();
    f.GradientBlocks();
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_DefaultFrontStages)->Unit(benchmark::kMicrosecond);

// The per-pixel stages and singular points of the default path, each on the
// normalised image of the fixture (restored before every iteration).
struct PixelStages {
  RowImage normalised = AllocRowImage(kWidth, kHeight);
  SingularPointList detected{};
  std::unique_ptr<FeatureSet> features = std::make_unique<FeatureSet>();

  PixelStages() {
    Fixture& f = Shared();
    CopyRowImage(normalised.rows(), f.scratch.rows(), kWidth, kHeight);
    f.GradientBlocks();
    DetectSingularPoints(f.grid.bw, f.grid.bh, f.direction.rows(), &detected);
  }
  void OrientPixels() {
    Fixture& f = Shared();
    CopyRowImage(f.scratch.rows(), normalised.rows(), kWidth, kHeight);
    GradientPixelOrientation(kWidth, kHeight, f.scratch.rows(), f.map.rows(), f.config.pixelOrientRadius,
                             f.config.gradientEnergyMin);
  }
  void Locate() {
    Fixture& f = Shared();
    features->singularCount = LocateSingularPoints(kWidth, kHeight, f.map.rows(), detected, features->singular,
                                                   f.config.singularLocateRadius, f.config.singularDirectionRadius);
  }
  int32_t Segment() {
    Fixture& f = Shared();
    return ForegroundVoteByCoherence(kWidth, kHeight, f.map.rows(), f.scratch.rows(), features->singular,
                                     features->singularCount, f.config.segmentRadius, f.config.coherenceMin,
                                     f.config.singularGuardRadius);
  }
};

PixelStages& SharedPixelStages() {
  static PixelStages stages;
  return stages;
}

void BM_DetectSingularPoints(benchmark::State& state) {
  Fixture& f = Shared();
  f.GradientBlocks();
  SingularPointList list;
  for (auto _ : state) {
    benchmark::DoNotOptimize(DetectSingularPoints(f.grid.bw, f.grid.bh, f.direction.rows(), &list));
  }
  Label(state);
}
BENCHMARK(BM_DetectSingularPoints)->Unit(benchmark::kMicrosecond);

// Gradient and difference family at the default radius 12 and at 18 (a profile's).
void BM_GradientPixelOrientation(benchmark::State& state) {
  Fixture& f = Shared();
  PixelStages& p = SharedPixelStages();
  for (auto _ : state) {
    CopyRowImage(f.scratch.rows(), p.normalised.rows(), kWidth, kHeight);
    GradientPixelOrientation(kWidth, kHeight, f.scratch.rows(), f.map.rows(), static_cast<uint32_t>(state.range(0)),
                             f.config.gradientEnergyMin);
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_GradientPixelOrientation)->Arg(12)->Arg(18)->Unit(benchmark::kMicrosecond);

void BM_DifferencePixelOrientation(benchmark::State& state) {
  Fixture& f = Shared();
  PixelStages& p = SharedPixelStages();
  for (auto _ : state) {
    CopyRowImage(f.scratch.rows(), p.normalised.rows(), kWidth, kHeight);
    DifferencePixelOrientation(kWidth, kHeight, f.scratch.rows(), f.map.rows(), static_cast<uint32_t>(state.range(0)),
                               f.config.pixelFlatnessMax);
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_DifferencePixelOrientation)->Arg(12)->Unit(benchmark::kMicrosecond);

void BM_LocateSingularPoints(benchmark::State& state) {
  PixelStages& p = SharedPixelStages();
  p.OrientPixels();
  for (auto _ : state) {
    p.Locate();
    benchmark::ClobberMemory();
  }
  state.counters["points"] = p.features->singularCount;
  Label(state);
}
BENCHMARK(BM_LocateSingularPoints)->Unit(benchmark::kMicrosecond);

void BM_ForegroundVoteByCoherence(benchmark::State& state) {
  Fixture& f = Shared();
  PixelStages& p = SharedPixelStages();
  p.OrientPixels();
  p.Locate();
  RowImage map = AllocRowImage(kWidth, kHeight);
  CopyRowImage(map.rows(), f.map.rows(), kWidth, kHeight);
  int32_t quality = 0;
  for (auto _ : state) {
    CopyRowImage(f.map.rows(), map.rows(), kWidth, kHeight);
    quality = p.Segment();
    benchmark::ClobberMemory();
  }
  state.counters["quality"] = quality;
  Label(state);
}
BENCHMARK(BM_ForegroundVoteByCoherence)->Unit(benchmark::kMicrosecond);

// All stages up to the orientation map, foreground and quality on the default
// path, in pipeline order, from the grey image.
void BM_OrientationAndSegmentationStages(benchmark::State& state) {
  Fixture& f = Shared();
  PixelStages& p = SharedPixelStages();
  int32_t quality = 0;
  for (auto _ : state) {
    f.Restore(f.ridge);
    f.Normalise();
    f.GradientBlocks();
    DetectSingularPoints(f.grid.bw, f.grid.bh, f.direction.rows(), &p.detected);
    GradientPixelOrientation(kWidth, kHeight, f.scratch.rows(), f.map.rows(), f.config.pixelOrientRadius,
                             f.config.gradientEnergyMin);
    p.Locate();
    quality = p.Segment();
    benchmark::ClobberMemory();
  }
  state.counters["quality"] = quality;
  Label(state);
}
BENCHMARK(BM_OrientationAndSegmentationStages)->Unit(benchmark::kMicrosecond);

// The ridge image stages of the default path (steps 14 to 18), each from the
// input the pipeline hands it: the grey ridge image and orientation map of
// the fixture and the stage outputs of one RunPipeline call.
class CaptureSink : public StageSink {
 public:
  void Image(std::string_view key, const uint8_t* const* rows, int32_t width, int32_t height) override {
    RowImage& image = images[std::string(key)];
    image = AllocRowImage(width, height);
    CopyRowImage(image.rows(), rows, width, height);
  }
  void Text(std::string_view, std::string_view) override {}
  std::map<std::string, RowImage> images;
};

struct RidgeStages {
  CaptureSink captured;
  RowImage grey = AllocRowImage(kWidth, kHeight);     // the ridge image entering step 14
  RowImage counts = AllocRowImage(kWidth, kHeight);   // density map with the pass counts
  RowImage density = AllocRowImage(kWidth, kHeight);  // density map with the low bits cleared
  RowImage ridge = AllocRowImage(kWidth, kHeight);
  RowImage scratch = AllocRowImage(kWidth, kHeight);
  RowImage map = AllocRowImage(kWidth, kHeight);
  RowImage copy = AllocRowImage(kWidth, kHeight);
  std::unique_ptr<FeatureSet> features = std::make_unique<FeatureSet>();

  RidgeStages() {
    Fixture& f = Shared();
    f.Restore(ridge);
    RunPipeline(kWidth, kHeight, ridge.rows(), features.get(), &f.config, &captured);
    f.Restore(grey);
    BoxMean(kWidth, kHeight, grey.rows(), 1);  // steps 2 to 4 of the default path
    const RowImage& passes = Get("pass-counts");
    const RowImage& densityCopy = Get("density-copy");
    for (int32_t y = 0; y < kHeight; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        density[y][x] = static_cast<uint8_t>(densityCopy[y][x] & ~kPassCountBits);
        counts[y][x] = static_cast<uint8_t>(density[y][x] | passes[y][x]);
      }
    }
  }
  const RowImage& Get(const char* key) { return captured.images.at(key); }
  void Take(RowImage& target, const RowImage& source) { CopyRowImage(target.rows(), source.rows(), kWidth, kHeight); }
  // Steps 15 (adaptive) and 16.3.
  void BinarizeFirst() {
    const EngineConfiguration& c = Shared().config;
    BinarizeByTwoMeans(kWidth, kHeight, ridge.rows(), scratch.rows(), c.meanRadiusSmall, c.meanRadiusLarge);
    EdgeDensity(kWidth, kHeight, scratch.rows(), map.rows(), c.edgeDensityRadius);
    BoxMean(kWidth, kHeight, scratch.rows(), c.edgeDensitySmoothRadius);
    CopyRowImage(copy.rows(), scratch.rows(), kWidth, kHeight);
    BinarizeSecond();
  }
  void BinarizeSecond() {
    const EngineConfiguration& c = Shared().config;
    BinarizeByDensity(kWidth, kHeight, ridge.rows(), scratch.rows(), c.densityHigh, c.densityLow, c.meanRadiusSmall,
                      c.meanRadiusMedium, c.meanRadiusLarge);
  }
  void Refresh() {
    const EngineConfiguration& c = Shared().config;
    const PassCountRule rule{c.refineVariationHigh, c.refineVariationLow, c.refinePassesBase, c.refinePassesRange};
    RefreshByDifferences(kWidth, kHeight, ridge.rows(), map.rows(), scratch.rows(), features->singular,
                         features->singularCount, c.refineRadius, rule, c.singularGuardRadius);
  }
};

RidgeStages& SharedRidgeStages() {
  static RidgeStages stages;
  return stages;
}

void BM_DirectionalSmooth(benchmark::State& state) {
  RidgeStages& r = SharedRidgeStages();
  r.Take(r.map, r.Get("orientation-map"));
  for (auto _ : state) {
    r.Take(r.ridge, r.grey);
    DirectionalSmooth(kWidth, kHeight, r.ridge.rows(), r.map.rows());
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_DirectionalSmooth)->Unit(benchmark::kMicrosecond);

// Two means, edge density, its box mean, the density copy and the binarisation by density.
void BM_AdaptiveBinarisation(benchmark::State& state) {
  RidgeStages& r = SharedRidgeStages();
  r.Take(r.map, r.Get("orientation-map"));
  for (auto _ : state) {
    r.Take(r.ridge, r.Get("smoothed"));
    r.BinarizeFirst();
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_AdaptiveBinarisation)->Unit(benchmark::kMicrosecond);

void BM_EdgeDensity(benchmark::State& state) {
  RidgeStages& r = SharedRidgeStages();
  r.Take(r.map, r.Get("orientation-map"));
  for (auto _ : state) {
    r.Take(r.scratch, r.Get("binary-first"));
    EdgeDensity(kWidth, kHeight, r.scratch.rows(), r.map.rows(), Shared().config.edgeDensityRadius);
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_EdgeDensity)->Unit(benchmark::kMicrosecond);

void BM_BinarizeByDensity(benchmark::State& state) {
  RidgeStages& r = SharedRidgeStages();
  r.Take(r.scratch, r.density);
  for (auto _ : state) {
    r.Take(r.ridge, r.Get("ridge-pass-smoothed"));
    r.BinarizeSecond();
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_BinarizeByDensity)->Unit(benchmark::kMicrosecond);

// The two fixed passes along the gradient at radius 12.
void BM_SmoothAlongGradient(benchmark::State& state) {
  RidgeStages& r = SharedRidgeStages();
  const EngineConfiguration& c = Shared().config;
  for (auto _ : state) {
    r.Take(r.ridge, r.Get("binary-first"));
    SmoothAlongGradient(kWidth, kHeight, r.ridge.rows(), c.ridgeSmoothRadius, c.ridgeSmoothPasses);
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_SmoothAlongGradient)->Unit(benchmark::kMicrosecond);

void BM_RefreshByDifferences(benchmark::State& state) {
  RidgeStages& r = SharedRidgeStages();
  r.Take(r.ridge, r.Get("ridge-smoothed"));
  for (auto _ : state) {
    r.Take(r.map, r.Get("orientation-map"));
    r.Take(r.scratch, r.Get("density-copy"));
    r.Refresh();
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_RefreshByDifferences)->Unit(benchmark::kMicrosecond);

void BM_RunPassCounts(benchmark::State& state) {
  RidgeStages& r = SharedRidgeStages();
  r.Take(r.map, r.Get("orientation-refreshed"));
  int32_t passes = 0;
  for (auto _ : state) {
    r.Take(r.ridge, r.Get("ridge-smoothed"));
    r.Take(r.scratch, r.counts);
    passes = RunPassCounts(kWidth, kHeight, r.ridge.rows(), r.map.rows(), r.scratch.rows());
    benchmark::ClobberMemory();
  }
  state.counters["passes"] = passes;
  Label(state);
}
BENCHMARK(BM_RunPassCounts)->Unit(benchmark::kMicrosecond);

void BM_MajorityFilterAndDensity(benchmark::State& state) {
  RidgeStages& r = SharedRidgeStages();
  r.Take(r.map, r.Get("orientation-refreshed"));
  for (auto _ : state) {
    r.Take(r.ridge, r.Get("binary-second"));
    MajorityFilter(kWidth, kHeight, r.ridge.rows());
    CopyRowImage(r.scratch.rows(), r.ridge.rows(), kWidth, kHeight);
    benchmark::DoNotOptimize(RidgeDensity(kWidth, kHeight, r.scratch.rows(), r.map.rows()));
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_MajorityFilterAndDensity)->Unit(benchmark::kMicrosecond);

// Steps 14 to 18 of the default path together, from the grey ridge image and
// the voted orientation map.
void BM_RidgeImageSteps(benchmark::State& state) {
  RidgeStages& r = SharedRidgeStages();
  const EngineConfiguration& c = Shared().config;
  for (auto _ : state) {
    r.Take(r.ridge, r.grey);
    r.Take(r.map, r.Get("orientation-map"));
    DirectionalSmooth(kWidth, kHeight, r.ridge.rows(), r.map.rows());
    r.BinarizeFirst();
    SmoothAlongGradient(kWidth, kHeight, r.ridge.rows(), c.ridgeSmoothRadius, c.ridgeSmoothPasses);
    r.Refresh();
    RunPassCounts(kWidth, kHeight, r.ridge.rows(), r.map.rows(), r.scratch.rows());
    r.BinarizeSecond();
    MajorityFilter(kWidth, kHeight, r.ridge.rows());
    CopyRowImage(r.scratch.rows(), r.ridge.rows(), kWidth, kHeight);
    benchmark::DoNotOptimize(RidgeDensity(kWidth, kHeight, r.scratch.rows(), r.map.rows()));
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_RidgeImageSteps)->Unit(benchmark::kMicrosecond);

// RunPipeline as the extraction entry calls it (so far up to the final binary image),
// with its own working images, from the grey image.
void BM_RunPipeline(benchmark::State& state) {
  Fixture& f = Shared();
  auto features = std::make_unique<FeatureSet>();
  int32_t quality = 0;
  for (auto _ : state) {
    f.Restore(f.ridge);
    quality = RunPipeline(kWidth, kHeight, f.ridge.rows(), features.get(), &f.config);
    benchmark::ClobberMemory();
  }
  state.counters["quality"] = quality;
  Label(state);
}
BENCHMARK(BM_RunPipeline)->Unit(benchmark::kMicrosecond);


// The minutiae stages of the default path (thinning, gap joining, bifurcation
// cleaning, scan, filter), each from the input one RunPipeline call handed it.
struct MinutiaeStages {
  RowImage skeleton = AllocRowImage(kWidth, kHeight);
  std::unique_ptr<FeatureSet> features = std::make_unique<FeatureSet>();
  std::vector<Minutia> scanned;

  MinutiaeStages() {
    Take("skeleton-cleaned");
    Scan();
    scanned.assign(features->minutiae, features->minutiae + features->minutiaCount);
  }
  const uint8_t* const* Map() { return SharedRidgeStages().Get("orientation-refreshed").rows(); }
  void Take(const char* key) { SharedRidgeStages().Take(skeleton, SharedRidgeStages().Get(key)); }
  void Thin() { vorsensor::Thin(kWidth, kHeight, skeleton.rows(), static_cast<int32_t>(Shared().config.maxIterations)); }
  void Join() {
    const EngineConfiguration& c = Shared().config;
    JoinGaps(kWidth, kHeight, skeleton.rows(), Map(), static_cast<int32_t>(c.joinTraceMax),
             static_cast<int32_t>(c.joinTraceMin), static_cast<int32_t>(c.joinRadius), c.joinAngleMin);
  }
  void Clean() {
    const EngineConfiguration& c = Shared().config;
    const BifurcationCleaningParameters p{static_cast<int32_t>(c.branchTraceMax), c.teeWideAngle, c.spreadWideAngle,
                                          c.teeSideHigh, c.teeSideLow, c.spreadSideLow,
                                          static_cast<int32_t>(c.branchShortLen), static_cast<int32_t>(c.bridgeMaxLen),
                                          static_cast<int32_t>(c.crossMaxLen), static_cast<int32_t>(c.branchKeepLen),
                                          c.crossAngleMax};
    CleanBifurcations(kWidth, kHeight, skeleton.rows(), Map(), p);
  }
  void Scan() {
    const EngineConfiguration& c = Shared().config;
    ScanMinutiae(kWidth, kHeight, skeleton.rows(), Map(), SharedRidgeStages().Get("density-copy").rows(),
                 features->minutiae, &features->minutiaCount, static_cast<int32_t>(c.endTraceMax),
                 static_cast<int32_t>(c.endTraceMin), static_cast<int32_t>(c.forkBranchMin),
                 static_cast<int32_t>(c.spreadRadius));
  }
  int32_t Filter() {
    const EngineConfiguration& c = Shared().config;
    const MinutiaeFilterParameters p{static_cast<int32_t>(c.crowdRadius), static_cast<int32_t>(c.crowdMaxNeighbours),
                                     static_cast<int32_t>(c.pairDistance), static_cast<int32_t>(c.forkPairDistance),
                                     c.pairAngleTolerance, static_cast<int32_t>(c.borderWindow)};
    FilterMinutiae(kWidth, kHeight, Map(), features->minutiae, features->minutiaCount, p);
    return CompactMinutiae(features->minutiae, features->minutiaCount);
  }
};

MinutiaeStages& SharedMinutiaeStages() {
  static MinutiaeStages stages;
  return stages;
}

void BM_Thin(benchmark::State& state) {
  MinutiaeStages& m = SharedMinutiaeStages();
  for (auto _ : state) {
    m.Take("binary-final");
    m.Thin();
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_Thin)->Unit(benchmark::kMicrosecond);

void BM_JoinGaps(benchmark::State& state) {
  MinutiaeStages& m = SharedMinutiaeStages();
  for (auto _ : state) {
    m.Take("skeleton-thinned");
    m.Join();
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_JoinGaps)->Unit(benchmark::kMicrosecond);

void BM_CleanBifurcations(benchmark::State& state) {
  MinutiaeStages& m = SharedMinutiaeStages();
  for (auto _ : state) {
    m.Take("skeleton-joined");
    m.Clean();
    benchmark::ClobberMemory();
  }
  Label(state);
}
BENCHMARK(BM_CleanBifurcations)->Unit(benchmark::kMicrosecond);

void BM_ScanMinutiae(benchmark::State& state) {
  MinutiaeStages& m = SharedMinutiaeStages();
  for (auto _ : state) {
    m.Take("skeleton-cleaned");
    m.Scan();
    benchmark::ClobberMemory();
  }
  state.counters["scanned"] = m.features->minutiaCount;
  Label(state);
}
BENCHMARK(BM_ScanMinutiae)->Unit(benchmark::kMicrosecond);

void BM_FilterMinutiae(benchmark::State& state) {
  MinutiaeStages& m = SharedMinutiaeStages();
  int32_t kept = 0;
  for (auto _ : state) {
    std::copy(m.scanned.begin(), m.scanned.end(), m.features->minutiae);
    m.features->minutiaCount = static_cast<int32_t>(m.scanned.size());
    kept = m.Filter();
    benchmark::ClobberMemory();
  }
  state.counters["minutiae"] = kept;
  Label(state);
}
BENCHMARK(BM_FilterMinutiae)->Unit(benchmark::kMicrosecond);

// Steps 19 to 27 together, from the final binary image.
void BM_MinutiaeSteps(benchmark::State& state) {
  MinutiaeStages& m = SharedMinutiaeStages();
  int32_t kept = 0;
  for (auto _ : state) {
    m.Take("binary-final");
    m.Thin();
    m.Join();
    m.Clean();
    m.Scan();
    kept = m.Filter();
    benchmark::ClobberMemory();
  }
  state.counters["minutiae"] = kept;
  Label(state);
}
BENCHMARK(BM_MinutiaeSteps)->Unit(benchmark::kMicrosecond);

// Images for ExtractTemplate, kept as read; each call works on a copy, since
// the extraction writes its final image back into the caller's.
struct LoadedImage {
  std::vector<uint8_t> pixels;
  int32_t width;
  int32_t height;
  int32_t dpi;
};

std::vector<LoadedImage> Load(const std::vector<testing::FingerprintImage>& images) {
  std::vector<LoadedImage> loaded;
  for (const testing::FingerprintImage& image : images) {
    imageio::ImageResult read = imageio::ReadImage(image.path);
    if (read.ok()) loaded.push_back({std::move(read.image.pixels), read.image.width, read.image.height, image.dpi});
  }
  return loaded;
}

constexpr int32_t kFixedExtractions = 24;  // one round of the generated fingerprints

// Cycles through `images`; counters: peak heap of one extraction, mean quality and minutiae.
void RunExtractions(benchmark::State& state, const std::vector<LoadedImage>& images) {
  if (images.empty()) {
    state.SkipWithError("no images");
    return;
  }
  const EngineConfiguration& config = Shared().config;
  std::vector<uint8_t> work;
  std::vector<uint8_t> record(kMaxTemplateRecordSize);
  auto extract = [&](const LoadedImage& image) {
    work.assign(image.pixels.begin(), image.pixels.end());
    int32_t length = 0;
    return ExtractTemplate(image.width, image.height, work.data(), image.dpi, record.data(),
                           static_cast<int32_t>(record.size()), &length, &config);
  };
  int64_t peak = 0;
  for (const LoadedImage& image : images) {
    work.reserve(image.pixels.size());
    const int64_t before = heap::live.load();
    heap::peak.store(before);
    extract(image);
    peak = std::max(peak, heap::peak.load() - before);
  }
  size_t next = 0;
  int64_t qualitySum = 0;
  for (auto _ : state) {
    qualitySum += extract(images[next]);
    next = next + 1 == images.size() ? 0 : next + 1;
  }
  state.counters["peak_heap_bytes"] = static_cast<double>(peak);
  state.counters["quality"] = static_cast<double>(qualitySum) / static_cast<double>(state.iterations());
  state.counters["images"] = static_cast<double>(images.size());
}

const std::vector<LoadedImage>& GeneratedImages() {
  static const std::vector<LoadedImage> images = Load(testing::SynthImages());
  return images;
}

void BM_ExtractTemplateGenerated(benchmark::State& state) { RunExtractions(state, GeneratedImages()); }
BENCHMARK(BM_ExtractTemplateGenerated)->Unit(benchmark::kMicrosecond);
// One round of the same images (for instruction counts under callgrind).
BENCHMARK(BM_ExtractTemplateGenerated)->Name("BM_ExtractTemplateFixed")->Iterations(kFixedExtractions)
    ->Unit(benchmark::kMicrosecond);

void BM_ExtractTemplateFixture(benchmark::State& state) {
  Fixture& f = Shared();
  std::vector<LoadedImage> one(1);
  one[0] = {std::vector<uint8_t>(static_cast<size_t>(kWidth * kHeight)), kWidth, kHeight, kWorkingResolution};
  for (int32_t y = 0; y < kHeight; ++y) std::copy(f.source[y], f.source[y] + kWidth, &one[0].pixels[y * kWidth]);
  RunExtractions(state, one);
  Label(state);
}
BENCHMARK(BM_ExtractTemplateFixture)->Unit(benchmark::kMicrosecond);

// The sets of the shared folder in manifest order, up to eight images each.
constexpr int32_t kImagesPerSet = 8;
constexpr int32_t kSharedSetsMax = 8;

struct SharedSet {
  std::string name;
  std::vector<LoadedImage> images;
};

const std::vector<SharedSet>& SharedSets() {
  static const std::vector<SharedSet> sets = [] {
    std::vector<SharedSet> result;
    std::map<std::string, std::vector<testing::FingerprintImage>> bySet;
    std::vector<std::string> order;
    for (const testing::FingerprintImage& image : testing::SharedImages()) {
      std::vector<testing::FingerprintImage>& list = bySet[image.set];
      if (list.empty()) order.push_back(image.set);
      if (static_cast<int32_t>(list.size()) < kImagesPerSet) list.push_back(image);
    }
    for (const std::string& name : order) result.push_back({name, Load(bySet[name])});
    return result;
  }();
  return sets;
}

void BM_ExtractTemplateShared(benchmark::State& state) {
  const std::vector<SharedSet>& sets = SharedSets();
  const size_t k = static_cast<size_t>(state.range(0));
  if (k >= sets.size()) {
    state.SkipWithError("no such set in the shared data folder");
    return;
  }
  RunExtractions(state, sets[k].images);
  const LoadedImage& first = sets[k].images.front();
  state.SetLabel(sets[k].name + " " + std::to_string(first.width) + "x" + std::to_string(first.height) + " " +
                 std::to_string(first.dpi) + "dpi");
}
BENCHMARK(BM_ExtractTemplateShared)->DenseRange(0, kSharedSetsMax - 1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
