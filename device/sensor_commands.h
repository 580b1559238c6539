#pragma once
// The sensor's commands over SensorRequest: 8-bit register access, the
// power-up sequence run at every open, and the three commands that bracket a
// capture. Each has fixed waits that are part of the protocol with the sensor.
#include <cstdint>

#include "device/sensor_device.h"

namespace vorsensor {

constexpr uint32_t kRegisterWriteWaitMs = 20;
constexpr uint32_t kPowerUpSettleMs = 150;
constexpr uint32_t kPrepareCaptureWaitMs = 500;
constexpr uint32_t kStartCaptureWaitMs = 500;
constexpr uint32_t kEndCaptureWaitMs = 100;

// Stores the register's value (byte 0 of the request buffer) into *value
// whether or not the request succeeded; returns the request's result.
int32_t ReadSensorRegister(SensorDevice& device, uint8_t reg, uint8_t* value);
// Writes the register and waits 20 ms whatever the outcome; nonzero on success.
int32_t WriteSensorRegister(SensorDevice& device, uint8_t reg, uint8_t value);
// The register sequence that follows every open, then 150 ms. 1 when every
// request succeeded; it stops at the first failed request (read or write), and
// the device is closed then.
int32_t PowerUpSensor(SensorDevice& device);

int32_t PrepareCapture(SensorDevice& device);
// Waits 500 ms after starting the stream even when the start failed.
int32_t StartCapture(SensorDevice& device);
int32_t EndCapture(SensorDevice& device);

}  // namespace vorsensor
