// Time per extraction stage on one 256 x 288 image: a real sensor image from
// the shared data folder when there is one, else a synthetic whorl of ridges.
// Each iteration restores the stage's input first (a 73728-byte copy, timed
// on its own by BM_CopyImage), as the stages work in place.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/background_levelling.h"
#include "engine/border_trimming.h"
#include "engine/box_mean.h"
#include "engine/contrast_normalisation.h"
#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
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
#include "imageio/image_io.h"
#include "geometry/geometry.h"
#include "test_paths.h"

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

}  // namespace

BENCHMARK_MAIN();
