#pragma once
// The process-wide sensor: the thin functions through which the rest of the
// system reaches the one SensorDevice. Until a host installs another device
// (the simulated sensor, in tests and on systems without the sensor's
// driver), it is one built on the system's device I/O and clock.
#include <cstdint>

#include "device/finger_detection.h"
#include "device/sensor_device.h"

namespace vorsensor {

// The device the functions below forward to.
SensorDevice& ProcessSensorDevice();
// Makes `device` the process-wide one (nullptr: the system one again) and
// returns the one installed before (nullptr when it was the system one).
// The caller keeps `device` alive while it is installed.
SensorDevice* InstallProcessSensorDevice(SensorDevice* device);

// 1 when at least one sensor was found, else 0.
int32_t FindSensors();
// Always 1.
int32_t CloseSensor();
// Nonzero on success.
int32_t PrepareCapture();
// 1 or 0.
int32_t StartCapture();
// 1 or 0; fills the 256 x 288 image.
int32_t ReadFrame(uint8_t* image);
// 1 or 0.
int32_t EndCapture();
// HasFinger (finger_detection.h) needs no device and is called directly.

}  // namespace vorsensor
