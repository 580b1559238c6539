#include "device/sensor_facade.h"

#include <atomic>

#include "device/frame_acquisition.h"
#include "device/sensor_commands.h"
#include "platform/clock.h"
#include "platform/device_io.h"

namespace vorsensor {
namespace {

std::atomic<SensorDevice*> installed{nullptr};

SensorDevice& SystemSensorDevice() {
  static SensorDevice device(platform::SystemDeviceIo(), platform::SystemClock());
  return device;
}

}  // namespace

SensorDevice& ProcessSensorDevice() {
  SensorDevice* device = installed.load(std::memory_order_acquire);
  return device != nullptr ? *device : SystemSensorDevice();
}

SensorDevice* InstallProcessSensorDevice(SensorDevice* device) {
  return installed.exchange(device, std::memory_order_acq_rel);
}

int32_t FindSensors() { return FindSensors(ProcessSensorDevice()) > 0 ? 1 : 0; }
int32_t CloseSensor() { return CloseSensor(ProcessSensorDevice()); }
int32_t PrepareCapture() { return PrepareCapture(ProcessSensorDevice()); }
int32_t StartCapture() { return StartCapture(ProcessSensorDevice()); }
int32_t ReadFrame(uint8_t* image) { return ReadFrame(ProcessSensorDevice(), image); }
int32_t EndCapture() { return EndCapture(ProcessSensorDevice()); }

}  // namespace vorsensor
