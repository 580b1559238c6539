#pragma once
// A simulated sensor driver with its sensor, behind the platform's device I/O
// seam. It publishes `presentSensors` device paths under one interface class,
// keeps a register file, a power state (register 0x13 bit 0) and a capture
// state (prepared, streaming), and serves raw frames of the blank sensor or of
// the finger image, by the scenario's virtual times. Requests with the wrong
// buffers, on a stale handle or in the wrong state fail as a real device's:
//   read register 11 in / 11 out, write register 2 in; prepare needs power and
//   register 0x40 = 0x01; start streaming needs a prepared sensor and register
//   0x41 = 0x00; a frame read needs streaming and a 101952-byte buffer; stop
//   streaming needs power. Closing the handle ends the capture state, and the
//   next open applies power afresh (registers back to their initial values).
// Every discovery, open, close and request is recorded with its virtual time.
// Thread-safe: the host's thread may place the finger or unplug the sensor
// while a worker sends requests.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/virtual_clock.h"
#include "sim/request_trace.h"
#include "sim/sensor_scenario.h"

namespace vorsensor::sim {

class SimulatedSensor final : public platform::DeviceIo {
 public:
  SimulatedSensor(platform::Clock& clock, const platform::DeviceClassId& interfaceClass,
                  SensorScenario scenario = {});

  // The grey image (256 x 288) a finger on the sensor gives.
  void SetFingerImage(const uint8_t* image);
  void PlaceFinger();  // from now until lifted
  void LiftFinger();
  bool FingerOnSensor() const;
  // The sensor disappears: requests and opens fail, discovery finds nothing.
  void Unplug();
  void Replug();
  void AddFault(const RequestFault& fault);

  // Called on the requesting thread before each request is handled, without
  // the driver's lock held (so it may block, or act on the device from
  // another thread). The entry holds the time, code, register and written value.
  using RequestHook = std::function<void(const TraceEntry& request)>;
  void SetRequestHook(RequestHook hook);
  // Records every wait made on `clock` (outside the driver) in the trace.
  void RecordWaitsOf(platform::VirtualClock& clock);

  std::vector<TraceEntry> Trace() const;
  void ClearTrace();
  uint8_t Register(uint8_t reg) const;
  bool Powered() const;
  bool Streaming() const;
  bool HandleOpen() const;
  // The device path of element `index`.
  std::string PathOf(int32_t index) const;

  bool ListDeviceInterfaces(const platform::DeviceClassId& interfaceClass, int32_t count,
                            const platform::InterfaceFound& found) override;
  platform::DeviceHandle OpenDevice(const char* path) override;
  bool ControlDevice(platform::DeviceHandle handle, uint32_t code, const void* input, uint32_t inputLength,
                     void* output, uint32_t outputLength, uint32_t* returned) override;
  void CloseDevice(platform::DeviceHandle handle) override;

 private:
  struct Outcome {
    bool ok = false;
    uint32_t returned = 0;
    uint32_t delayMs = 0;
  };
  const RequestFault* MatchFault(uint32_t code);
  Outcome Serve(TraceEntry& entry, const void* input, uint32_t inputLength, void* output, uint32_t outputLength);
  bool FingerOnSensorLocked() const;
  std::string PathOfLocked(int32_t index) const;
  void PowerOn();

  platform::Clock& clock_;
  platform::DeviceClassId class_;
  SensorScenario scenario_;
  mutable std::mutex mutex_;
  std::vector<uint8_t> fingerFrame_;
  std::vector<uint8_t> blankFrame_;
  uint8_t registers_[256] = {};
  platform::DeviceHandle openHandle_ = platform::kClosedDevice;
  platform::DeviceHandle nextHandle_ = 1;
  int32_t opens_ = 0;
  bool prepared_ = false;
  bool streaming_ = false;
  bool unplugged_ = false;
  std::map<uint32_t, int32_t> requestCounts_;
  int32_t allRequests_ = 0;
  std::vector<TraceEntry> trace_;
  RequestHook hook_;
};

}  // namespace vorsensor::sim
