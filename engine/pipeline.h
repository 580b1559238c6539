#pragma once
// The extraction pipeline: runs the stages over one normalised grey image in
// their fixed order and fills a feature set.
//
// It runs every stage, from the grey image through the orientation map, the
// foreground mask and the binary ridge image to the skeleton and its minutiae.
#include <cstdint>

#include "engine/diagnostics.h"
#include "engine/engine_configuration.h"
#include "engine/feature_set.h"

namespace vorsensor {

// Runs the pipeline on the w x h ridge image, which it changes in place, and
// fills `features`. `config` may be null for the engine's own configuration;
// `sink`, when given, receives every stage's output (docs/diagnostics.md).
// Returns the image quality 0..255 of the foreground vote, or kMissingArgument,
// kEngineStopped, kInvalidConfiguration (CheckExtractionParameters; the image
// is untouched), kOutOfMemory.
int32_t RunPipeline(int32_t w, int32_t h, uint8_t* const* ridgeImage, FeatureSet* features,
                    const EngineConfiguration* config, StageSink* sink = nullptr);

}  // namespace vorsensor
