#pragma once
// Realistic random feature sets for matcher tests and benchmarks: a finger
// of 40..60 minutiae spread over an elliptic print area of a 256 x 288
// image, further impressions of the same finger, and their records.
// No test framework here, so benchmarks can link it too.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/feature_set.h"
#include "support/random.h"

namespace vorsensor::testing {

struct FingerShape {
  int32_t minMinutiae = 40;
  int32_t maxMinutiae = 60;
  int32_t minSpacing = 9;  // pixels between any two minutiae
  bool spreads = true;     // orientation spreads (else 255)
  bool densities = true;   // density values (else 255)
  bool typed = true;       // endings and bifurcations (else type 0)
};

// A zero-cleared feature set on the heap (the structure is about 36 KB).
std::unique_ptr<FeatureSet> NewFeatureSet();

// A finger: minutiae at least `minSpacing` apart inside an ellipse round the
// image centre, in raster order as extraction lists them, directions along a
// smooth loop-shaped ridge flow (either sense), about half of each type,
// spreads mostly 4..30 and density values from a smooth field round 100.
std::unique_ptr<FeatureSet> MakeFingerSet(TestRandom& random, const FingerShape& shape = FingerShape());

struct ImpressionChange {
  int32_t rotation = 0;  // direction units, about the print's centre
  int32_t shiftX = 0;
  int32_t shiftY = 0;
  int32_t jitter = 2;           // pixels, each coordinate
  int32_t directionJitter = 3;  // direction units
  int32_t lostPercent = 10;     // minutiae not found again
  int32_t spurious = 3;         // new minutiae
};

// Another impression of `finger`: turned, shifted, jittered, with some
// minutiae lost and a few spurious ones, re-listed in raster order.
std::unique_ptr<FeatureSet> MakeImpressionSet(const FeatureSet& finger, TestRandom& random,
                                              const ImpressionChange& change = ImpressionChange());

// The set's template record (aborts when the writer refuses it).
std::vector<uint8_t> RecordBytesOf(const FeatureSet& set);

}  // namespace vorsensor::testing
