#pragma once
// What the module's objects run on. The product reaches the sensor through
// the system's device I/O and the real clock (product_device_layer.cpp). The
// test build VorSensorNSimTest.dll puts the simulated sensor and a virtual
// clock in their place (simulated_device_layer.cpp); it refuses registration,
// so it can only be loaded by a test that asks for it by file name.
#include "platform/clock.h"

namespace vorsensor::com {

// Readies the device layer (once) and returns the clock objects run on.
platform::Clock& PrepareDeviceLayer();
// False for the test build: it never writes itself into the registry.
bool DeviceLayerRegisters();

}  // namespace vorsensor::com
