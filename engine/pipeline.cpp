// The extraction pipeline driver: the order of the stages, the working images
// they share and the branches the configuration selects. Each step below is
// named after the stages it runs; the stages live in their own files.
#include "engine/pipeline.h"

#include <cstdint>
#include <limits>
#include <string>

#include "engine/background_levelling.h"
#include "engine/border_trimming.h"
#include "engine/box_mean.h"
#include "engine/contrast_normalisation.h"
#include "engine/minutiae/bifurcation_cleaning.h"
#include "engine/minutiae/minutiae_filter.h"
#include "engine/minutiae/minutiae_scan.h"
#include "engine/minutiae/ridge_gap_joining.h"
#include "engine/minutiae/skeleton_thinning.h"
#include "engine/result_codes.h"
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

namespace vorsensor {

namespace {

constexpr uint32_t kLightSmoothRadius = 1;  // the 3 x 3 mean between the grey stages
constexpr uint8_t kBackgroundFrom = 128;    // orientation map values from here are background
constexpr uint8_t kWhite = 255;
constexpr uint32_t kWriteBackSkeleton = 2;  // writeBackImage: the caller gets the skeleton
constexpr int32_t kNoSpreadRadius = -1;     // the scan leaves the orientation spread out

// The configuration's counts and radii are unsigned; the stages take signed
// values, so larger settings are held at the largest signed one.
int32_t Setting(uint32_t value) {
  constexpr uint32_t kLargest = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(value < kLargest ? value : kLargest);
}

// What the stages share: the caller's ridge image (changed in place), scratch
// image A (normalised grey, then reliability, then the edge density map with
// the pass counts in its low bits, then a copy of the final binary image for
// the skeleton), orientation map B, density copy E (the smoothed edge density
// map, made only by the adaptive binarisation, read by the minutiae scan),
// the feature set being filled, the settings and the optional diagnostics sink.
struct PipelineWork {
  int32_t w;
  int32_t h;
  uint8_t* const* ridge;
  RowImage scratch;
  RowImage orientation;
  FeatureSet* features;
  const EngineConfiguration& config;
  StageSink* sink;
  RowImage density;  // E: not valid() unless the adaptive binarisation made it
};

std::string FormatSingularPoints(const SingularPoint* points, int32_t count) {
  std::string text;
  for (int32_t i = 0; i < count; ++i) {
    text += std::to_string(points[i].x) + ' ' + std::to_string(points[i].y) + ' ' + std::to_string(points[i].kind) +
            ' ' + std::to_string(points[i].direction) + '\n';
  }
  return text;
}

// One line per minutia: x y type direction spread density.
std::string FormatMinutiae(const Minutia* minutiae, int32_t count) {
  std::string text;
  for (int32_t i = 0; i < count; ++i) {
    const Minutia& m = minutiae[i];
    text += std::to_string(m.x) + ' ' + std::to_string(m.y) + ' ' + std::to_string(m.type) + ' ' +
            std::to_string(m.direction) + ' ' + std::to_string(m.spread) + ' ' + std::to_string(m.density) + '\n';
  }
  return text;
}

int32_t SmoothLightly(int32_t w, int32_t h, uint8_t* const* image, uint32_t times) {
  for (uint32_t i = 0; i < times; ++i) {
    if (const int32_t rc = BoxMean(w, h, image, kLightSmoothRadius); rc < 0) return rc;
  }
  return kOk;
}

// Border trimming, background levelling and light smoothing of the ridge
// image; its contrast-normalised copy, lightly smoothed, in A.
int32_t NormaliseGreyImage(PipelineWork& work) {
  const EngineConfiguration& c = work.config;
  const int32_t w = work.w, h = work.h;
  uint8_t* const* a = work.scratch.rows();
  if (c.trimBorders != 0) {
    const int32_t rc = TrimBorders(w, h, work.ridge, c.borderBrightMin, c.borderRowWindow, c.borderPercentile,
                                   c.borderSpread);
    if (rc < 0) return rc;
  }
  if (c.levelBackground != 0) LevelBackground(w, h, work.ridge, a, work.orientation.rows(), work.ridge);
  if (const int32_t rc = SmoothLightly(w, h, work.ridge, c.presmoothTwice != 0 ? 2 : 1); rc < 0) return rc;

  CopyRowImage(a, work.ridge, w, h);
  if (const int32_t rc = BoxMean(w, h, a, c.localMeanRadius); rc < 0) return rc;
  if (const int32_t rc = NormaliseContrast(w, h, work.ridge, a, c.contrastRadius); rc < 0) return rc;
  const uint32_t passes = 1 + (c.postsmoothTwice != 0 ? 1 : 0) + (c.orientMethod != 0 ? 1 : 0);
  if (const int32_t rc = SmoothLightly(w, h, a, passes); rc < 0) return rc;
  DumpImage(work.sink, "normalised", a, w, h);
  return kOk;
}

// The feature set's copy of the voted block directions, when asked for.
void ExportBlockGrid(PipelineWork& work, const RowImage& direction) {
  FeatureSet* f = work.features;
  if (work.config.exportBlockMap == 0) {
    f->gridWidth = 0;
    f->gridHeight = 0;
    return;
  }
  f->gridWidth = direction.width() < kMaxGridSide ? direction.width() : kMaxGridSide;
  f->gridHeight = direction.height() < kMaxGridSide ? direction.height() : kMaxGridSide;
  for (int32_t by = 0; by < f->gridHeight; ++by) {
    for (int32_t bx = 0; bx < f->gridWidth; ++bx) f->grid[by][bx] = direction[by][bx];
  }
}

// Block orientation and reliability of A, the block vote, the exported grid
// and singular point detection; the two block grids live only here.
int32_t OrientBlocksAndDetectSingularPoints(PipelineWork& work, SingularPointList* detected) {
  const EngineConfiguration& c = work.config;
  const BlockGridDimensions grid = BlockGridSize(work.w, work.h);
  RowImage direction = AllocRowImage(grid.bw, grid.bh);
  RowImage reliability = AllocRowImage(grid.bw, grid.bh);
  if (!direction.valid() || !reliability.valid()) return kOutOfMemory;

  const uint8_t* const* a = work.scratch.rows();
  const int32_t rc = c.orientMethod != 0
                         ? DifferenceBlockOrientation(work.w, work.h, a, grid.bw, grid.bh, direction.rows(),
                                                      reliability.rows(), c.blockFlatnessMax)
                         : GradientBlockOrientation(work.w, work.h, a, grid.bw, grid.bh, direction.rows(),
                                                    reliability.rows(), c.gradientEnergyMin);
  if (rc < 0) return rc;
  DumpImage(work.sink, "block-orientation", direction.rows(), grid.bw, grid.bh);
  DumpImage(work.sink, "block-reliability", reliability.rows(), grid.bw, grid.bh);
  if (c.orientMethod != 0) {
    VoteBlocksByVariation(grid.bw, grid.bh, direction.rows(), reliability.rows(), c.blockVariationMax);
  } else {
    VoteBlocksByCoherence(grid.bw, grid.bh, direction.rows(), reliability.rows(), c.coherenceMin);
  }
  DumpImage(work.sink, "block-orientation-voted", direction.rows(), grid.bw, grid.bh);

  ExportBlockGrid(work, direction);
  DetectSingularPoints(grid.bw, grid.bh, direction.rows(), detected);
  DumpText(work.sink, "singular-detected", [&] { return FormatSingularPoints(detected->points, detected->count); });
  return kOk;
}

// Per-pixel orientation into B and reliability over A.
int32_t OrientPixels(PipelineWork& work) {
  const EngineConfiguration& c = work.config;
  const int32_t rc =
      c.orientMethod != 0
          ? DifferencePixelOrientation(work.w, work.h, work.scratch.rows(), work.orientation.rows(),
                                       c.pixelOrientRadius, c.pixelFlatnessMax)
          : GradientPixelOrientation(work.w, work.h, work.scratch.rows(), work.orientation.rows(),
                                     c.pixelOrientRadius, c.gradientEnergyMin);
  if (rc < 0) return rc;
  DumpImage(work.sink, "pixel-orientation", work.orientation.rows(), work.w, work.h);
  DumpImage(work.sink, "pixel-reliability", work.scratch.rows(), work.w, work.h);
  return kOk;
}

// The detections placed on the orientation map, into the feature set.
void LocateSingularPointsOnMap(PipelineWork& work, const SingularPointList& detected) {
  FeatureSet* f = work.features;
  f->singularCount = LocateSingularPoints(work.w, work.h, work.orientation.rows(), detected, f->singular,
                                          work.config.singularLocateRadius, work.config.singularDirectionRadius);
  DumpText(work.sink, "singular-points", [&] { return FormatSingularPoints(f->singular, f->singularCount); });
}

// The foreground vote marks the background in B; its result is the quality.
int32_t SegmentForeground(PipelineWork& work) {
  const EngineConfiguration& c = work.config;
  const FeatureSet* f = work.features;
  const int32_t quality =
      c.orientMethod != 0
          ? ForegroundVoteByVariation(work.w, work.h, work.orientation.rows(), work.scratch.rows(), f->singular,
                                      f->singularCount, c.segmentRadius, c.pixelVariationMax, c.singularGuardRadius)
          : ForegroundVoteByCoherence(work.w, work.h, work.orientation.rows(), work.scratch.rows(), f->singular,
                                      f->singularCount, c.segmentRadius, c.coherenceMin, c.singularGuardRadius);
  if (quality < 0) return quality;
  DumpImage(work.sink, "orientation-map", work.orientation.rows(), work.w, work.h);
  DumpText(work.sink, "quality", [&] { return std::to_string(quality) + '\n'; });
  return quality;
}

// From the grey image to the orientation map, the foreground mask and the
// quality: normalise, orient blocks and detect, orient pixels, locate, segment.
int32_t NormaliseOrientLocateSegment(PipelineWork& work) {
  SingularPointList detected{};
  if (const int32_t rc = NormaliseGreyImage(work); rc < 0) return rc;
  if (const int32_t rc = OrientBlocksAndDetectSingularPoints(work, &detected); rc < 0) return rc;
  if (const int32_t rc = OrientPixels(work); rc < 0) return rc;
  LocateSingularPointsOnMap(work, detected);
  return SegmentForeground(work);
}

// Step 14: the grey ridge image smoothed along B.
int32_t SmoothRidgeImage(PipelineWork& work) {
  if (const int32_t rc = DirectionalSmooth(work.w, work.h, work.ridge, work.orientation.rows()); rc < 0) return rc;
  DumpImage(work.sink, "smoothed", work.ridge, work.w, work.h);
  return kOk;
}

// The ridge image against local means, with the density map in A when the
// binarisation is adaptive (the first time it is made here, with E).
int32_t BinarizeRidgeImage(PipelineWork& work, bool makeDensityMap) {
  const EngineConfiguration& c = work.config;
  const int32_t w = work.w, h = work.h;
  uint8_t* const* a = work.scratch.rows();
  if (c.adaptiveBinarize == 0) return BinarizeByLocalMean(w, h, work.ridge, c.meanRadiusMedium);
  if (makeDensityMap) {
    work.density = AllocRowImage(w, h);
    if (!work.density.valid()) return kOutOfMemory;
    if (const int32_t rc = BinarizeByTwoMeans(w, h, work.ridge, a, c.meanRadiusSmall, c.meanRadiusLarge); rc < 0) {
      return rc;
    }
    if (const int32_t rc = EdgeDensity(w, h, a, work.orientation.rows(), c.edgeDensityRadius); rc < 0) return rc;
    DumpImage(work.sink, "edge-density", a, w, h);
    if (const int32_t rc = BoxMean(w, h, a, c.edgeDensitySmoothRadius); rc < 0) return rc;
    CopyRowImage(work.density.rows(), a, w, h);
    DumpImage(work.sink, "density-copy", work.density.rows(), w, h);
  }
  return BinarizeByDensity(w, h, work.ridge, a, c.densityHigh, c.densityLow, c.meanRadiusSmall, c.meanRadiusMedium,
                           c.meanRadiusLarge);
}

// The low 3 bits of A (the pass counts) as an image, built only for a sink.
void DumpPassCounts(PipelineWork& work) {
  if (work.sink == nullptr) return;
  RowImage counts = AllocRowImage(work.w, work.h);
  if (!counts.valid()) return;
  for (int32_t y = 0; y < work.h; ++y) {
    for (int32_t x = 0; x < work.w; ++x) counts[y][x] = static_cast<uint8_t>(work.scratch[y][x] & kPassCountBits);
  }
  DumpImage(work.sink, "pass-counts", counts.rows(), work.w, work.h);
}

// Step 15: the first binary ridge image.
int32_t BinarizeFirst(PipelineWork& work) {
  if (const int32_t rc = BinarizeRidgeImage(work, true); rc < 0) return rc;
  DumpImage(work.sink, "binary-first", work.ridge, work.w, work.h);
  return kOk;
}

// Step 16: fixed smoothing passes, orientation refresh with pass counts in A,
// the counted passes and the second binarisation, as far as the settings ask
// for them; a step that does not run hands its input on unchanged.
int32_t RegulariseRidges(PipelineWork& work) {
  const EngineConfiguration& c = work.config;
  const int32_t w = work.w, h = work.h;
  const uint64_t refinePasses = uint64_t{c.refinePassesBase} + c.refinePassesRange;
  const bool regularise = c.ridgeSmoothPasses + refinePasses != 0;
  if (c.ridgeSmoothPasses != 0) {
    const int32_t rc = c.ridgeSmoothMethod != 0
                           ? SmoothAlongDifferences(w, h, work.ridge, c.ridgeSmoothRadius, c.ridgeSmoothPasses)
                           : SmoothAlongGradient(w, h, work.ridge, c.ridgeSmoothRadius, c.ridgeSmoothPasses);
    if (rc < 0) return rc;
  }
  DumpImage(work.sink, "ridge-smoothed", work.ridge, w, h);
  if (refinePasses != 0) {
    const FeatureSet* f = work.features;
    const bool differences = c.refineMethod != 0;
    const PassCountRule rule{differences ? c.refineVariationHigh : c.refineCoherenceHigh,
                             differences ? c.refineVariationLow : c.refineCoherenceLow, c.refinePassesBase,
                             c.refinePassesRange};
    const int32_t rc = differences ? RefreshByDifferences(w, h, work.ridge, work.orientation.rows(),
                                                          work.scratch.rows(), f->singular, f->singularCount,
                                                          c.refineRadius, rule, c.singularGuardRadius)
                                   : RefreshByGradient(w, h, work.ridge, work.orientation.rows(), work.scratch.rows(),
                                                       f->singular, f->singularCount, c.refineRadius, rule,
                                                       c.singularGuardRadius);
    if (rc < 0) return rc;
  }
  DumpPassCounts(work);
  DumpImage(work.sink, "orientation-refreshed", work.orientation.rows(), w, h);
  if (refinePasses != 0) {
    const int32_t rc = RunPassCounts(w, h, work.ridge, work.orientation.rows(), work.scratch.rows());
    if (rc < 0) return rc;
  }
  DumpImage(work.sink, "ridge-pass-smoothed", work.ridge, w, h);
  if (regularise) {
    if (const int32_t rc = BinarizeRidgeImage(work, false); rc < 0) return rc;
  }
  DumpImage(work.sink, "binary-second", work.ridge, w, h);
  return kOk;
}

// Steps 17 and 18: the majority vote gives the final binary image, which A
// takes as the skeleton's start; its ridge density is the feature set's.
int32_t FinishBinaryImage(PipelineWork& work) {
  if (const int32_t rc = MajorityFilter(work.w, work.h, work.ridge); rc < 0) return rc;
  DumpImage(work.sink, "binary-final", work.ridge, work.w, work.h);
  CopyRowImage(work.scratch.rows(), work.ridge, work.w, work.h);
  work.features->densityByte = RidgeDensity(work.w, work.h, work.scratch.rows(), work.orientation.rows());
  DumpText(work.sink, "ridge-density", [&] { return std::to_string(work.features->densityByte) + '\n'; });
  return kOk;
}

// From the grey ridge image and the orientation map to the final binary
// image in the ridge image and in A, the refreshed B and the density byte.
int32_t SmoothBinarizeRegularise(PipelineWork& work) {
  if (const int32_t rc = SmoothRidgeImage(work); rc < 0) return rc;
  if (const int32_t rc = BinarizeFirst(work); rc < 0) return rc;
  if (const int32_t rc = RegulariseRidges(work); rc < 0) return rc;
  return FinishBinaryImage(work);
}

// From the binary ridge image in A to the feature set's minutiae: thin A into
// the skeleton, join its gaps, clean its bifurcations, scan, filter and
// compact. `densityCopy` is E when it was made, else null.
int32_t FindMinutiae(PipelineWork& work, const uint8_t* const* densityCopy) {
  const EngineConfiguration& c = work.config;
  const int32_t w = work.w, h = work.h;
  uint8_t* const* skeleton = work.scratch.rows();
  const uint8_t* const* orientation = work.orientation.rows();
  if (const int32_t rc = Thin(w, h, skeleton, Setting(c.maxIterations)); rc < 0) return rc;
  DumpImage(work.sink, "skeleton-thinned", skeleton, w, h);
  const int32_t joined = JoinGaps(w, h, skeleton, orientation, Setting(c.joinTraceMax), Setting(c.joinTraceMin),
                                  Setting(c.joinRadius), c.joinAngleMin);
  if (joined < 0) return joined;
  DumpImage(work.sink, "skeleton-joined", skeleton, w, h);
  const BifurcationCleaningParameters cleaning{
      Setting(c.branchTraceMax), c.teeWideAngle,          c.spreadWideAngle,        c.teeSideHigh,
      c.teeSideLow,              c.spreadSideLow,         Setting(c.branchShortLen), Setting(c.bridgeMaxLen),
      Setting(c.crossMaxLen),    Setting(c.branchKeepLen), c.crossAngleMax};
  CleanBifurcations(w, h, skeleton, orientation, cleaning);
  DumpImage(work.sink, "skeleton-cleaned", skeleton, w, h);

  FeatureSet* f = work.features;
  const int32_t rc = ScanMinutiae(w, h, skeleton, orientation, c.densityEnabled != 0 ? densityCopy : nullptr,
                                  f->minutiae, &f->minutiaCount, Setting(c.endTraceMax), Setting(c.endTraceMin),
                                  Setting(c.forkBranchMin), c.spreadEnabled != 0 ? Setting(c.spreadRadius)
                                                                                 : kNoSpreadRadius);
  if (rc < 0) return rc;
  DumpText(work.sink, "minutiae-scanned", [&] { return FormatMinutiae(f->minutiae, f->minutiaCount); });
  const MinutiaeFilterParameters filter{Setting(c.crowdRadius),  Setting(c.crowdMaxNeighbours),
                                        Setting(c.pairDistance), Setting(c.forkPairDistance),
                                        c.pairAngleTolerance,    Setting(c.borderWindow)};
  FilterMinutiae(w, h, orientation, f->minutiae, f->minutiaCount, filter);
  f->minutiaCount = CompactMinutiae(f->minutiae, f->minutiaCount);
  DumpText(work.sink, "minutiae", [&] { return FormatMinutiae(f->minutiae, f->minutiaCount); });
  return kOk;
}

// What the caller's image ends as: the skeleton when asked for, and white
// wherever the orientation map marks background (`WhitenBackground`).
void FinishRidgeImage(PipelineWork& work) {
  if (work.config.writeBackImage == kWriteBackSkeleton) {
    CopyRowImage(work.ridge, work.scratch.rows(), work.w, work.h);
  }
  const uint8_t* const* orientation = work.orientation.rows();
  for (int32_t y = 0; y < work.h; ++y) {
    for (int32_t x = 0; x < work.w; ++x) {
      if (orientation[y][x] >= kBackgroundFrom) work.ridge[y][x] = kWhite;
    }
  }
}

}  // namespace

int32_t RunPipeline(int32_t w, int32_t h, uint8_t* const* ridgeImage, FeatureSet* features,
                    const EngineConfiguration* config, StageSink* sink) {
  if (ridgeImage == nullptr || features == nullptr) return kMissingArgument;
  const EngineConfiguration* settings = ResolveConfiguration(config);
  if (settings == nullptr) return kEngineStopped;
  if (w < 0 || h < 0) return kOutOfRange;
  if (const int32_t rc = CheckExtractionParameters(*settings); rc < 0) return rc;
  ClearFeatureSet(features);

  PipelineWork work{w, h, ridgeImage, AllocRowImage(w, h), AllocRowImage(w, h), features, *settings, sink, {}};
  if (!work.scratch.valid() || !work.orientation.valid()) return kOutOfMemory;

  const int32_t quality = NormaliseOrientLocateSegment(work);
  if (quality < 0) return quality;
  if (const int32_t rc = SmoothBinarizeRegularise(work); rc < 0) return rc;
  if (const int32_t rc = FindMinutiae(work, work.density.valid() ? work.density.rows() : nullptr); rc < 0) return rc;
  if (settings->keepSingularPoints == 0) features->singularCount = 0;
  FinishRidgeImage(work);
  return quality;
}

}  // namespace vorsensor
