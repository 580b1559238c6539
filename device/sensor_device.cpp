#include "device/sensor_device.h"

#include <cstring>

#include "device/driver_contract.h"
#include "device/sensor_commands.h"

namespace vorsensor {

SensorDevice::SensorDevice(platform::DeviceIo& deviceIo, platform::Clock& deviceClock)
    : rawFrame(new uint8_t[kRawFrameBytes]),
      planeA(new uint8_t[kSensorPlaneBytes]),
      planeB(new uint8_t[kSensorPlaneBytes]),
      io(deviceIo),
      clock(deviceClock) {}

SensorDevice::~SensorDevice() {
  if (IsOpen(*this)) {
    io.CloseDevice(handle);
  }
}

bool IsOpen(const SensorDevice& device) { return device.handle != platform::kClosedDevice; }

int32_t FindSensors(SensorDevice& device) {
  const platform::LockHold hold(device.lock);
  if (IsOpen(device)) {
    device.io.CloseDevice(device.handle);
    device.handle = platform::kClosedDevice;
  }
  std::memset(device.paths, 0, sizeof device.paths);
  int32_t count = 0;
  device.io.ListDeviceInterfaces(kSensorInterfaceClass, kMaxSensors, [&device, &count](int32_t, const char* path) {
    const size_t length = std::strlen(path);
    // A path that does not fit its slot with the terminator would open some
    // other device if cut: the element is skipped like one that failed.
    if (count >= kMaxSensors || length >= static_cast<size_t>(kSensorPathBytes)) {
      return;
    }
    std::memcpy(device.paths[count], path, length + 1);
    ++count;
  });
  device.deviceCount = count;
  return count;
}

int32_t OpenSensor(SensorDevice& device, int32_t index) {
  const platform::LockHold hold(device.lock);
  if (index < 0 || index >= device.deviceCount) {
    return 0;
  }
  if (index == device.currentIndex && IsOpen(device)) {
    return 1;
  }
  // A request failing inside the power-up has closed the device; opening it
  // again here would start the sequence anew from inside itself.
  if (device.poweringUp) {
    return 0;
  }
  if (IsOpen(device)) {
    // Another device is open (the current index never changes today, but a
    // second handle must not leak if it ever does).
    device.io.CloseDevice(device.handle);
    device.handle = platform::kClosedDevice;
  }
  const platform::DeviceHandle handle = device.io.OpenDevice(device.paths[index]);
  if (handle == platform::kClosedDevice) {
    return 0;
  }
  device.handle = handle;
  device.currentIndex = index;
  device.poweringUp = true;
  const int32_t powered = PowerUpSensor(device);
  device.poweringUp = false;
  return powered;
}

int32_t CloseSensor(SensorDevice& device) {
  const platform::LockHold hold(device.lock);
  if (IsOpen(device)) {
    device.io.CloseDevice(device.handle);
    device.handle = platform::kClosedDevice;
    device.clock.Sleep(kCloseWaitMs);
  }
  return 1;
}

int32_t SensorRequest(SensorDevice& device, uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, uint32_t* returned) {
  const platform::LockHold hold(device.lock);
  if (OpenSensor(device, device.currentIndex) == 0) {
    return 0;
  }
  uint32_t count = 0;
  const bool done = device.io.ControlDevice(device.handle, code, input, inputLength, output, outputLength, &count);
  if (returned != nullptr) {
    *returned = count;
  }
  if (!done) {
    CloseSensor(device);
    return 0;
  }
  return 1;
}

}  // namespace vorsensor
