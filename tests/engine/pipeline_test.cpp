#include "engine/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/result_codes.h"
#include "engine/row_image.h"
#include "engine_test_helpers.h"
#include "support/grey_images.h"
#include "support/recording_sink.h"

namespace vorsensor {
namespace {

using testing::RecordingSink;

using testing::DefaultConfiguration;

// Concentric rings of period 9 filling the image: a whorl in the middle.
RowImage Rings(int32_t w, int32_t h) { return testing::RowImageOf(testing::RingPixels(w, h, 9), w, h); }

TEST(PipelineTest, HandsEveryStageOutputToTheSinkInOrder) {
  const EngineConfiguration config = DefaultConfiguration();
  for (uint32_t method : {0u, 1u}) {
    EngineConfiguration c = config;
    c.orientMethod = method;
    RowImage image = Rings(256, 288);
    auto features = std::make_unique<FeatureSet>();
    RecordingSink sink;
    const int32_t quality = RunPipeline(256, 288, image.rows(), features.get(), &c, &sink);
    ASSERT_GE(quality, 0);
    ASSERT_LE(quality, 255);
    EXPECT_EQ(sink.Keys(), testing::StageKeys());
    EXPECT_EQ(sink.Find("normalised")->width, 256);
    EXPECT_EQ(sink.Find("orientation-map")->height, 288);
    EXPECT_EQ(sink.Find("block-orientation")->width, 16);
    EXPECT_EQ(sink.Find("block-orientation-voted")->height, 18);
    EXPECT_EQ(sink.Find("quality")->text, std::to_string(quality) + "\n");
    // Corner blocks are always voted away.
    EXPECT_EQ(sink.Find("block-orientation-voted")->pixels[0], 255);

    // Without a sink the same result and the same ridge image.
    RowImage again = Rings(256, 288);
    auto plain = std::make_unique<FeatureSet>();
    EXPECT_EQ(RunPipeline(256, 288, again.rows(), plain.get(), &c, nullptr), quality);
    for (int32_t y = 0; y < 288; ++y) ASSERT_EQ(std::memcmp(again[y], image[y], 256), 0);
  }
}

// Binary outputs hold only 0 and 255; the final one is framed in white, its
// density is the feature set's, the second binarisation saw the density map
// with the pass counts cleared, and the density copy is the smoothed map. The
// caller's image ends as the final binary image (writeBackImage 1) or the
// skeleton (2), white wherever the orientation map marks background.
TEST(PipelineTest, RidgeStagesHandOverBinaryImagesAndTheDensity) {
  for (uint32_t adaptive : {1u, 0u}) {
    SCOPED_TRACE(adaptive);
    EngineConfiguration c = DefaultConfiguration();
    c.adaptiveBinarize = adaptive;
    c.writeBackImage = adaptive != 0 ? 1 : 2;
    RowImage image = Rings(256, 288);
    auto features = std::make_unique<FeatureSet>();
    RecordingSink sink;
    ASSERT_GE(RunPipeline(256, 288, image.rows(), features.get(), &c, &sink), 0);
    EXPECT_EQ(sink.Find("edge-density") != nullptr, adaptive != 0);
    EXPECT_EQ(sink.Find("density-copy") != nullptr, adaptive != 0);
    for (const char* key : {"binary-first", "binary-second", "binary-final"}) {
      for (uint8_t v : sink.Find(key)->pixels) ASSERT_TRUE(v == 0 || v == 255) << key;
    }
    const std::vector<uint8_t>& last = sink.Find("binary-final")->pixels;
    for (int32_t x = 0; x < 256; ++x) ASSERT_EQ(last[x], 255);
    for (int32_t y = 0; y < 288; ++y) ASSERT_EQ(last[y * 256 + 255], 255);
    EXPECT_GT(features->densityByte, 0);
    EXPECT_EQ(sink.Find("ridge-density")->text, std::to_string(features->densityByte) + "\n");
    for (uint8_t v : sink.Find("pass-counts")->pixels) ASSERT_LE(v, 7);
    // Bit 7 of the refreshed map is the foreground vote's.
    const std::vector<uint8_t>& voted = sink.Find("orientation-map")->pixels;
    const std::vector<uint8_t>& refreshed = sink.Find("orientation-refreshed")->pixels;
    for (size_t i = 0; i < voted.size(); ++i) ASSERT_EQ(voted[i] & 0x80, refreshed[i] & 0x80);
    const std::vector<uint8_t>& end = (adaptive != 0 ? sink.Find("binary-final") : sink.Find("skeleton-cleaned"))->pixels;
    int32_t background = 0;
    for (int32_t y = 0; y < 288; ++y) {
      for (int32_t x = 0; x < 256; ++x) {
        const size_t at = static_cast<size_t>(y) * 256 + static_cast<size_t>(x);
        background += voted[at] >> 7;
        ASSERT_EQ(image[y][x], (voted[at] & 0x80) != 0 ? 255 : end[at]) << x << ',' << y;
      }
    }
    EXPECT_GT(background, 0);
    EXPECT_EQ(sink.Find("minutiae")->text.empty(), features->minutiaCount == 0);
  }
}

// With no regularisation passes the first binary image goes straight to the
// majority vote: the regularisation keys hand over their inputs unchanged and
// the pass counts are the density map's low bits.
TEST(PipelineTest, WithoutRegularisationTheFirstBinaryImageIsFinal) {
  EngineConfiguration c = DefaultConfiguration();
  c.ridgeSmoothPasses = 0;
  c.refinePassesBase = 0;
  c.refinePassesRange = 0;
  RowImage image = Rings(256, 288);
  auto features = std::make_unique<FeatureSet>();
  RecordingSink sink;
  ASSERT_GE(RunPipeline(256, 288, image.rows(), features.get(), &c, &sink), 0);
  const std::vector<uint8_t>& first = sink.Find("binary-first")->pixels;
  EXPECT_EQ(sink.Find("ridge-smoothed")->pixels, first);
  EXPECT_EQ(sink.Find("ridge-pass-smoothed")->pixels, first);
  EXPECT_EQ(sink.Find("binary-second")->pixels, first);
  EXPECT_EQ(sink.Find("orientation-refreshed")->pixels, sink.Find("orientation-map")->pixels);
  std::vector<uint8_t> low = sink.Find("density-copy")->pixels;
  for (uint8_t& v : low) v &= 7;
  EXPECT_EQ(sink.Find("pass-counts")->pixels, low);
}

TEST(PipelineTest, RefusesParametersTheStagesCannotRunWith) {
  EngineConfiguration c = DefaultConfiguration();
  c.refinePassesBase = 4;  // 4 + 4 passes do not fit three bits
  RowImage image = Rings(64, 64);
  RowImage before = Rings(64, 64);
  auto features = std::make_unique<FeatureSet>();
  EXPECT_EQ(RunPipeline(64, 64, image.rows(), features.get(), &c), kInvalidConfiguration);
  for (int32_t y = 0; y < 64; ++y) ASSERT_EQ(std::memcmp(image[y], before[y], 64), 0);
}

TEST(PipelineTest, FeatureSetGridAndSingularPointsFollowTheSettings) {
  EngineConfiguration config = DefaultConfiguration();
  auto features = std::make_unique<FeatureSet>();
  RecordingSink sink;
  RowImage image = Rings(256, 288);
  ASSERT_GE(RunPipeline(256, 288, image.rows(), features.get(), &config, &sink), 0);
  EXPECT_EQ(features->gridWidth, 0);
  EXPECT_EQ(features->singularCount, 0);  // not kept by default
  EXPECT_EQ(features->minutiaCount, 0);

  config.exportBlockMap = 1;
  config.keepSingularPoints = 1;
  image = Rings(256, 288);
  RecordingSink kept;
  ASSERT_GE(RunPipeline(256, 288, image.rows(), features.get(), &config, &kept), 0);
  ASSERT_EQ(features->gridWidth, 16);
  ASSERT_EQ(features->gridHeight, 18);
  const auto* voted = kept.Find("block-orientation-voted");
  for (int32_t by = 0; by < 18; ++by) {
    for (int32_t bx = 0; bx < 16; ++bx) ASSERT_EQ(features->grid[by][bx], voted->pixels[by * 16 + bx]);
  }
  // Concentric rings make a whorl centre in the middle.
  const std::string& points = kept.Find("singular-points")->text;
  ASSERT_GE(features->singularCount, 1) << points;
  EXPECT_EQ(std::count(points.begin(), points.end(), '\n'), features->singularCount);
  bool centre = false;
  for (int32_t i = 0; i < features->singularCount; ++i) {
    const SingularPoint& p = features->singular[i];
    centre = centre || (std::abs(p.x - 128) <= 8 && std::abs(p.y - 144) <= 8 && p.kind == 2);
  }
  EXPECT_TRUE(centre) << points;
}

TEST(PipelineTest, ArgumentsAndTinyImages) {
  const EngineConfiguration config = DefaultConfiguration();
  auto features = std::make_unique<FeatureSet>();
  RowImage image = AllocRowImage(8, 8);
  FillRowImage(image, 100);
  EXPECT_EQ(RunPipeline(8, 8, nullptr, features.get(), &config), kMissingArgument);
  EXPECT_EQ(RunPipeline(8, 8, image.rows(), nullptr, &config), kMissingArgument);
  // Images smaller than a block: no grid, no points, all background.
  EXPECT_EQ(RunPipeline(8, 8, image.rows(), features.get(), &config), 0);
  RowImage line = AllocRowImage(1, 40);
  FillRowImage(line, 30);
  EXPECT_EQ(RunPipeline(1, 40, line.rows(), features.get(), &config), 0);
}

}  // namespace
}  // namespace vorsensor
