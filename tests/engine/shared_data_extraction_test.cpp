// Real images of every size and resolution of the shared development folder
// (skipped when it is absent): a sample of each set extracts into a record,
// at the set's stated resolution and, brought down to half size, at twice it.
// Minutiae lie inside the normalised image and the record reads back with the
// same number of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/extraction_entry.h"
#include "engine/feature_set.h"
#include "engine/result_codes.h"
#include "engine/template_record.h"
#include "imageio/image_io.h"
#include "support/fingerprint_images.h"

namespace vorsensor {
namespace {

// Keeps only the final minutiae list (the images are not copied).
class MinutiaeSink : public StageSink {
 public:
  void Image(std::string_view, const uint8_t* const*, int32_t, int32_t) override {}
  void Text(std::string_view key, std::string_view text) override {
    if (key == "minutiae") minutiae = std::string(text);
  }
  std::string minutiae;
};

struct Case {
  testing::FingerprintImage image;
  int32_t resolution;
};

// Per set and size: the first image at its stated resolution and the second
// claimed at twice it (so the engine halves it).
std::vector<Case> Sample() {
  std::vector<Case> cases;
  std::map<std::string, int32_t> taken;
  for (const testing::FingerprintImage& image : testing::SharedImages()) {
    const std::string key = image.set + ' ' + std::to_string(image.width) + 'x' + std::to_string(image.height) + ' ' +
                            std::to_string(image.dpi);
    const int32_t n = taken[key]++;
    if (n == 0) cases.push_back({image, image.dpi});
    if (n == 1) cases.push_back({image, 2 * image.dpi});
  }
  return cases;
}

TEST(SharedDataExtractionTest, SampleOfEverySetAndResolutionExtracts) {
  const std::vector<Case> cases = Sample();
  if (cases.empty()) GTEST_SKIP() << "no shared development images (../shared/data or VS_SHARED_DATA)";
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  std::vector<uint8_t> record(kMaxTemplateRecordSize);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image.path + " at " + std::to_string(c.resolution) + " dpi");
    imageio::ImageResult read = imageio::ReadImage(c.image.path);
    ASSERT_TRUE(read.ok()) << read.error;
    ASSERT_EQ(read.image.width, c.image.width);
    ASSERT_EQ(read.image.height, c.image.height);
    const NormalisedSize size = NormaliseSize(read.image.width, read.image.height, c.resolution);
    MinutiaeSink sink;
    int32_t length = 0;
    const int32_t rc = ExtractTemplate(read.image.width, read.image.height, read.image.pixels.data(), c.resolution,
                                       record.data(), static_cast<int32_t>(record.size()), &length, &config, &sink);
    ASSERT_TRUE((rc >= 0 && rc <= 255) || rc == kQualityRejected) << rc;
    ASSERT_GT(length, 0);

    int32_t listed = 0;
    std::istringstream lines(sink.minutiae);
    for (int32_t x, y, type, direction, spread, density; lines >> x >> y >> type >> direction >> spread >> density;) {
      EXPECT_TRUE(x >= 0 && x < size.width && y >= 0 && y < size.height) << x << ' ' << y;
      ++listed;
    }
    const std::unique_ptr<FeatureSet> back = std::make_unique<FeatureSet>();
    ASSERT_GE(ReadTemplateRecord(record.data(), static_cast<size_t>(length), back.get()), 0);
    EXPECT_EQ(back->minutiaCount, listed);
  }
}

}  // namespace
}  // namespace vorsensor
