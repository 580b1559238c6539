#pragma once
// The capture template service: one captured image turned into a sealed
// template for a verification or identification capture.
#include <cstdint>

#include "engine/diagnostics.h"
#include "engine/engine_configuration.h"

namespace vorsensor {

// The extraction the service runs: the extraction entry's form (quality
// 0..255 or a negative code; the record and its length written).
using ExtractFunction = int32_t (*)(int32_t width, int32_t height, uint8_t* image, int32_t resolution,
                                    uint8_t* record, int32_t recordCapacity, int32_t* recordLength,
                                    const EngineConfiguration* config, StageSink* sink);

// Extracts a template record from `image` (width x height at `resolution`
// dots per inch) with `extract` and the engine's own configuration into a
// zeroed 2048-byte work buffer and seals it into the 500 bytes at `sealed`.
// Returns 1 with *length = 500 and *quality = the extraction's quality (any
// quality of 0 or more is taken); or 0 without a template: *quality = -1
// (left alone when the work buffer cannot be had), *length may hold the
// length of a record too long to seal. Null outputs give 0.
int32_t MakeCaptureTemplateWith(ExtractFunction extract, int32_t resolution, int32_t width, int32_t height,
                                uint8_t* image, uint8_t* sealed, int32_t* length, int32_t* quality);

// The same with the extraction entry (services/extraction_binding.cpp).
int32_t MakeCaptureTemplate(int32_t resolution, int32_t width, int32_t height, uint8_t* image, uint8_t* sealed,
                            int32_t* length, int32_t* quality);

}  // namespace vorsensor
