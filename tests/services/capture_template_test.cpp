// The capture template service with a scripted extraction.
#include <gtest/gtest.h>

#include <array>

#include "engine/result_codes.h"
#include "services/capture_template.h"
#include "services/template_cipher.h"

namespace vorsensor::testing {
namespace {

// The image's first byte is the quality to report (as a signed byte), its
// second the record length in tens of bytes; the record bytes count up.
int32_t ScriptedExtract(int32_t width, int32_t height, uint8_t* image, int32_t resolution, uint8_t* record,
                        int32_t capacity, int32_t* length, const EngineConfiguration* config, StageSink* sink) {
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 288);
  EXPECT_EQ(resolution, 500);
  EXPECT_EQ(capacity, 2048);
  EXPECT_EQ(config, nullptr);  // the engine's own
  EXPECT_EQ(sink, nullptr);
  *length = image[1] * 10 + image[2];
  for (int32_t k = 0; k < *length && k < capacity; ++k) record[k] = static_cast<uint8_t>(k * 7 + 1);
  return static_cast<int8_t>(image[0]);
}

TEST(MakeCaptureTemplate, SealsAnyQualityWhenTheRecordFits) {
  struct Case {
    int8_t quality;
    int32_t recordLength;
    int32_t made;
  };
  const Case cases[] = {{0, 120, 1}, {100, 500, 1}, {127, 1, 1}, {100, 501, 0}, {-3, 100, 0}, {-101, 0, 0}};
  for (const Case& c : cases) {
    std::array<uint8_t, 3> image{static_cast<uint8_t>(c.quality), static_cast<uint8_t>(c.recordLength / 10),
                                 static_cast<uint8_t>(c.recordLength % 10)};
    std::array<uint8_t, kSealedTemplateBytes> sealed{};
    int32_t length = -7;
    int32_t quality = -7;
    EXPECT_EQ(MakeCaptureTemplateWith(&ScriptedExtract, 500, 256, 288, image.data(), sealed.data(), &length, &quality),
              c.made)
        << int{c.quality} << " " << c.recordLength;
    if (c.made == 0) {
      EXPECT_EQ(quality, -1);
      EXPECT_EQ(length, c.recordLength);
      continue;
    }
    EXPECT_EQ(quality, c.quality);
    EXPECT_EQ(length, kSealedTemplateBytes);
    std::array<uint8_t, kSealedTemplateBytes> opened{};
    OpenTemplateRecord(sealed.data(), opened.data());
    for (int32_t k = 0; k < kSealedTemplateBytes; ++k) {
      ASSERT_EQ(opened[static_cast<size_t>(k)], k < c.recordLength ? static_cast<uint8_t>(k * 7 + 1) : 0) << k;
    }
  }
  int32_t length = 0;
  int32_t quality = 0;
  EXPECT_EQ(MakeCaptureTemplateWith(nullptr, 500, 256, 288, nullptr, nullptr, &length, &quality), 0);
}

}  // namespace
}  // namespace vorsensor::testing
