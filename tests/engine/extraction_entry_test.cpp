// The extraction entry on hand-made images: argument, resolution and size
// checks, resampling, the cut to the finger, the quality answer, the record
// and the write-back into the caller's image.
#include "engine/extraction_entry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/finger_box.h"
#include "engine/pipeline.h"
#include "engine/result_codes.h"
#include "engine/row_image.h"
#include "engine/template_record.h"
#include "engine_test_helpers.h"
#include "support/grey_images.h"
#include "support/random.h"
#include "support/recording_sink.h"

namespace vorsensor {
namespace {

using testing::RecordingSink;

using testing::DefaultConfiguration;

std::vector<uint8_t> Rings(int32_t w, int32_t h, double period) { return testing::RingPixels(w, h, period); }

TEST(ExtractFeatures, ChecksResolutionAndNormalisedSize) {
  struct Case {
    int32_t width, height, resolution, expected;  // expected 0: a quality is returned
  };
  const Case cases[] = {
      {26, 29, 49, kServiceOutOfMemory},  {26, 29, 50, 0},          // 260 x 290
      {200, 200, 5000, 0},                {200, 200, 5001, kServiceOutOfMemory},
      {100, 100, 0, kServiceOutOfMemory}, {100, 100, -500, kServiceOutOfMemory},
      {15, 400, 500, kImageSizeOutOfRange}, {16, 16, 500, 0},
      {2049, 32, 500, kImageSizeOutOfRange}, {32, 2049, 500, kImageSizeOutOfRange},
      {2048, 16, 500, 0},                 {31, 100, 1000, kImageSizeOutOfRange},  // 15 wide
      {32, 100, 1000, 0},                 {0, 100, 500, kImageSizeOutOfRange},
      {-16, 100, 500, kImageSizeOutOfRange},
      // Sides whose scaled product passes 32 bits still normalise correctly.
      {INT32_MAX, 20, 5000, kImageSizeOutOfRange},
  };
  const EngineConfiguration config = DefaultConfiguration();
  for (const Case& c : cases) {
    testing::TestRandom random(static_cast<uint64_t>(c.width) * 31 + static_cast<uint64_t>(c.resolution));
    const size_t pixels = c.expected == 0 ? static_cast<size_t>(c.width) * static_cast<size_t>(c.height) : 64;
    std::vector<uint8_t> image(pixels);
    for (uint8_t& p : image) p = random.Byte();
    const std::vector<uint8_t> before = image;
    auto features = std::make_unique<FeatureSet>();
    ClearFeatureSet(features.get());
    features->minutiaCount = 5;
    const int32_t result = ExtractFeatures(c.width, c.height, image.data(), c.resolution, features.get(), &config);
    const std::string what = std::to_string(c.width) + " x " + std::to_string(c.height) + " at " +
                             std::to_string(c.resolution);
    if (c.expected == 0) {
      EXPECT_GE(result, 0) << what;
      EXPECT_LE(result, 255) << what;
    } else {
      EXPECT_EQ(result, c.expected) << what;
      EXPECT_EQ(image, before) << what << ": an early failure leaves the image alone";
      EXPECT_EQ(features->minutiaCount, 5) << what;
    }
  }
}

TEST(ExtractFeatures, MissingArgumentsAndStoppedEngine) {
  const EngineConfiguration config = DefaultConfiguration();
  std::vector<uint8_t> image(256 * 288, 200);
  auto features = std::make_unique<FeatureSet>();
  EXPECT_EQ(ExtractFeatures(256, 288, nullptr, 500, features.get(), &config), kMissingArgument);
  EXPECT_EQ(ExtractFeatures(256, 288, image.data(), 500, nullptr, &config), kMissingArgument);
  if (EngineConfig() == nullptr) {
    EXPECT_EQ(ExtractFeatures(256, 288, image.data(), 500, features.get(), nullptr), kEngineStopped);
    uint8_t record[16];
    int32_t length = -7;
    EXPECT_EQ(ExtractTemplate(256, 288, image.data(), 500, record, 16, &length, nullptr), kEngineStopped);
    EXPECT_EQ(length, -7);
  }
  // With the engine started, no configuration means the engine's own.
  ASSERT_GE(InitEngine(), 0);
  EXPECT_GE(ExtractFeatures(256, 288, image.data(), 500, features.get(), nullptr), 0);
  ReleaseEngine();
}

TEST(ExtractFeatures, HandsTheResampledAndPipelineImagesFirst) {
  // 512 x 576 at 1000 dpi is halved by the 2 x 2 rule; 256 x 288 at 500 is a copy.
  EngineConfiguration config = DefaultConfiguration();
  const std::vector<uint8_t> large = Rings(512, 576, 18);
  std::vector<uint8_t> image = large;
  auto features = std::make_unique<FeatureSet>();
  RecordingSink sink;
  ASSERT_GE(ExtractFeatures(512, 576, image.data(), 1000, features.get(), &config, &sink), 0);
  const std::vector<std::string> keys = sink.Keys();
  ASSERT_GE(keys.size(), 4u);
  EXPECT_EQ(keys[0], "resampled");
  EXPECT_EQ(keys[1], "pipeline-input");
  EXPECT_EQ(keys[2], "normalised");
  EXPECT_EQ(keys.back(), "written-back");
  const RecordingSink::Entry& resampled = sink.entries[0];
  ASSERT_EQ(resampled.width, 256);
  ASSERT_EQ(resampled.height, 288);
  for (int32_t y = 0; y < 288; ++y) {
    for (int32_t x = 0; x < 256; ++x) {
      auto at = [&](int32_t xx, int32_t yy) { return large[static_cast<size_t>(yy) * 512 + static_cast<size_t>(xx)]; };
      const int32_t sum = at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1);
      ASSERT_EQ(resampled.pixels[static_cast<size_t>(y) * 256 + static_cast<size_t>(x)], (sum + 2) / 4);
    }
  }
  EXPECT_EQ(sink.entries[1].pixels, resampled.pixels);  // no cut: the pipeline runs on the resampled image

  const std::vector<uint8_t> sensor = Rings(256, 288, 9);
  image = sensor;
  RecordingSink copySink;
  config.writeBackImage = 0;
  ASSERT_GE(ExtractFeatures(256, 288, image.data(), 500, features.get(), &config, &copySink), 0);
  EXPECT_EQ(copySink.entries[0].pixels, sensor);
  EXPECT_EQ(copySink.Find("written-back"), nullptr);
  EXPECT_EQ(image, sensor) << "without write-back the caller's image stays as it was";
}

TEST(ExtractFeatures, WritesThePipelineImageBackAtTheCallersSize) {
  // 300 x 330 at 600 dpi works at 250 x 275: neither a copy nor a halving.
  const EngineConfiguration config = DefaultConfiguration();
  const std::vector<uint8_t> original = Rings(300, 330, 11);
  std::vector<uint8_t> image = original;
  auto features = std::make_unique<FeatureSet>();
  RecordingSink sink;
  const int32_t quality = ExtractFeatures(300, 330, image.data(), 600, features.get(), &config, &sink);
  ASSERT_GE(quality, 0);

  // The pipeline run by hand on the resampled image, then mapped back pixel by pixel.
  const RecordingSink::Entry* resampled = sink.Find("resampled");
  ASSERT_NE(resampled, nullptr);
  ASSERT_EQ(resampled->width, 250);
  ASSERT_EQ(resampled->height, 275);
  RowImage working = testing::RowImageOf(resampled->pixels, 250, 275);
  auto expectedFeatures = std::make_unique<FeatureSet>();
  ASSERT_EQ(RunPipeline(250, 275, working.rows(), expectedFeatures.get(), &config), quality);
  for (int32_t y = 0; y < 330; ++y) {
    for (int32_t x = 0; x < 300; ++x) {
      ASSERT_EQ(image[static_cast<size_t>(y) * 300 + static_cast<size_t>(x)], working[y * 275 / 330][x * 250 / 300])
          << x << "," << y;
    }
  }
  EXPECT_EQ(sink.entries.back().pixels, image);
  EXPECT_NE(image, original);
}

TEST(ExtractFeatures, CutsToTheFingerAndMapsResultsBack) {
  // A finger in columns 40..119 and rows 50..199 of a white sensor image: the
  // pipeline runs on the box (32, 48) 96 x 160.
  EngineConfiguration config = DefaultConfiguration();
  ASSERT_EQ(SelectScannerProfile(1300, &config), kOk);  // the profile that cuts to the finger
  config.exportBlockMap = 1;
  config.keepSingularPoints = 1;
  const std::vector<uint8_t> original = testing::RingPixels(256, 288, 40, 120, 50, 200, 9);
  std::vector<uint8_t> image = original;
  auto features = std::make_unique<FeatureSet>();
  RecordingSink sink;
  const int32_t quality = ExtractFeatures(256, 288, image.data(), 500, features.get(), &config, &sink);
  ASSERT_GE(quality, 0);

  const RecordingSink::Entry* input = sink.Find("pipeline-input");
  ASSERT_NE(input, nullptr);
  ASSERT_EQ(input->width, 96);
  ASSERT_EQ(input->height, 160);
  for (int32_t y = 0; y < 160; ++y) {
    for (int32_t x = 0; x < 96; ++x) {
      ASSERT_EQ(input->pixels[static_cast<size_t>(y) * 96 + static_cast<size_t>(x)],
                original[static_cast<size_t>(y + 48) * 256 + static_cast<size_t>(x + 32)]);
    }
  }

  // The same pipeline on the cut-out by hand: features shifted by (32, 48),
  // the grid moved by (2, 3) blocks, the image pasted with white round it.
  RowImage cutout = testing::RowImageOf(input->pixels, 96, 160);
  auto local = std::make_unique<FeatureSet>();
  ASSERT_EQ(RunPipeline(96, 160, cutout.rows(), local.get(), &config), quality);
  ASSERT_EQ(features->minutiaCount, local->minutiaCount);
  for (int32_t i = 0; i < local->minutiaCount; ++i) {
    EXPECT_EQ(features->minutiae[i].x, local->minutiae[i].x + 32);
    EXPECT_EQ(features->minutiae[i].y, local->minutiae[i].y + 48);
  }
  ASSERT_EQ(features->singularCount, local->singularCount);
  for (int32_t i = 0; i < local->singularCount; ++i) {
    EXPECT_EQ(features->singular[i].x, local->singular[i].x + 32);
    EXPECT_EQ(features->singular[i].y, local->singular[i].y + 48);
  }
  ASSERT_EQ(local->gridWidth, 6);
  ASSERT_EQ(local->gridHeight, 10);
  ASSERT_EQ(features->gridWidth, 16);
  ASSERT_EQ(features->gridHeight, 18);
  for (int32_t by = 0; by < 18; ++by) {
    for (int32_t bx = 0; bx < 16; ++bx) {
      const bool moved = bx >= 2 && bx < 8 && by >= 3 && by < 13;
      EXPECT_EQ(features->grid[by][bx], moved ? local->grid[by - 3][bx - 2] : kBackgroundBlock) << bx << "," << by;
    }
  }
  for (int32_t y = 0; y < 288; ++y) {
    for (int32_t x = 0; x < 256; ++x) {
      const bool inside = x >= 32 && x < 128 && y >= 48 && y < 208;
      ASSERT_EQ(image[static_cast<size_t>(y) * 256 + static_cast<size_t>(x)], inside ? cutout[y - 48][x - 32] : 255)
          << x << "," << y;
    }
  }
}

TEST(ExtractFeatures, AnswersAcceptedOrRejectedWithoutTheQuality) {
  // The quality q of the image under each family, then the acceptance limit
  // set exactly on it and one step past it.
  const std::vector<uint8_t> original = Rings(256, 288, 9);
  auto features = std::make_unique<FeatureSet>();
  for (const uint32_t method : {0u, 1u}) {
    EngineConfiguration config = DefaultConfiguration();
    config.orientMethod = method;
    std::vector<uint8_t> image = original;
    const int32_t quality = ExtractFeatures(256, 288, image.data(), 500, features.get(), &config);
    ASSERT_GT(quality, 0);
    ASSERT_LT(quality, 255);
    config.returnQuality = 0;
    struct Limit {
      int32_t limit;
      int32_t expected;
    };
    const Limit limits[] = {
        {quality, kOk},
        {method == 0 ? quality + 1 : quality - 1, kQualityRejected},
    };
    for (const Limit& l : limits) {
      (method == 0 ? config.qualityMin : config.qualityMaxDiff) = static_cast<uint8_t>(l.limit);
      image = original;
      EXPECT_EQ(ExtractFeatures(256, 288, image.data(), 500, features.get(), &config), l.expected)
          << "method " << method << " limit " << l.limit;
      // A rejected quality still gives a record.
      image = original;
      std::vector<uint8_t> record(kRecordWorkBufferSize, 0xEE);
      int32_t length = -1;
      EXPECT_EQ(ExtractTemplate(256, 288, image.data(), 500, record.data(), static_cast<int32_t>(record.size()),
                                &length, &config),
                l.expected);
      ASSERT_GT(length, 0);
      auto read = std::make_unique<FeatureSet>();
      EXPECT_EQ(ReadTemplateRecord(record.data(), static_cast<size_t>(length), read.get()), length);
      EXPECT_EQ(read->minutiaCount, features->minutiaCount);
    }
  }
}

TEST(ExtractTemplate, WritesTheRecordOfTheFeatures) {
  const EngineConfiguration config = DefaultConfiguration();
  const std::vector<uint8_t> original = Rings(256, 288, 9);
  std::vector<uint8_t> image = original;
  auto features = std::make_unique<FeatureSet>();
  const int32_t quality = ExtractFeatures(256, 288, image.data(), 500, features.get(), &config);
  ASSERT_GE(quality, 0);
  std::vector<uint8_t> expected(kRecordWorkBufferSize);
  const int32_t expectedLength = WriteTemplateRecord(features.get(), expected.data(), expected.size());
  ASSERT_GT(expectedLength, 0);

  struct Case {
    const char* what;
    bool record;
    bool length;
    int32_t capacity;
    int32_t result;
    int32_t storedLength;  // -1: the length place is not written
  };
  const Case cases[] = {
      {"ok", true, true, static_cast<int32_t>(kRecordWorkBufferSize), quality, expectedLength},
      {"exact capacity", true, true, expectedLength, quality, expectedLength},
      {"one byte short", true, true, expectedLength - 1, kRecordOutputTooSmall, kRecordOutputTooSmall},
      {"no record buffer", false, true, 100, kMissingArgument, -1},
      {"no length place", true, false, 100, kMissingArgument, -1},
      {"negative capacity", true, true, -1, kOutOfRange, -1},
  };
  for (const Case& c : cases) {
    image = original;
    std::vector<uint8_t> record(kRecordWorkBufferSize, 0xEE);
    int32_t length = -1;
    const int32_t result = ExtractTemplate(256, 288, image.data(), 500, c.record ? record.data() : nullptr,
                                           c.capacity, c.length ? &length : nullptr, &config);
    EXPECT_EQ(result, c.result) << c.what;
    EXPECT_EQ(length, c.storedLength) << c.what;
    if (result >= 0) {
      EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + expectedLength, record.begin())) << c.what;
    }
    if (result < 0 && result != kRecordOutputTooSmall) {
      EXPECT_EQ(image, original) << c.what;
    }
  }
  // An extraction error is returned as it is, with no record.
  std::vector<uint8_t> record(16, 0xEE);
  int32_t length = -1;
  EXPECT_EQ(ExtractTemplate(256, 288, image.data(), 49, record.data(), 16, &length, &config), kServiceOutOfMemory);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(record, std::vector<uint8_t>(16, 0xEE));
}

TEST(ExtractTemplate, WritesTheBlockMapOfAFullWidthImage) {
  // 2048 columns make a grid 128 blocks wide, the most a record holds, both
  // on the whole image and when a cut-out's grid is moved back into it.
  EngineConfiguration config = DefaultConfiguration();
  config.exportBlockMap = 1;
  for (const uint32_t crop : {0u, 1u}) {
    config.cropToFinger = crop;
    std::vector<uint8_t> image = testing::RingPixels(2048, 48, 1000, 1500, 0, 48, 9);
    std::vector<uint8_t> record(kMaxTemplateRecordSize);
    int32_t length = 0;
    const int32_t result = ExtractTemplate(2048, 48, image.data(), 500, record.data(),
                                           static_cast<int32_t>(record.size()), &length, &config);
    ASSERT_GE(result, 0) << "crop " << crop;
    ASSERT_GT(length, 0);
    auto read = std::make_unique<FeatureSet>();
    ASSERT_EQ(ReadTemplateRecord(record.data(), static_cast<size_t>(length), read.get()), length);
    EXPECT_EQ(read->gridWidth, kMaxGridSide) << "crop " << crop;
    EXPECT_EQ(read->gridHeight, 3);
    if (crop != 0) {
      EXPECT_EQ(read->grid[0][0], kBackgroundBlock);  // left of the cut-out
    }
  }
}

}  // namespace
}  // namespace vorsensor
