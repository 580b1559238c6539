// The score's arithmetic rules with hand-worked values: the pair-count
// normalisation and its rounding, and which normaliser each flag combination
// picks. (The golden checksums guard these too, but name no rule.)
#include "matching/score.h"

#include <gtest/gtest.h>

#include "engine/result_codes.h"
#include "feature_set_helpers.h"
#include "matcher_test_support.h"

namespace vorsensor {
namespace {

using testing::TestRandom;

TEST(NormaliseSum, ScalesLargePairCountsAndRoundsPerMille) {
  struct Case {
    bool refined;
    int64_t total;
    int32_t nP, nS, n1;
    int64_t expected;
  };
  // c = normPairs = 50: probe records scale down above 100, sample pairs above 50.
  const Case cases[] = {
      {false, 100, 100, 50, 202, 40},   // both at their bound: P = 200; (40400 + 500) / 1000
      {false, 100, 101, 51, 202, 40},   // P = 10000 / 101 + 5000 / 51 = 99 + 98; (39794 + 500) / 1000
      {false, 300, 300, 80, 236, 68},   // P = 30000 / 300 + 15000 / 80 = 100 + 187; 67732 -> 68
      {false, 7, 100, 50, 1000, 14},    // at the bounds nothing is scaled
      {false, 7, 101, 50, 1000, 13},    // 700 / 101 = 6
      {false, 7, 100, 51, 1000, 13},    // 350 / 51 = 6
      {false, 1, 10, 10, 1499, 3},      // P = 2: 2998 + 500 -> 3 (2 without the rounding term)
      {true, 100, 250, 999, 1000, 80},  // refined: 2 x 100 x 100 / 250, sample pairs ignored
      {true, 100, 100, 999, 1000, 200},
      {true, 3, 10, 10, 1250, 8},       // 6 x 1250 = 7500 + 500 -> 8 (7 without rounding)
  };
  MatchParameters p = testing::DefaultParameters();
  ASSERT_EQ(p.normPairs, 50);
  for (const Case& c : cases) {
    p.refined = c.refined;
    EXPECT_EQ(NormaliseSum(c.total, c.nP, c.nS, c.n1, p), c.expected)
        << c.total << " " << c.nP << " " << c.nS << " " << c.n1 << (c.refined ? " refined" : "");
  }
}

// N1 = featureNormalisers[typed x 4 + spread x 2 + density] and N2 =
// contextNormalisers[grid x 2 + density byte], each flag set only when its
// switch is on and both sets carry the trait; 1000 without normalisers.
TEST(ComputeNormalisers, EachFlagSelectsItsIndex) {
  auto w = testing::NewWorkspace();
  MatchParameters p = testing::DefaultParameters();
  for (int32_t i = 0; i < 8; ++i) p.featureNormalisers[i] = 100 + i;
  for (int32_t i = 0; i < 4; ++i) p.contextNormalisers[i] = 200 + i;
  for (int32_t bits = 0; bits < 32; ++bits) {
    const bool typed = bits & 16, spread = bits & 8, density = bits & 4, grid = bits & 2, byte = bits & 1;
    for (PreparedSet* s : {&w->probe, &w->sample}) {
      s->typed = typed;
      s->spreadPresent = spread;
      s->densityPresent = density;
      s->gridPresent = grid;
      s->densityBytePresent = byte;
    }
    p.useBlockMap = p.useQuality = true;
    Normalisers n = ComputeNormalisers(w->probe, w->sample, p);
    EXPECT_EQ(n.feature, 100 + 4 * typed + 2 * spread + density) << bits;
    EXPECT_EQ(n.context, 200 + 2 * grid + byte) << bits;
    // One set without the trait, or the switch off, clears the flag.
    w->sample.typed = w->sample.gridPresent = false;
    w->probe.spreadPresent = false;
    p.useDensity = p.useQuality = false;
    n = ComputeNormalisers(w->probe, w->sample, p);
    EXPECT_EQ(n.feature, 100) << bits;
    EXPECT_EQ(n.context, 200) << bits;
    p.useDensity = true;
  }
  p.useNormalisers = false;
  const Normalisers none = ComputeNormalisers(w->probe, w->sample, p);
  EXPECT_EQ(none.feature, 1000);
  EXPECT_EQ(none.context, 1000);
}

// The configuration checks and caps of the matching parameters, each at its limit.
TEST(ReadMatchParameters, RefusesAndCapsAtTheLimits) {
  const struct {
    const char* what;
    void (*set)(EngineConfiguration*);
    int32_t result;
  } checks[] = {
      {"selection 2", [](EngineConfiguration* c) { c->selectionMode = 2; }, kOk},
      {"selection 3", [](EngineConfiguration* c) { c->selectionMode = 3; }, kOutOfRange},
      {"symmetric 3", [](EngineConfiguration* c) { c->symmetricMode = 3; }, kOutOfRange},
      {"one scale", [](EngineConfiguration* c) { c->scaleMin = c->scaleMax = 130; }, kOk},
      {"scales reversed", [](EngineConfiguration* c) { c->scaleMin = 131; }, kOutOfRange},
      {"scale 1000", [](EngineConfiguration* c) { c->scaleMax = 1000; }, kOk},
      {"scale 1001", [](EngineConfiguration* c) { c->scaleMax = 1001; }, kOutOfRange},
      {"step 0", [](EngineConfiguration* c) { c->scaleStep = 0; }, kOutOfRange},
      {"step 0 unused", [](EngineConfiguration* c) { c->scaleStep = 0, c->scaleSearch = 0; }, kOk},
  };
  for (const auto& check : checks) {
    EngineConfiguration c = testing::DefaultConfig();
    c.scaleSearch = 1;
    check.set(&c);
    MatchParameters p;
    EXPECT_EQ(ReadMatchParameters(&c, &p), check.result) << check.what;
  }
  EngineConfiguration c = testing::DefaultConfig();
  c.pairMaxDistance = 256;
  c.pairMinDistance = 255;
  c.angleTolerance = 121;
  c.distanceTolerance = 255;
  c.typeBoost = 65536;
  c.featureNormalisers[3] = 65535;
  MatchParameters p;
  ASSERT_EQ(ReadMatchParameters(&c, &p), kOk);
  EXPECT_EQ(p.pairMaxDistance, 255);
  EXPECT_EQ(p.pairMinDistance, 255);
  EXPECT_EQ(p.angleTolerance, 120);
  EXPECT_EQ(p.distanceTolerance, 255);
  EXPECT_EQ(p.typeBoost, 65535);
  EXPECT_EQ(p.featureNormalisers[3], 65535);
  EXPECT_EQ(p.tolD, 255);
  EXPECT_EQ(p.tolA, 120);
  c.refinedMode = 1;  // refined: each tolerance one less
  ASSERT_EQ(ReadMatchParameters(&c, &p), kOk);
  EXPECT_EQ(p.tolD, 254);
  EXPECT_EQ(p.tolA, 119);
}

// With the quality switch on, the score is scaled by f = 255 - q over 255,
// q the density byte gap, and f above 240 counts as full: gaps up to 14 keep
// the score, 15 scales it by 240 / 255, 16 by 239 / 255.
TEST(ScoreSample, DensityByteGapFactorFullAbove240) {
  TestRandom random(77);
  const auto finger = testing::MakeFingerSet(random);
  MatchParameters p = testing::DefaultParameters();
  p.useQuality = true;
  for (int32_t& n : p.contextNormalisers) n = 1000;
  auto w = testing::NewWorkspace();
  auto score = [&](uint8_t gap) {
    auto sample = testing::NewFeatureSet();
    CopyFeatureSet(sample.get(), finger.get());
    finger->densityByte = 100;
    sample->densityByte = static_cast<uint8_t>(100 + gap);
    EXPECT_TRUE(testing::PrepareSlots(w.get(), *finger, *sample, p));
    return ScoreSample(w.get(), &w->probe, &w->sample, 0, p, DetailsBuffer{nullptr, 0});
  };
  const int32_t full = score(0);
  ASSERT_GT(full, 100);
  EXPECT_EQ(score(14), full);
  EXPECT_EQ(score(15), full * 240 / 255);
  EXPECT_EQ(score(16), full * 239 / 255);
}

}  // namespace
}  // namespace vorsensor
