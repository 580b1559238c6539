#pragma once
// The sensor device: the one open file handle of the sensor, the device paths
// found by discovery, and the frame buffers. Every request goes through
// SensorRequest, which opens the device (and powers it up) when it is closed
// and closes it when a request fails, so the next request starts afresh.
//
// Results: FindSensors the number of paths found; the others 1 (or nonzero)
// for done, 0 for failed. One lock serialises the operations, so a stop
// request from another thread waits for the operation under way.
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/recursive_lock.h"

namespace vorsensor {

constexpr int32_t kMaxSensors = 16;
constexpr int32_t kSensorPathBytes = 512;
constexpr uint32_t kCloseWaitMs = 300;

struct SensorDevice {
  SensorDevice(platform::DeviceIo& deviceIo, platform::Clock& deviceClock);
  ~SensorDevice();
  SensorDevice(const SensorDevice&) = delete;
  SensorDevice& operator=(const SensorDevice&) = delete;

  platform::DeviceHandle handle = platform::kClosedDevice;
  int32_t deviceCount = 0;
  char paths[kMaxSensors][kSensorPathBytes] = {};
  std::unique_ptr<uint8_t[]> rawFrame;  // kRawFrameBytes
  std::unique_ptr<uint8_t[]> planeA;    // kSensorPlaneBytes
  std::unique_ptr<uint8_t[]> planeB;    // kSensorPlaneBytes
  int32_t currentIndex = 0;

  // Set while the power-up sequence runs: a request that fails inside it
  // ends the open instead of opening (and powering up) the device again.
  bool poweringUp = false;
  platform::DeviceIo& io;
  platform::Clock& clock;
  platform::RecursiveLock lock;
};

bool IsOpen(const SensorDevice& device);

// Closes the device if open, clears the path table and fills it from the
// first 16 elements of the sensor class; returns the count (0..16). A path of
// 512 characters or more does not fit a slot and its element is skipped.
int32_t FindSensors(SensorDevice& device);
// Opens path `index` and runs the power-up sequence; 1 at once when that
// device is already open.
int32_t OpenSensor(SensorDevice& device, int32_t index);
// Closes the device and waits 300 ms; no wait when it was closed. Always 1.
int32_t CloseSensor(SensorDevice& device);
// Opens the current device when needed and sends one request; on failure the
// device is closed. Nonzero on success.
int32_t SensorRequest(SensorDevice& device, uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, uint32_t* returned);

}  // namespace vorsensor
