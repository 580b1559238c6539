#include "device/sensor_commands.h"

#include "device/driver_contract.h"

namespace vorsensor {
namespace {

// Registers and values of the power-up sequence and the capture commands.
constexpr uint8_t kModeRegister = 0x02;
constexpr uint8_t kModeKeepBits = 0x80;
constexpr uint8_t kModeSetBits = 0x14;
constexpr uint8_t kControlRegister = 0x07;
constexpr uint8_t kControlSetBits = 0x02;
constexpr uint8_t kLevelRegister = 0x05;
constexpr uint8_t kLevelValue = 0x7F;
constexpr uint8_t kTimingRegister = 0x0E;
constexpr uint8_t kTimingKeepBits = 0xE0;
constexpr uint8_t kTimingSetBits = 0x02;
constexpr uint8_t kBiasRegister = 0x4A;
constexpr uint8_t kBiasValue = 0xC6;
constexpr uint8_t kReadyRegister = 0x13;
constexpr uint8_t kReadyValue = 0x01;
constexpr uint8_t kCaptureRegister = 0x40;
constexpr uint8_t kCaptureArmed = 0x01;
constexpr uint8_t kCaptureIdle = 0x00;
constexpr uint8_t kStreamRegister = 0x41;
constexpr uint8_t kStreamRun = 0x00;
constexpr uint8_t kStreamIdle = 0x02;

// Reads a register and writes back (value AND keep) OR set; 0 when either request failed.
int32_t UpdateRegister(SensorDevice& device, uint8_t reg, uint8_t keep, uint8_t set) {
  uint8_t value = 0;
  if (ReadSensorRegister(device, reg, &value) == 0) {
    return 0;
  }
  return WriteSensorRegister(device, reg, static_cast<uint8_t>((value & keep) | set));
}

}  // namespace

int32_t ReadSensorRegister(SensorDevice& device, uint8_t reg, uint8_t* value) {
  uint8_t buffer[kRegisterReadBytes] = {reg};
  uint32_t returned = 0;
  const int32_t result = SensorRequest(device, kReadRegisterCode, buffer, sizeof buffer, buffer, sizeof buffer,
                                       &returned);
  *value = buffer[0];
  return result;
}

int32_t WriteSensorRegister(SensorDevice& device, uint8_t reg, uint8_t value) {
  const uint8_t buffer[kRegisterWriteBytes] = {reg, value};
  uint32_t returned = 0;
  const int32_t result = SensorRequest(device, kWriteRegisterCode, buffer, sizeof buffer, nullptr, 0, &returned);
  device.clock.Sleep(kRegisterWriteWaitMs);
  return result;
}

int32_t PowerUpSensor(SensorDevice& device) {
  const platform::LockHold hold(device.lock);
  const bool ok = UpdateRegister(device, kModeRegister, kModeKeepBits, kModeSetBits) != 0 &&
                  UpdateRegister(device, kControlRegister, 0xFF, kControlSetBits) != 0 &&
                  WriteSensorRegister(device, kLevelRegister, kLevelValue) != 0 &&
                  UpdateRegister(device, kTimingRegister, kTimingKeepBits, kTimingSetBits) != 0 &&
                  WriteSensorRegister(device, kBiasRegister, kBiasValue) != 0 &&
                  WriteSensorRegister(device, kReadyRegister, kReadyValue) != 0;
  if (!ok) {
    return 0;
  }
  device.clock.Sleep(kPowerUpSettleMs);
  return 1;
}

int32_t PrepareCapture(SensorDevice& device) {
  const platform::LockHold hold(device.lock);
  if (WriteSensorRegister(device, kCaptureRegister, kCaptureArmed) == 0) {
    return 0;
  }
  device.clock.Sleep(kPrepareCaptureWaitMs);
  return SensorRequest(device, kPrepareCaptureCode, nullptr, 0, nullptr, 0, nullptr);
}

int32_t StartCapture(SensorDevice& device) {
  const platform::LockHold hold(device.lock);
  if (WriteSensorRegister(device, kStreamRegister, kStreamRun) == 0) {
    return 0;
  }
  const int32_t started = SensorRequest(device, kStartStreamingCode, nullptr, 0, nullptr, 0, nullptr);
  device.clock.Sleep(kStartCaptureWaitMs);
  return started != 0 ? 1 : 0;
}

int32_t EndCapture(SensorDevice& device) {
  const platform::LockHold hold(device.lock);
  if (SensorRequest(device, kStopStreamingCode, nullptr, 0, nullptr, 0, nullptr) == 0) {
    return 0;
  }
  device.clock.Sleep(kEndCaptureWaitMs);
  return WriteSensorRegister(device, kCaptureRegister, kCaptureIdle) != 0 &&
                 WriteSensorRegister(device, kStreamRegister, kStreamIdle) != 0 &&
                 WriteSensorRegister(device, kReadyRegister, kReadyValue) != 0
             ? 1
             : 0;
}

}  // namespace vorsensor
