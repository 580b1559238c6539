#pragma once
// Test templates: realistic random fingers and impressions (the matcher's
// feature set helpers) as records, sealed templates and template texts.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/feature_set.h"
#include "matching/feature_set_helpers.h"
#include "support/random.h"

namespace vorsensor::testing {

constexpr size_t kRecordBytes = 500;
constexpr size_t kSealedBytes = 500;
using RecordBytes = std::array<uint8_t, kRecordBytes>;
using SealedBytes = std::array<uint8_t, kSealedBytes>;

// A finger of 40..60 minutiae with the default shape of MakeFingerSet.
std::unique_ptr<FeatureSet> MakeFinger(TestRandom& random);

// Another impression of the same finger: turned by `rotation` direction units
// about the print's centre and shifted by (dx, dy), with the default jitter,
// losses and spurious minutiae of MakeImpressionSet.
std::unique_ptr<FeatureSet> MakeImpression(const FeatureSet& finger, TestRandom& random, int32_t rotation,
                                           int32_t dx, int32_t dy);

// A finger, another impression of it (as MakeImpression) and a different
// finger, drawn from `random` in that order.
struct FingerTrio {
  std::unique_ptr<FeatureSet> finger;
  std::unique_ptr<FeatureSet> impression;
  std::unique_ptr<FeatureSet> other;
};
FingerTrio MakeFingerTrio(TestRandom& random, int32_t rotation, int32_t dx, int32_t dy);

// The set written as a record and zero-padded to 500 bytes (aborts when it
// does not fit). Used by the benchmarks too, so no test framework here.
RecordBytes RecordOf(const FeatureSet& set);
// A record sealed with the template key, and a sealed template as text.
SealedBytes Seal(const RecordBytes& record);
std::string HexOf(const uint8_t* bytes, size_t count);
inline std::string TextOf(const SealedBytes& sealed) { return HexOf(sealed.data(), sealed.size()); }
inline std::string TextOf(const FeatureSet& set) { return TextOf(Seal(RecordOf(set))); }

}  // namespace vorsensor::testing
