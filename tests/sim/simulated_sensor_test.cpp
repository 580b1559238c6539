// The simulated driver on its own: requests in the wrong state or with the
// wrong buffers fail, the finger follows the scenario's virtual times, and the
// request hook sees every request before it is served.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/virtual_clock.h"
#include "sim/sensor_contract.h"
#include "sim/simulated_sensor.h"

namespace vorsensor::testing {
namespace {

constexpr platform::DeviceClassId kClass = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};

struct Driver {
  platform::VirtualClock clock;
  sim::SimulatedSensor sensor{clock, kClass, [] {
                                sim::SensorScenario s;
                                s.presentSensors = 2;
                                return s;
                              }()};
  platform::DeviceHandle handle = platform::kClosedDevice;

  bool Write(uint8_t reg, uint8_t value) {
    const uint8_t in[2] = {reg, value};
    uint32_t n = 0;
    return sensor.ControlDevice(handle, sim::kWriteRegister, in, 2, nullptr, 0, &n);
  }
  bool Plain(uint32_t code) {
    uint32_t n = 0;
    return sensor.ControlDevice(handle, code, nullptr, 0, nullptr, 0, &n);
  }
  bool Frame(std::vector<uint8_t>& out, uint32_t* n) {
    return sensor.ControlDevice(handle, sim::kReadFrame, nullptr, 0, out.data(), static_cast<uint32_t>(out.size()), n);
  }
};

TEST(SimulatedSensorTest, RequestsFollowPowerPrepareAndStreamingStates) {
  Driver d;
  std::vector<uint8_t> frame(sim::kFrameBytes);
  uint32_t n = 0;
  EXPECT_FALSE(d.Plain(sim::kPrepare)) << "no handle";
  d.handle = d.sensor.OpenDevice(d.sensor.PathOf(1).c_str());
  ASSERT_NE(d.handle, platform::kClosedDevice);
  EXPECT_EQ(d.sensor.OpenDevice("\\\\?\\elsewhere"), platform::kClosedDevice);

  struct Step {
    const char* what;
    std::function<bool()> request;
    bool ok;
  };
  const std::vector<Step> steps = {
      {"frame before streaming", [&] { return d.Frame(frame, &n); }, false},
      {"stop without power", [&] { return d.Plain(sim::kStopStreaming); }, false},
      {"arm", [&] { return d.Write(0x40, 0x01); }, true},
      {"prepare without power", [&] { return d.Plain(sim::kPrepare); }, false},
      {"power", [&] { return d.Write(0x13, 0x01); }, true},
      {"start before prepare", [&] { return d.Plain(sim::kStartStreaming); }, false},
      {"prepare", [&] { return d.Plain(sim::kPrepare); }, true},
      {"start with stream register not 0", [&] { return d.Write(0x41, 0x02) && d.Plain(sim::kStartStreaming); }, false},
      {"start", [&] { return d.Write(0x41, 0x00) && d.Plain(sim::kStartStreaming); }, true},
      {"frame into a short buffer",
       [&] {
         std::vector<uint8_t> small(sim::kFrameBytes - 1);
         return d.Frame(small, &n);
       },
       false},
      {"frame", [&] { return d.Frame(frame, &n) && n == sim::kFrameBytes; }, true},
      {"register write with 3 bytes",
       [&] {
         const uint8_t in[3] = {0x40, 1, 0};
         return d.sensor.ControlDevice(d.handle, sim::kWriteRegister, in, 3, nullptr, 0, &n);
       },
       false},
      {"register read with 2 bytes",
       [&] {
         uint8_t buffer[2] = {0x13, 0};
         return d.sensor.ControlDevice(d.handle, sim::kReadRegister, buffer, 2, buffer, 2, &n);
       },
       false},
      {"unknown request", [&] { return d.Plain(sim::RequestCode(7)); }, false},
      {"stop", [&] { return d.Plain(sim::kStopStreaming); }, true},
      {"frame after stop", [&] { return d.Frame(frame, &n); }, false},
  };
  for (const Step& step : steps) EXPECT_EQ(step.request(), step.ok) << step.what;

  uint8_t buffer[11] = {0x13};
  ASSERT_TRUE(d.sensor.ControlDevice(d.handle, sim::kReadRegister, buffer, 11, buffer, 11, &n));
  EXPECT_EQ(buffer[0], 0x01);
  EXPECT_EQ(n, 11u);

  // A new handle makes the old one stale; closing ends power and streaming.
  const platform::DeviceHandle old = d.handle;
  d.handle = d.sensor.OpenDevice(d.sensor.PathOf(0).c_str());
  EXPECT_FALSE(d.sensor.ControlDevice(old, sim::kReadRegister, buffer, 11, buffer, 11, &n));
  EXPECT_FALSE(d.sensor.Powered());
  d.sensor.CloseDevice(d.handle);
  EXPECT_FALSE(d.sensor.HandleOpen());
  EXPECT_FALSE(d.Write(0x13, 0x01));
}

TEST(SimulatedSensorTest, TheFingerFollowsTheScenarioTimes) {
  platform::VirtualClock clock;
  sim::SensorScenario scenario;
  scenario.fingerPlacedAt = 1000;
  scenario.fingerLiftedAt = 2500;
  sim::SimulatedSensor sensor(clock, kClass, scenario);
  struct Case {
    uint64_t at;
    bool on;
  };
  for (const Case c : {Case{0, false}, Case{999, false}, Case{1000, true}, Case{2499, true}, Case{2500, false}}) {
    clock.Advance(c.at - clock.NowMilliseconds());
    EXPECT_EQ(sensor.FingerOnSensor(), c.on) << c.at;
  }
  sensor.PlaceFinger();
  clock.Advance(100000);
  EXPECT_TRUE(sensor.FingerOnSensor());
  sensor.LiftFinger();
  EXPECT_FALSE(sensor.FingerOnSensor());
}

TEST(SimulatedSensorTest, TheHookSeesEachRequestBeforeItIsServedAndFaultsCountPerCode) {
  Driver d;
  d.handle = d.sensor.OpenDevice(d.sensor.PathOf(0).c_str());
  d.sensor.AddFault({sim::kWriteRegister, 2, 2, sim::FaultKind::kError, 0, 0});
  std::vector<std::pair<int32_t, int32_t>> seen;
  d.sensor.SetRequestHook([&](const sim::TraceEntry& request) {
    seen.emplace_back(request.reg, request.value);
    // The register is not yet written when the hook runs.
    EXPECT_NE(d.sensor.Register(static_cast<uint8_t>(request.reg)), request.value);
  });
  std::vector<bool> results;
  for (uint8_t reg = 0x20; reg < 0x25; ++reg) results.push_back(d.Write(reg, 0x11));
  EXPECT_EQ(results, (std::vector<bool>{true, false, false, true, true}));
  EXPECT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[2], (std::pair<int32_t, int32_t>{0x22, 0x11}));
  // Unplugged: discovery finds nothing and opens fail; plugged back, both work.
  d.sensor.Unplug();
  int32_t found = 0;
  d.sensor.ListDeviceInterfaces(kClass, 16, [&](int32_t, const char*) { ++found; });
  EXPECT_EQ(found, 0);
  EXPECT_EQ(d.sensor.OpenDevice(d.sensor.PathOf(0).c_str()), platform::kClosedDevice);
  d.sensor.Replug();
  d.sensor.ListDeviceInterfaces(kClass, 16, [&](int32_t, const char*) { ++found; });
  EXPECT_EQ(found, 2);
  // Another class finds nothing.
  d.sensor.ListDeviceInterfaces(platform::DeviceClassId{}, 16, [&](int32_t, const char*) { ++found; });
  EXPECT_EQ(found, 2);
}

}  // namespace
}  // namespace vorsensor::testing
