#pragma once
// What happens to the simulated sensor: how many sensors are present and
// which fail discovery, when a finger is placed and lifted (virtual time), and
// which requests fail and how.
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace vorsensor::sim {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

// The four things discovery reads of element i; a fault makes that read fail.
enum class DiscoveryStep { kDeviceInfo, kDriverKey, kInterface, kInterfacePath };

enum class FaultKind {
  kError,      // the request fails at once
  kTimeout,    // the request fails after `delayMs` of virtual time
  kShortRead,  // a frame read succeeds with only `bytes` bytes
  kUnplug,     // the sensor is gone: this request and everything after fails
};

// Fails the matching requests numbered first .. first + count - 1 (1-based,
// counted per code; code 0 counts every request). count -1: all from first on.
struct RequestFault {
  uint32_t code = 0;
  int32_t first = 1;
  int32_t count = 1;
  FaultKind kind = FaultKind::kError;
  uint32_t bytes = 0;
  uint32_t delayMs = 0;
};

struct SensorScenario {
  int32_t presentSensors = 1;
  // Element index -> the step that fails for it.
  std::map<int32_t, DiscoveryStep> discoveryFaults;
  // Element index -> a path of its own (to try paths that do not fit).
  std::map<int32_t, std::string> pathOverrides;
  // The device set of the class cannot be had at all.
  bool discoveryUnavailable = false;
  // The first this many opens fail.
  int32_t failingOpens = 0;
  // Virtual times (ms) at which the finger goes on and comes off the sensor.
  uint64_t fingerPlacedAt = kNever;
  uint64_t fingerLiftedAt = kNever;
  std::vector<RequestFault> faults;
  // Register values after power is applied; the rest read 0.
  std::map<uint8_t, uint8_t> initialRegisters;
};

}  // namespace vorsensor::sim
