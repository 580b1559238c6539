// End to end on the committed generated fingerprints (data/synth): every
// impression extracts into a readable template (quality and minutia counts
// are the pipeline tests' concern), impressions of one finger verify and
// different fingers do not, and the records are pinned.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/extraction_entry.h"
#include "engine/template_record.h"
#include "imageio/image_io.h"
#include "services/best_score.h"
#include "services/prepared_sample.h"
#include "services/verification.h"
#include "support/test_paths.h"

namespace vorsensor {
namespace {

constexpr int32_t kFingers = 6;
constexpr int32_t kImpressions = 4;

struct Extracted {
  std::string file;
  int32_t finger;
  int32_t quality;
  int32_t minutiae;
  std::vector<uint8_t> record;  // exactly as long as written
};

EngineConfiguration ConfigurationFor(int32_t profile, uint32_t mode) {
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  EXPECT_EQ(SetProfileMode(mode, &config), 0);
  EXPECT_EQ(SelectScannerProfile(profile, &config), 0);
  return config;
}

constexpr int32_t kPadLeft = 64;  // where a padded impression sits on its white canvas
constexpr int32_t kPadTop = 48;
constexpr int32_t kPaddedSide = 400;

// Every impression, optionally placed on a larger white canvas so that the
// profiles that cut to the finger have something to cut.
std::vector<Extracted> ExtractAll(const EngineConfiguration& config, bool padded = false) {
  std::vector<Extracted> all;
  for (int32_t f = 1; f <= kFingers; ++f) {
    for (int32_t i = 1; i <= kImpressions; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "f%02d_i%d.png", f, i);
      const imageio::ImageResult read = imageio::ReadImage((testing::SourceDir() / "data" / "synth" / name).string());
      EXPECT_TRUE(read.ok()) << read.error;
      std::vector<uint8_t> pixels = read.image.pixels;
      int32_t width = read.image.width, height = read.image.height;
      if (padded) {
        std::vector<uint8_t> canvas(static_cast<size_t>(kPaddedSide) * kPaddedSide, 255);
        for (int32_t y = 0; y < height; ++y) {
          for (int32_t x = 0; x < width; ++x) {
            canvas[static_cast<size_t>(y + kPadTop) * kPaddedSide + static_cast<size_t>(x + kPadLeft)] =
                read.image.At(x, y);
          }
        }
        pixels = std::move(canvas);
        width = height = kPaddedSide;
      }
      std::vector<uint8_t> record(kMaxTemplateRecordSize);
      int32_t length = 0;
      const int32_t quality = ExtractTemplate(width, height, pixels.data(), 500, record.data(),
                                              static_cast<int32_t>(record.size()), &length, &config);
      EXPECT_GE(quality, 0) << name;
      record.resize(static_cast<size_t>(length > 0 ? length : 0));
      auto set = std::make_unique<FeatureSet>();
      EXPECT_EQ(ReadTemplateRecord(record.data(), record.size(), set.get()), length) << name;
      all.push_back(Extracted{name, f, quality, set->minutiaCount, std::move(record)});
    }
  }
  return all;
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const uint8_t b : bytes) {
    hash ^= b;
    hash *= 0x100000001B3ull;
  }
  return hash;
}

TEST(GeneratedFingerprints, EveryImpressionExtractsAndVerifiesWithItsFingerOnly) {
  EngineConfiguration config = ConfigurationFor(0, 256);
  const std::vector<Extracted> all = ExtractAll(config);
  std::vector<std::array<uint8_t, kServiceRecordSize>> records(all.size());
  for (size_t k = 0; k < all.size(); ++k) {
    ASSERT_LE(all[k].record.size(), kServiceRecordSize) << all[k].file;
    records[k].fill(0);
    std::copy(all[k].record.begin(), all[k].record.end(), records[k].begin());
  }
  int32_t weakestGenuine = 1 << 30, strongestImpostor = 0;
  for (size_t a = 0; a < all.size(); ++a) {
    for (size_t b = 0; b < all.size(); ++b) {
      if (a == b) continue;
      const bool same = all[a].finger == all[b].finger;
      const int32_t score = BestScore(records[b].data(), records[a].data(), &config);
      ASSERT_GE(score, 0);
      (same ? weakestGenuine : strongestImpostor) =
          same ? std::min(weakestGenuine, score) : std::max(strongestImpostor, score);
      // The verification service's answer sits on the same threshold.
      EXPECT_EQ(VerifyRecords(records[b].data(), records[a].data(), nullptr, &config), same ? 0 : -1)
          << all[a].file << " against " << all[b].file << ": score " << score;
    }
  }
  EXPECT_GE(weakestGenuine, static_cast<int32_t>(config.verifyThreshold));
  EXPECT_LT(strongestImpostor, static_cast<int32_t>(config.verifyThreshold));
}

// Pinned FNV-1a checksums of the 24 records under the default profile, the
// profile that cuts to the finger (1300, on the impressions padded onto a
// 400 x 400 white canvas) and the difference family (100000) in profile mode 0. Update them only for a deliberate change of behaviour:
// the failure message prints the table as it now is.
struct GoldenRecords {
  int32_t profile;
  uint32_t mode;
  bool padded;
  uint64_t combined;  // FNV-1a over the 24 record checksums in file order
};

// GOLDEN-BEGIN
const GoldenRecords kGoldenRecords[] = {
    {0, 256, false, 0x248691C283397CFBull},
    {1300, 256, true, 0x8058FC1CE64B03D8ull},
    {100000, 0, false, 0x6266A3599B257A6Full},
};
// GOLDEN-END

TEST(GeneratedFingerprints, RecordsAreAsPinned) {
  std::ostringstream table;
  bool changed = false;
  for (const GoldenRecords& golden : kGoldenRecords) {
    const std::vector<Extracted> all = ExtractAll(ConfigurationFor(golden.profile, golden.mode), golden.padded);
    std::vector<uint8_t> hashes;
    std::ostringstream each;
    for (const Extracted& e : all) {
      const uint64_t h = Fnv1a(e.record);
      for (int shift = 0; shift < 64; shift += 8) hashes.push_back(static_cast<uint8_t>(h >> shift));
      char line[96];
      std::snprintf(line, sizeof line, "  %s %016llX (%d minutiae)\n", e.file.c_str(), static_cast<unsigned long long>(h),
                    e.minutiae);
      each << line;
    }
    const uint64_t combined = Fnv1a(hashes);
    char row[96];
    std::snprintf(row, sizeof row, "    {%d, %u, %s, 0x%016llXull},\n", golden.profile, golden.mode,
                  golden.padded ? "true" : "false", static_cast<unsigned long long>(combined));
    table << row;
    if (combined != golden.combined) {
      changed = true;
      ADD_FAILURE() << "records under profile " << golden.profile << " mode " << golden.mode
                    << " differ from the pinned checksum; now:\n" << each.str();
    }
  }
  if (changed) {
    ADD_FAILURE() << "If the change is intended, replace the rows between GOLDEN-BEGIN and GOLDEN-END in "
                     "tests/services/generated_fingerprints_test.cpp by:\n"
                  << table.str();
  }
}

}  // namespace
}  // namespace vorsensor
