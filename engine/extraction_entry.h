#pragma once
// The door into the extraction engine: checks a caller's grey image, brings it
// to the engine's working scale of 500 pixels per inch, optionally cuts it
// down to the finger, runs the pipeline and maps the results back (features to
// full-image coordinates, the pipeline's image into the caller's buffer).
#include <cstdint>

#include "engine/diagnostics.h"
#include "engine/engine_configuration.h"
#include "engine/feature_set.h"

namespace vorsensor {

constexpr int32_t kWorkingResolution = 500;  // pixels per inch the pipeline works at
constexpr int32_t kMinResolution = 50;
constexpr int32_t kMaxResolution = 5000;

// The size of a width x height image at `resolution` once brought to 500
// pixels per inch (integer division; 64-bit so that no input overflows).
struct NormalisedSize {
  int64_t width;
  int64_t height;
};
NormalisedSize NormaliseSize(int32_t width, int32_t height, int32_t resolution);

// Extracts the features of the width x height image (rows top to bottom,
// 0 black, 255 white) taken at `resolution` pixels per inch. `config` null
// means the engine's own. Returns the image quality 0..255, or with
// `returnQuality` 0 either 0 (quality accepted) or kQualityRejected; errors:
// kMissingArgument (no image or feature set), kEngineStopped, kServiceOutOfMemory
// (resolution outside 50..5000), kImageSizeOutOfRange (normalised side outside
// minImageSide..maxImageSide), kOutOfMemory (working images). With
// `writeBackImage` nonzero a successful call copies the pipeline's final image
// back into `image`; after an error `image` is unchanged.
// `sink`, when given, receives "resampled" and "pipeline-input" first, then
// the pipeline's outputs, then "written-back" (docs/diagnostics.md).
int32_t ExtractFeatures(int32_t width, int32_t height, uint8_t* image, int32_t resolution, FeatureSet* features,
                        const EngineConfiguration* config, StageSink* sink = nullptr);

// ExtractFeatures, then the template record of the features into `record`
// (`recordCapacity` bytes) when the result is a quality or kQualityRejected;
// `*recordLength` receives the record's length. Returns the result of
// ExtractFeatures, or the record writer's error (which is then also stored in
// `*recordLength`). kMissingArgument without `record` or `recordLength`,
// kOutOfRange for a negative capacity; on these and on extraction errors
// nothing is written.
int32_t ExtractTemplate(int32_t width, int32_t height, uint8_t* image, int32_t resolution, uint8_t* record,
                        int32_t recordCapacity, int32_t* recordLength, const EngineConfiguration* config,
                        StageSink* sink = nullptr);

// Nearest-pixel copy of the nw x nh normalised image into the caller's
// width x height image: pixel (x, y) takes normalised (x nw / width, y nh / height).
void WriteBackImage(int32_t nw, int32_t nh, const uint8_t* const* normalised, int32_t width, int32_t height,
                    uint8_t* image);

}  // namespace vorsensor
