// Pinned results of the matcher on a few hundred random comparisons, so that
// work on its speed cannot change a single answer unnoticed. Every
// comparison's result and its whole details record (score, rotation, shift,
// index lists, entries) feed an FNV-1a checksum per parameter variant; the
// checksums were taken from the matcher as first written and are pinned here.
// When one of them changes, the behaviour of that variant has changed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/engine_configuration.h"
#include "matching/feature_set_helpers.h"
#include "matching/matcher.h"
#include "matching/matcher_test_support.h"

namespace vorsensor {
namespace {

using testing::TestRandom;

constexpr int32_t kPairs = 300;
constexpr int32_t kScaleSearchPairs = 12;  // 36 stretches each
constexpr int32_t kAlignPairs = 60;

class Fnv1a {
 public:
  void Add(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
      hash_ ^= bytes[i];
      hash_ *= 0x100000001B3ull;
    }
  }
  void AddInt(int32_t value) {
    uint8_t bytes[4];
    for (int32_t i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
    Add(bytes, sizeof bytes);
  }
  uint64_t value() const { return hash_; }

 private:
  uint64_t hash_ = 0xCBF29CE484222325ull;
};

// A block grid over the print: the ridge orientation of a smooth field, the
// border blocks background.
void AddGrid(FeatureSet* set, TestRandom& random) {
  set->gridWidth = 16;
  set->gridHeight = 18;
  const int32_t phase = random.Range(0, 119);
  for (int32_t j = 0; j < set->gridHeight; ++j) {
    for (int32_t i = 0; i < set->gridWidth; ++i) {
      const bool border = i == 0 || j == 0 || i == set->gridWidth - 1 || j == set->gridHeight - 1;
      set->grid[j][i] = border ? kBackgroundBlock : static_cast<uint8_t>((phase + 3 * i + 2 * j + random.Range(0, 6)) % 120);
    }
  }
}

struct Comparison {
  std::vector<uint8_t> probe;
  std::vector<uint8_t> sample;
  std::unique_ptr<FeatureSet> probeSet;
  std::unique_ptr<FeatureSet> sampleSet;
};

// Impressions of one finger (turned, shifted, jittered), other fingers, and
// sets without types, spreads or densities, some with block grids, a few
// sparse or dense ones.
std::vector<Comparison> MakeComparisons() {
  TestRandom random(0x601DE2);
  std::vector<Comparison> list;
  for (int32_t n = 0; n < kPairs; ++n) {
    testing::FingerShape shape;
    const int32_t kind = random.Range(0, 9);
    if (kind == 0) shape.spreads = false;
    if (kind == 1) shape.densities = false;
    if (kind == 2) shape.typed = false;
    if (kind == 3) {
      shape.minMinutiae = 3;
      shape.maxMinutiae = 15;
    }
    if (kind == 4) {
      shape.minMinutiae = 70;
      shape.maxMinutiae = 110;
      shape.minSpacing = 6;
    }
    auto finger = testing::MakeFingerSet(random, shape);
    std::unique_ptr<FeatureSet> sample;
    if (random.Range(0, 99) < 60) {
      testing::ImpressionChange change;
      change.rotation = random.Range(-40, 40);
      change.shiftX = random.Range(-40, 40);
      change.shiftY = random.Range(-40, 40);
      change.jitter = random.Range(0, 4);
      change.directionJitter = random.Range(0, 6);
      change.lostPercent = random.Range(0, 30);
      change.spurious = random.Range(0, 8);
      sample = testing::MakeImpressionSet(*finger, random, change);
    } else {
      sample = testing::MakeFingerSet(random, shape);
    }
    if (random.Range(0, 2) == 0) {
      AddGrid(finger.get(), random);
      AddGrid(sample.get(), random);
    }
    Comparison c;
    c.probe = testing::RecordBytesOf(*finger);
    c.sample = testing::RecordBytesOf(*sample);
    c.probeSet = std::move(finger);
    c.sampleSet = std::move(sample);
    list.push_back(std::move(c));
  }
  return list;
}

const std::vector<Comparison>& Comparisons() {
  static const std::vector<Comparison> list = MakeComparisons();
  return list;
}

struct Variant {
  const char* name;
  void (*adjust)(EngineConfiguration* config, int32_t* rotationTolerance, int32_t* threshold);
  uint64_t expected;
};

// MatchPair over the comparisons (the first `count`) with full details.
uint64_t ChecksumOf(const Variant& v, int32_t count) {
  EngineConfiguration config = testing::DefaultConfig();
  config.rawScore = 1;
  int32_t rotationTolerance = 120;
  int32_t threshold = 0;
  v.adjust(&config, &rotationTolerance, &threshold);
  auto w = testing::NewWorkspace();
  std::vector<uint8_t> details(kDetailsFullSize);
  Fnv1a hash;
  for (int32_t n = 0; n < count; ++n) {
    const Comparison& c = Comparisons()[static_cast<size_t>(n)];
    std::fill(details.begin(), details.end(), 0);
    const uint32_t size = kDetailsFullSize;
    std::memcpy(details.data(), &size, sizeof size);
    const int32_t r = MatchPair(w.get(), c.probe.data(), c.probe.size(), c.sample.data(), c.sample.size(),
                                rotationTolerance, threshold, &config, details.data(), details.size());
    hash.AddInt(r);
    hash.Add(details.data(), details.size());
  }
  return hash.value();
}

using Config = EngineConfiguration*;
using Int = int32_t*;

TEST(GoldenResults, MatchPairVariants) {
  const Variant variants[] = {
      {"defaults", [](Config, Int, Int) {}, 0x910FD42715D520FAull},
      {"threshold 48", [](Config c, Int, Int threshold) { c->rawScore = 0, *threshold = 48; }, 0xD7FA9F47E51953A9ull},
      {"refined", [](Config c, Int, Int) { c->refinedMode = 1; }, 0x286FD3A9345B500Bull},
      {"refined, threshold 30", [](Config c, Int, Int threshold) { c->refinedMode = 1, *threshold = 30; },
       0x6135D04DAF77BE33ull},
      {"selection 0", [](Config c, Int, Int) { c->selectionMode = 0; }, 0x34FF180EA61494C3ull},
      {"selection 1", [](Config c, Int, Int) { c->selectionMode = 1; }, 0x4EF4630E34790B26ull},
      {"symmetric 1", [](Config c, Int, Int) { c->symmetricMode = 1; }, 0x3672256EB2F47BF7ull},
      {"symmetric 2", [](Config c, Int, Int) { c->symmetricMode = 2; }, 0x51F48480BA93D64Aull},
      {"grid and quality", [](Config c, Int, Int) { c->useBlockMap = 1, c->useQuality = 1; }, 0x019351AB4E3FFEB2ull},
      {"odd tolerances",
       [](Config c, Int rotationTolerance, Int) {
         c->distanceTolerance = 11, c->angleTolerance = 5, c->pairMinDistance = 15, c->pairMaxDistance = 90;
         *rotationTolerance = 30;
       },
       0x3CC03A1983A96BD4ull},
      {"plain features", [](Config c, Int, Int) { c->useType = c->useSpread = c->useDensity = c->useNormalisers = 0; },
       0xAFF1CB9D4332FF52ull},
  };
  for (const Variant& v : variants) {
    EXPECT_EQ(ChecksumOf(v, kPairs), v.expected) << v.name;
  }
  const Variant scale{"scale search", [](Config c, Int, Int) { c->scaleSearch = 1; }, 0x4D76D7A853144DBCull};
  EXPECT_EQ(ChecksumOf(scale, kScaleSearchPairs), scale.expected) << scale.name;
}

// AlignSample hands back the turned and shifted sample: its points are pinned too.
TEST(GoldenResults, AlignSample) {
  const EngineConfiguration config = testing::DefaultConfig();
  auto w = testing::NewWorkspace();
  auto sample = testing::NewFeatureSet();
  std::vector<uint8_t> details(kDetailsIndexedSize);
  Fnv1a hash;
  for (int32_t n = 0; n < kAlignPairs; ++n) {
    const Comparison& c = Comparisons()[static_cast<size_t>(n)];
    CopyFeatureSet(sample.get(), c.sampleSet.get());
    std::fill(details.begin(), details.end(), 0);
    const uint32_t size = kDetailsIndexedSize;
    std::memcpy(details.data(), &size, sizeof size);
    const int32_t r = AlignSample(w.get(), c.probeSet.get(), sample.get(), 120, 0, &config, details.data(),
                                  details.size());
    hash.AddInt(r);
    hash.Add(details.data(), details.size());
    for (int32_t i = 0; i < sample->minutiaCount; ++i) {
      const Minutia& m = sample->minutiae[i];
      hash.AddInt(m.x);
      hash.AddInt(m.y);
      hash.AddInt(m.direction);
    }
    for (int32_t j = 0; j < sample->gridHeight; ++j) hash.Add(sample->grid[j], static_cast<size_t>(sample->gridWidth));
  }
  EXPECT_EQ(hash.value(), 0x11A0DB82954C00F6ull);
}

}  // namespace
}  // namespace vorsensor
