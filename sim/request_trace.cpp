#include "sim/request_trace.h"

#include <cstdio>

#include "sim/sensor_contract.h"

namespace vorsensor::sim {
namespace {

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

std::string RequestText(const TraceEntry& e) {
  switch (e.code) {
    case kReadRegister:
      return "read " + Hex(static_cast<uint32_t>(e.reg), 2) + (e.ok ? " -> " + Hex(static_cast<uint32_t>(e.value), 2) : "");
    case kWriteRegister:
      return "write " + Hex(static_cast<uint32_t>(e.reg), 2) + " := " + Hex(static_cast<uint32_t>(e.value), 2);
    case kPrepare:
      return "prepare";
    case kStartStreaming:
      return "start";
    case kStopStreaming:
      return "stop";
    case kReadFrame:
      return e.ok ? "frame " + std::to_string(e.returned) : "frame";
    default:
      return "request " + Hex(e.code, 6);
  }
}

}  // namespace

std::string TraceLine(const TraceEntry& e) {
  switch (e.kind) {
    case TraceKind::kDiscover:
      return "discover " + std::to_string(e.returned);
    case TraceKind::kOpen:
      return e.ok ? "open" : "open failed";
    case TraceKind::kClose:
      return "close";
    case TraceKind::kWait:
      return "wait " + std::to_string(e.waitMs);
    case TraceKind::kRequest:
      return RequestText(e) + (e.ok ? "" : " failed");
  }
  return "";
}

std::vector<std::string> TraceLines(const std::vector<TraceEntry>& trace) {
  std::vector<std::string> lines;
  lines.reserve(trace.size());
  for (const TraceEntry& e : trace) lines.push_back(TraceLine(e));
  return lines;
}

}  // namespace vorsensor::sim
