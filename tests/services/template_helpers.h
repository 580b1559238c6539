#pragma once
// Test templates: realistic random feature sets, impressions of the same
// finger, and their records, sealed templates and template texts.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/feature_set.h"
#include "support/random.h"

namespace vorsensor::testing {

constexpr size_t kRecordBytes = 500;
constexpr size_t kSealedBytes = 500;
using RecordBytes = std::array<uint8_t, kRecordBytes>;
using SealedBytes = std::array<uint8_t, kSealedBytes>;

// A finger of 40..60 minutiae spread over an elliptic print area of a
// 256 x 288 image at least 9 pixels apart, with directions following a smooth
// ridge flow, both types, and spreads and density values as extraction gives.
std::unique_ptr<FeatureSet> MakeFinger(TestRandom& random);

// Another impression of the same finger: turned by `rotation` direction units
// about the print's centre, shifted by (dx, dy), every point jittered by up to
// 2 pixels and 3 units, about a tenth of the minutiae lost and a few new ones.
std::unique_ptr<FeatureSet> MakeImpression(const FeatureSet& finger, TestRandom& random, int32_t rotation,
                                           int32_t dx, int32_t dy);

// The set written as a record and zero-padded to 500 bytes (aborts when it
// does not fit). Used by the benchmarks too, so no test framework here.
RecordBytes RecordOf(const FeatureSet& set);
// A record sealed with the template key, and a sealed template as text.
SealedBytes Seal(const RecordBytes& record);
std::string HexOf(const uint8_t* bytes, size_t count);
inline std::string TextOf(const SealedBytes& sealed) { return HexOf(sealed.data(), sealed.size()); }
inline std::string TextOf(const FeatureSet& set) { return TextOf(Seal(RecordOf(set))); }

}  // namespace vorsensor::testing
