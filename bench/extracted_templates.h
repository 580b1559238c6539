#pragma once
// Templates for the matching benchmarks, extracted with the default
// configuration from the committed generated fingerprints and, when the
// shared development folder is there, from up to `sharedImpressions`
// impressions of each of its fingers. Records longer than a sealed template
// holds (500 bytes) and failed extractions are left out.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/extraction_entry.h"
#include "engine/template_record.h"
#include "fingerprint_images.h"
#include "imageio/image_io.h"

namespace vorsensor::bench {

constexpr size_t kTemplateRecordBytes = 500;

struct ExtractedTemplate {
  std::string finger;
  int32_t impression;
  std::vector<uint8_t> record;  // as long as written
  std::array<uint8_t, kTemplateRecordBytes> padded;  // zero-padded to the sealed size
};

inline std::vector<ExtractedTemplate> ExtractTemplates(int32_t sharedImpressions) {
  std::vector<testing::FingerprintImage> images = testing::SynthImages();
  for (const testing::FingerprintImage& image : testing::SharedImages()) {
    if (image.impression <= sharedImpressions) images.push_back(image);
  }
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  std::vector<ExtractedTemplate> templates;
  std::vector<uint8_t> record(kMaxTemplateRecordSize);
  for (const testing::FingerprintImage& image : images) {
    imageio::ImageResult read = imageio::ReadImage(image.path);
    if (!read.ok()) continue;
    int32_t length = 0;
    const int32_t rc = ExtractTemplate(read.image.width, read.image.height, read.image.pixels.data(), image.dpi,
                                       record.data(), static_cast<int32_t>(record.size()), &length, &config);
    if (rc < 0 || length <= 0 || static_cast<size_t>(length) > kTemplateRecordBytes) continue;
    ExtractedTemplate t{image.finger, image.impression, {record.begin(), record.begin() + length}, {}};
    std::copy(t.record.begin(), t.record.end(), t.padded.begin());
    templates.push_back(std::move(t));
  }
  std::fprintf(stderr, "%zu templates extracted from %zu images\n", templates.size(), images.size());
  return templates;
}

}  // namespace vorsensor::bench
