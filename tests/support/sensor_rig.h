#pragma once
// A sensor device on the simulated driver and a virtual clock, with every
// wait recorded in the driver's trace, for protocol tests.
#include <string>
#include <vector>

#include "device/driver_contract.h"
#include "device/sensor_device.h"
#include "platform/virtual_clock.h"
#include "sim/request_trace.h"
#include "sim/sensor_scenario.h"
#include "sim/simulated_sensor.h"

namespace vorsensor::testing {

struct SensorRig {
  explicit SensorRig(sim::SensorScenario scenario = {})
      : driver(clock, kSensorInterfaceClass, std::move(scenario)), device(driver, clock) {
    driver.RecordWaitsOf(clock);
  }
  // The trace lines since the last call, which clears the trace.
  std::vector<std::string> TakeLines() {
    std::vector<std::string> lines = sim::TraceLines(driver.Trace());
    driver.ClearTrace();
    return lines;
  }

  platform::VirtualClock clock;
  sim::SimulatedSensor driver;
  SensorDevice device;
};

// A scenario whose sensor registers start as a plausible sensor's would.
inline sim::SensorScenario PlainScenario(int32_t sensors = 1) {
  sim::SensorScenario scenario;
  scenario.presentSensors = sensors;
  scenario.initialRegisters = {{0x02, 0x80}, {0x07, 0x41}, {0x0E, 0xB7}};
  return scenario;
}

}  // namespace vorsensor::testing
