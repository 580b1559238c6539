#pragma once
// Scanner profiles: named presets of the engine configuration for one scanner
// type. Each profile has two halves of matching parameters, one per profile
// mode; SelectScannerProfile and SetProfileMode (engine_configuration.h)
// apply them.
#include <cstdint>

namespace vorsensor {

constexpr uint32_t kProfileModeWide = 0;        // long pairs, large pair limits
constexpr uint32_t kProfileModeStandard = 256;  // the mode the component runs in

constexpr int32_t kFeatureNormaliserCount = 8;
constexpr int32_t kContextNormaliserCount = 4;

// The matching parameters one profile mode takes from a profile.
struct ProfileHalf {
  int32_t pairMaxDistance;
  int32_t featureNormalisers[kFeatureNormaliserCount];
  int32_t contextNormalisers[kContextNormaliserCount];
};

struct ScannerProfile {
  int32_t id;
  const char* name;      // display name only; profiles are found by id
  ProfileHalf wide;      // for kProfileModeWide
  ProfileHalf standard;  // for kProfileModeStandard
};

constexpr int32_t kScannerProfileCount = 21;
extern const ScannerProfile kScannerProfiles[kScannerProfileCount];

// The first profile with this id in table order, or null.
const ScannerProfile* FindScannerProfile(int32_t id);

}  // namespace vorsensor
