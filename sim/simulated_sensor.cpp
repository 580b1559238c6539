#include "sim/simulated_sensor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/finger_source.h"
#include "sim/sensor_contract.h"

namespace vorsensor::sim {
namespace {

// Waits the driver makes itself (a request timing out) are part of its
// request, not waits of the caller.
thread_local bool insideDriver = false;

bool Matches(const RequestFault& fault, int32_t number) {
  return number >= fault.first && (fault.count < 0 || number < fault.first + fault.count);
}

}  // namespace

SimulatedSensor::SimulatedSensor(platform::Clock& clock, const platform::DeviceClassId& interfaceClass,
                                 SensorScenario scenario)
    : clock_(clock), class_(interfaceClass), scenario_(std::move(scenario)) {
  const std::vector<uint8_t> blank = BlankSensorImage();
  blankFrame_ = RawFrameOf(blank.data());
  fingerFrame_ = blankFrame_;
  PowerOn();
}

void SimulatedSensor::PowerOn() {
  std::memset(registers_, 0, sizeof registers_);
  for (const auto& [reg, value] : scenario_.initialRegisters) registers_[reg] = value;
  prepared_ = false;
  streaming_ = false;
}

void SimulatedSensor::SetFingerImage(const uint8_t* image) {
  std::vector<uint8_t> frame = RawFrameOf(image);
  const std::lock_guard<std::mutex> hold(mutex_);
  fingerFrame_ = std::move(frame);
}

void SimulatedSensor::PlaceFinger() {
  const std::lock_guard<std::mutex> hold(mutex_);
  scenario_.fingerPlacedAt = clock_.NowMilliseconds();
  scenario_.fingerLiftedAt = kNever;
}

void SimulatedSensor::LiftFinger() {
  const std::lock_guard<std::mutex> hold(mutex_);
  scenario_.fingerLiftedAt = clock_.NowMilliseconds();
}

bool SimulatedSensor::FingerOnSensor() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return FingerOnSensorLocked();
}

bool SimulatedSensor::FingerOnSensorLocked() const {
  const uint64_t now = clock_.NowMilliseconds();
  return now >= scenario_.fingerPlacedAt && now < scenario_.fingerLiftedAt;
}

void SimulatedSensor::Unplug() {
  const std::lock_guard<std::mutex> hold(mutex_);
  unplugged_ = true;
  prepared_ = false;
  streaming_ = false;
}

void SimulatedSensor::Replug() {
  const std::lock_guard<std::mutex> hold(mutex_);
  unplugged_ = false;
}

void SimulatedSensor::AddFault(const RequestFault& fault) {
  const std::lock_guard<std::mutex> hold(mutex_);
  scenario_.faults.push_back(fault);
}

void SimulatedSensor::SetRequestHook(RequestHook hook) {
  const std::lock_guard<std::mutex> hold(mutex_);
  hook_ = std::move(hook);
}

void SimulatedSensor::RecordWaitsOf(platform::VirtualClock& clock) {
  clock.SetWaitListener([this](uint64_t start, uint32_t milliseconds) {
    if (insideDriver) return;
    const std::lock_guard<std::mutex> hold(mutex_);
    TraceEntry entry;
    entry.timeMs = start;
    entry.kind = TraceKind::kWait;
    entry.waitMs = milliseconds;
    trace_.push_back(entry);
  });
}

std::vector<TraceEntry> SimulatedSensor::Trace() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return trace_;
}

void SimulatedSensor::ClearTrace() {
  const std::lock_guard<std::mutex> hold(mutex_);
  trace_.clear();
}

uint8_t SimulatedSensor::Register(uint8_t reg) const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return registers_[reg];
}

bool SimulatedSensor::Powered() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return openHandle_ != platform::kClosedDevice && (registers_[kPowerRegister] & kPowerOnBit) != 0;
}

bool SimulatedSensor::Streaming() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return streaming_;
}

bool SimulatedSensor::HandleOpen() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return openHandle_ != platform::kClosedDevice;
}

std::string SimulatedSensor::PathOf(int32_t index) const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return PathOfLocked(index);
}

std::string SimulatedSensor::PathOfLocked(int32_t index) const {
  const auto custom = scenario_.pathOverrides.find(index);
  if (custom != scenario_.pathOverrides.end()) return custom->second;
  char path[64];
  std::snprintf(path, sizeof path, "\\\\?\\sim#sensor#%04d#{interface}", index);
  return path;
}

bool SimulatedSensor::ListDeviceInterfaces(const platform::DeviceClassId& interfaceClass, int32_t count,
                                           const platform::InterfaceFound& found) {
  std::vector<std::pair<int32_t, std::string>> paths;
  {
    const std::lock_guard<std::mutex> hold(mutex_);
    TraceEntry entry;
    entry.timeMs = clock_.NowMilliseconds();
    entry.kind = TraceKind::kDiscover;
    if (scenario_.discoveryUnavailable) {
      entry.ok = false;
      trace_.push_back(entry);
      return false;
    }
    const int32_t present = unplugged_ || !(interfaceClass == class_) ? 0 : scenario_.presentSensors;
    for (int32_t i = 0; i < std::min(count, present); ++i) {
      if (scenario_.discoveryFaults.count(i) == 0) paths.emplace_back(i, PathOfLocked(i));
    }
    entry.returned = static_cast<uint32_t>(paths.size());
    trace_.push_back(entry);
  }
  for (const auto& [index, path] : paths) found(index, path.c_str());
  return true;
}

platform::DeviceHandle SimulatedSensor::OpenDevice(const char* path) {
  const std::lock_guard<std::mutex> hold(mutex_);
  TraceEntry entry;
  entry.timeMs = clock_.NowMilliseconds();
  entry.kind = TraceKind::kOpen;
  bool known = false;
  for (int32_t i = 0; i < scenario_.presentSensors && !known; ++i) known = path != nullptr && PathOfLocked(i) == path;
  ++opens_;
  entry.ok = known && !unplugged_ && opens_ > scenario_.failingOpens;
  trace_.push_back(entry);
  if (!entry.ok) return platform::kClosedDevice;
  // A new handle makes any earlier one stale; the sensor is powered afresh.
  openHandle_ = nextHandle_++;
  PowerOn();
  return openHandle_;
}

void SimulatedSensor::CloseDevice(platform::DeviceHandle handle) {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (handle != openHandle_ || handle == platform::kClosedDevice) return;
  TraceEntry entry;
  entry.timeMs = clock_.NowMilliseconds();
  entry.kind = TraceKind::kClose;
  trace_.push_back(entry);
  openHandle_ = platform::kClosedDevice;
  prepared_ = false;
  streaming_ = false;
}

const RequestFault* SimulatedSensor::MatchFault(uint32_t code) {
  const int32_t number = ++requestCounts_[code];
  const int32_t overall = ++allRequests_;
  for (const RequestFault& fault : scenario_.faults) {
    if (fault.code == code ? Matches(fault, number) : fault.code == 0 && Matches(fault, overall)) return &fault;
  }
  return nullptr;
}

bool SimulatedSensor::ControlDevice(platform::DeviceHandle handle, uint32_t code, const void* input,
                                    uint32_t inputLength, void* output, uint32_t outputLength, uint32_t* returned) {
  *returned = 0;
  TraceEntry entry;
  entry.kind = TraceKind::kRequest;
  entry.code = code;
  const auto* in = static_cast<const uint8_t*>(input);
  if ((code == kReadRegister || code == kWriteRegister) && in != nullptr && inputLength >= 1) entry.reg = in[0];
  if (code == kWriteRegister && in != nullptr && inputLength >= 2) entry.value = in[1];
  RequestHook hook;
  {
    const std::lock_guard<std::mutex> hold(mutex_);
    hook = hook_;
  }
  entry.timeMs = clock_.NowMilliseconds();
  if (hook) hook(entry);

  Outcome outcome;
  {
    const std::lock_guard<std::mutex> hold(mutex_);
    entry.timeMs = clock_.NowMilliseconds();
    if (handle == openHandle_ && handle != platform::kClosedDevice && !unplugged_) {
      outcome = Serve(entry, input, inputLength, output, outputLength);
    }
    entry.ok = outcome.ok;
    entry.returned = outcome.returned;
    trace_.push_back(entry);
  }
  if (outcome.delayMs > 0) {
    insideDriver = true;
    clock_.Sleep(outcome.delayMs);
    insideDriver = false;
  }
  *returned = outcome.returned;
  return outcome.ok;
}

SimulatedSensor::Outcome SimulatedSensor::Serve(TraceEntry& entry, const void* input, uint32_t inputLength,
                                                void* output, uint32_t outputLength) {
  Outcome outcome;
  const uint32_t code = entry.code;
  if (const RequestFault* fault = MatchFault(code)) {
    switch (fault->kind) {
      case FaultKind::kError:
        return outcome;
      case FaultKind::kTimeout:
        outcome.delayMs = fault->delayMs;
        return outcome;
      case FaultKind::kUnplug:
        unplugged_ = true;
        prepared_ = false;
        streaming_ = false;
        return outcome;
      case FaultKind::kShortRead:
        if (code == kReadFrame && streaming_ && output != nullptr) {
          const bool finger = FingerOnSensorLocked();
          const std::vector<uint8_t>& frame = finger ? fingerFrame_ : blankFrame_;
          const uint32_t bytes = std::min({fault->bytes, outputLength, kFrameBytes});
          std::memcpy(output, frame.data(), bytes);
          outcome.ok = true;
          outcome.returned = bytes;
        }
        return outcome;
    }
  }
  const auto* in = static_cast<const uint8_t*>(input);
  auto* out = static_cast<uint8_t*>(output);
  const bool noBuffers = inputLength == 0 && outputLength == 0;
  const bool powered = (registers_[kPowerRegister] & kPowerOnBit) != 0;
  switch (code) {
    case kReadRegister:
      if (in == nullptr || out == nullptr || inputLength != kReadRegisterBytes || outputLength != kReadRegisterBytes) break;
      entry.value = registers_[in[0]];
      std::memmove(out, in, kReadRegisterBytes);
      out[0] = registers_[entry.reg];
      outcome = {true, kReadRegisterBytes, 0};
      break;
    case kWriteRegister:
      if (in == nullptr || inputLength != kWriteRegisterBytes || outputLength != 0) break;
      registers_[in[0]] = in[1];
      if ((registers_[kPowerRegister] & kPowerOnBit) == 0) {
        prepared_ = false;
        streaming_ = false;
      }
      outcome.ok = true;
      break;
    case kPrepare:
      if (!noBuffers || !powered || registers_[kArmRegister] != kArmed) break;
      prepared_ = true;
      outcome.ok = true;
      break;
    case kStartStreaming:
      if (!noBuffers || !prepared_ || registers_[kStreamRegister] != kStreamAllowed) break;
      streaming_ = true;
      outcome.ok = true;
      break;
    case kStopStreaming:
      if (!noBuffers || !powered) break;
      streaming_ = false;
      prepared_ = false;
      outcome.ok = true;
      break;
    case kReadFrame:
      if (inputLength != 0 || out == nullptr || outputLength != kFrameBytes || !streaming_) break;
      std::memcpy(out, (FingerOnSensorLocked() ? fingerFrame_ : blankFrame_).data(), kFrameBytes);
      outcome = {true, kFrameBytes, 0};
      break;
    default:
      break;
  }
  return outcome;
}

}  // namespace vorsensor::sim
