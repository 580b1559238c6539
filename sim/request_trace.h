#pragma once
// The simulated driver's record of everything asked of it, with virtual times,
// and a one-line form of each entry for tests and the tool.
#include <cstdint>
#include <string>
#include <vector>

namespace vorsensor::sim {

enum class TraceKind { kDiscover, kOpen, kClose, kRequest, kWait };

struct TraceEntry {
  uint64_t timeMs = 0;
  TraceKind kind = TraceKind::kRequest;
  uint32_t code = 0;       // request code
  int32_t reg = -1;        // register of a read or write
  int32_t value = -1;      // value read or written
  bool ok = true;          // whether the request (or open) succeeded
  uint32_t returned = 0;   // bytes returned; paths found for kDiscover
  uint32_t waitMs = 0;     // for kWait
};

// "read 0x02 -> 0x80", "write 0x40 := 0x01", "prepare", "start", "stop",
// "frame 101952", "open", "close", "discover 2", "wait 20"; a failed request or
// open ends in " failed".
std::string TraceLine(const TraceEntry& entry);
std::vector<std::string> TraceLines(const std::vector<TraceEntry>& trace);

}  // namespace vorsensor::sim
