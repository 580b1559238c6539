// The extraction entry: argument and resolution checks, normalisation to
// 500 pixels per inch, the optional cut to the finger, the pipeline, and the
// way back to the caller's coordinates and image; the template record of the
// result.
#include "engine/extraction_entry.h"

#include <memory>
#include <new>

#include "engine/finger_box.h"
#include "engine/pipeline.h"
#include "engine/resample_image.h"
#include "engine/result_codes.h"
#include "engine/row_image.h"
#include "engine/template_record.h"

namespace vorsensor {

namespace {

// With `returnQuality` 0 the caller is told only whether the quality passes:
// at least qualityMin for the gradient family, at most qualityMaxDiff for the
// difference family (whose quality grows as the image gets worse).
bool QualityAccepted(int32_t quality, const EngineConfiguration& config) {
  return config.orientMethod == 0 ? quality >= config.qualityMin : quality <= config.qualityMaxDiff;
}

// Row pointers into a caller's flat image.
std::unique_ptr<uint8_t*[]> RowsOf(uint8_t* image, int32_t width, int32_t height) {
  std::unique_ptr<uint8_t*[]> rows(new (std::nothrow) uint8_t*[static_cast<size_t>(height)]);
  if (!rows) return rows;
  for (int32_t y = 0; y < height; ++y) rows[y] = image + static_cast<size_t>(y) * static_cast<size_t>(width);
  return rows;
}

}  // namespace

NormalisedSize NormaliseSize(int32_t width, int32_t height, int32_t resolution) {
  if (resolution <= 0) return NormalisedSize{0, 0};
  return NormalisedSize{static_cast<int64_t>(width) * kWorkingResolution / resolution,
                        static_cast<int64_t>(height) * kWorkingResolution / resolution};
}

void WriteBackImage(int32_t nw, int32_t nh, const uint8_t* const* normalised, int32_t width, int32_t height,
                    uint8_t* image) {
  if (width <= 0 || height <= 0) return;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* source = normalised[static_cast<int64_t>(y) * nh / height];
    uint8_t* target = image + static_cast<size_t>(y) * static_cast<size_t>(width);
    for (int32_t x = 0; x < width; ++x) target[x] = source[static_cast<int64_t>(x) * nw / width];
  }
}

int32_t ExtractFeatures(int32_t width, int32_t height, uint8_t* image, int32_t resolution, FeatureSet* features,
                        const EngineConfiguration* config, StageSink* sink) {
  if (image == nullptr || features == nullptr) return kMissingArgument;
  const EngineConfiguration* settings = ResolveConfiguration(config);
  if (settings == nullptr) return kEngineStopped;
  const EngineConfiguration& c = *settings;
  if (resolution < kMinResolution || resolution > kMaxResolution) return kServiceOutOfMemory;
  const NormalisedSize size = NormaliseSize(width, height, resolution);
  if (size.width < c.minImageSide || size.height < c.minImageSide || size.width > c.maxImageSide ||
      size.height > c.maxImageSide) {
    return kImageSizeOutOfRange;
  }
  const int32_t nw = static_cast<int32_t>(size.width), nh = static_cast<int32_t>(size.height);

  const std::unique_ptr<uint8_t*[]> callerRows = RowsOf(image, width, height);
  RowImage normalised = AllocRowImage(nw, nh);
  if (!callerRows || !normalised.valid()) return kOutOfMemory;
  ResampleImage(width, height, callerRows.get(), nw, nh, normalised.rows());
  DumpImage(sink, "resampled", normalised.rows(), nw, nh);

  FingerBox box{0, 0, nw, nh};
  if (c.cropToFinger != 0) box = FindFingerBox(nw, nh, normalised.rows(), c.cropLevel, c.minImageSide);
  const bool cut = CutsImage(box, nw, nh);
  RowImage cutout;
  if (cut) {
    cutout = AllocRowImage(box.width, box.height);
    if (!cutout.valid()) return kOutOfMemory;
    CutImage(normalised.rows(), box, cutout.rows());
  }
  uint8_t* const* input = cut ? cutout.rows() : normalised.rows();
  DumpImage(sink, "pipeline-input", input, box.width, box.height);

  const int32_t quality = RunPipeline(box.width, box.height, input, features, settings, sink);
  if (quality < 0) return quality;
  if (cut) {
    PasteImage(normalised.rows(), nw, nh, box, cutout.rows());
    ShiftFeatures(features, box, nw, nh);
  }
  if (c.writeBackImage != 0) {
    WriteBackImage(nw, nh, normalised.rows(), width, height, image);
    DumpImage(sink, "written-back", callerRows.get(), width, height);
  }
  if (c.returnQuality != 0) return quality;
  return QualityAccepted(quality, c) ? kOk : kQualityRejected;
}

int32_t ExtractTemplate(int32_t width, int32_t height, uint8_t* image, int32_t resolution, uint8_t* record,
                        int32_t recordCapacity, int32_t* recordLength, const EngineConfiguration* config,
                        StageSink* sink) {
  if (record == nullptr || recordLength == nullptr) return kMissingArgument;
  if (ResolveConfiguration(config) == nullptr) return kEngineStopped;
  if (recordCapacity < 0) return kOutOfRange;
  const std::unique_ptr<FeatureSet> features(new (std::nothrow) FeatureSet);
  if (!features) return kOutOfMemory;
  const int32_t result = ExtractFeatures(width, height, image, resolution, features.get(), config, sink);
  if (result < 0 && result != kQualityRejected) return result;
  const int32_t length = WriteTemplateRecord(features.get(), record, static_cast<size_t>(recordCapacity));
  *recordLength = length;
  return length < 0 ? length : result;
}

}  // namespace vorsensor
