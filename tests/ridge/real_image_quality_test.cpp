// The orientation and segmentation stages on real fingerprints from the shared
// development images (skipped when they are not there).
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "engine/pipeline.h"
#include "engine/row_image.h"
#include "imageio/image_io.h"
#include "support/grey_images.h"
#include "support/test_paths.h"

namespace vorsensor {
namespace {

constexpr int32_t kEnrolmentQuality = 120;

int32_t QualityOf(const std::filesystem::path& file, FeatureSet* features) {
  const imageio::ImageResult read = imageio::ReadImage(file.string());
  EXPECT_TRUE(read.ok()) << read.error;
  if (!read.ok()) return -1;
  RowImage image = testing::RowImageOf(read.image.pixels, read.image.width, read.image.height);
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  config.keepSingularPoints = 1;
  return RunPipeline(read.image.width, read.image.height, image.rows(), features, &config);
}

// Good 500 dpi impressions (the first two of each finger of an optical and a
// capacitive set, and the two sensor images) reach the enrolment quality; a
// few poor ones may not.
TEST(RealImageQualityTest, GoodImpressionsReachTheEnrolmentQuality) {
  const std::filesystem::path dir = testing::SharedDataDir();
  if (dir.empty()) GTEST_SKIP() << "no shared development images";
  std::vector<std::filesystem::path> files;
  for (const char* set : {"fvc2002_db1_b", "fvc2002_db3_b"}) {
    for (int finger = 101; finger <= 110; ++finger) {
      for (int impression = 1; impression <= 2; ++impression) {
        files.push_back(dir / set / (std::to_string(finger) + "_" + std::to_string(impression) + ".pgm"));
      }
    }
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "uart_sensor_256x288_singles", ec)) {
    files.push_back(entry.path());
  }
  auto features = std::make_unique<FeatureSet>();
  int32_t tried = 0, good = 0;
  for (const auto& file : files) {
    if (!std::filesystem::exists(file)) continue;
    const int32_t quality = QualityOf(file, features.get());
    ASSERT_GE(quality, 0) << file;
    ++tried;
    good += quality > kEnrolmentQuality;
    // Singular points lie inside the image and carry a direction.
    for (int32_t i = 0; i < features->singularCount; ++i) {
      EXPECT_GE(features->singular[i].x, 32) << file;
      EXPECT_GE(features->singular[i].y, 32) << file;
      EXPECT_LT(features->singular[i].direction, 240) << file;
    }
  }
  if (tried == 0) GTEST_SKIP() << "none of the expected sets is present";
  EXPECT_GE(good * 10, tried * 9) << good << " of " << tried << " above " << kEnrolmentQuality;
}

}  // namespace
}  // namespace vorsensor
