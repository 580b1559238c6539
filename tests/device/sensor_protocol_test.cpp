// The request protocol of the sensor device, run against the simulated driver
// on a virtual clock: exact request orders with their waits, register values,
// failures closing the device, and discovery.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/frame_acquisition.h"
#include "device/sensor_commands.h"
#include "device/sensor_facade.h"
#include "support/sensor_rig.h"

namespace vorsensor::testing {
namespace {

using Lines = std::vector<std::string>;

// What the power-up writes with the plain scenario's registers (0x02 = 0x80,
// 0x07 = 0x41, 0x0E = 0xB7), waits included.
const Lines kPowerUp = {
    "open",
    "read 0x02 -> 0x80", "write 0x02 := 0x94", "wait 20",
    "read 0x07 -> 0x41", "write 0x07 := 0x43", "wait 20",
    "write 0x05 := 0x7F", "wait 20",
    "read 0x0E -> 0xB7", "write 0x0E := 0xA2", "wait 20",
    "write 0x4A := 0xC6", "wait 20",
    "write 0x13 := 0x01", "wait 20",
    "wait 150"};
const Lines kPrepare = {"write 0x40 := 0x01", "wait 20", "wait 500", "prepare"};
const Lines kStart = {"write 0x41 := 0x00", "wait 20", "start", "wait 500"};
const Lines kFrame = {"frame 101952", "wait 100"};
const Lines kEnd = {"stop", "wait 100", "write 0x40 := 0x00", "wait 20", "write 0x41 := 0x02", "wait 20",
                    "write 0x13 := 0x01", "wait 20"};
const Lines kClose = {"close", "wait 300"};

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class SensorProtocolTest : public ::testing::Test {
 protected:
  explicit SensorProtocolTest(sim::SensorScenario scenario = PlainScenario()) : rig_(std::move(scenario)) {
    EXPECT_EQ(FindSensors(rig_.device), 1);
    rig_.TakeLines();
  }
  SensorRig rig_;
  std::vector<uint8_t> image_ = std::vector<uint8_t>(kImageBytes, 0);
};

TEST_F(SensorProtocolTest, FullCaptureRunsTheExactRequestOrderAndTakes1310MsToTheFirstFrame) {
  ASSERT_NE(PrepareCapture(rig_.device), 0);
  ASSERT_EQ(StartCapture(rig_.device), 1);
  EXPECT_EQ(rig_.clock.NowMilliseconds(), 1310u);
  ASSERT_EQ(ReadFrame(rig_.device, image_.data()), 1);
  ASSERT_EQ(ReadFrame(rig_.device, image_.data()), 1);
  ASSERT_EQ(EndCapture(rig_.device), 1);
  ASSERT_EQ(CloseSensor(rig_.device), 1);
  EXPECT_EQ(rig_.TakeLines(), Join({kPowerUp, kPrepare, kStart, kFrame, kFrame, kEnd, kClose}));
  EXPECT_EQ(rig_.clock.NowMilliseconds(), 1310u + 2 * 100 + 160 + 300);
  EXPECT_FALSE(rig_.driver.HandleOpen());
}

TEST_F(SensorProtocolTest, EveryCaptureAfterACloseOpensAndPowersUpAgain) {
  for (int round = 0; round < 2; ++round) {
    ASSERT_NE(PrepareCapture(rig_.device), 0);
    ASSERT_EQ(CloseSensor(rig_.device), 1);
    EXPECT_EQ(rig_.TakeLines(), Join({kPowerUp, kPrepare, kClose})) << "round " << round;
  }
}

TEST(SensorPowerUpTest, ModeRegisterKeepsBit7AndTimingRegisterKeepsItsTopBits) {
  struct Case {
    uint8_t mode, modeAfter, timing, timingAfter;
  };
  const Case cases[] = {{0x80, 0x94, 0x00, 0x02}, {0xFF, 0x94, 0xFF, 0xE2}, {0x00, 0x14, 0x1F, 0x02},
                        {0x7F, 0x14, 0xA5, 0xA2}};
  for (const Case& c : cases) {
    sim::SensorScenario scenario = PlainScenario();
    scenario.initialRegisters[0x02] = c.mode;
    scenario.initialRegisters[0x0E] = c.timing;
    SensorRig rig(scenario);
    ASSERT_EQ(FindSensors(rig.device), 1);
    ASSERT_EQ(OpenSensor(rig.device, 0), 1);
    EXPECT_EQ(rig.driver.Register(0x02), c.modeAfter) << int{c.mode};
    EXPECT_EQ(rig.driver.Register(0x0E), c.timingAfter) << int{c.timing};
    EXPECT_EQ(rig.driver.Register(0x05), 0x7F);
    EXPECT_EQ(rig.driver.Register(0x4A), 0xC6);
    EXPECT_TRUE(rig.driver.Powered());
    // Open again: already open, nothing is sent.
    rig.TakeLines();
    EXPECT_EQ(OpenSensor(rig.device, 0), 1);
    EXPECT_TRUE(rig.TakeLines().empty());
  }
}

// A request failing inside the power-up ends the open with failure: the
// sequence never restarts from inside itself, whichever request fails, even
// when every later request would fail too.
TEST(SensorPowerUpTest, AFailedRequestInsideThePowerUpEndsTheOpen) {
  struct Case {
    uint32_t code;
    int32_t first;
    int32_t count;
    Lines expected;
  };
  const Case cases[] = {
      {kReadRegisterCode, 1, 1, {"open", "read 0x02 failed", "close", "wait 300"}},
      {kReadRegisterCode, 2, -1,
       {"open", "read 0x02 -> 0x80", "write 0x02 := 0x94", "wait 20", "read 0x07 failed", "close", "wait 300"}},
      {kWriteRegisterCode, 3, 1,
       {"open", "read 0x02 -> 0x80", "write 0x02 := 0x94", "wait 20", "read 0x07 -> 0x41", "write 0x07 := 0x43",
        "wait 20", "write 0x05 := 0x7F failed", "close", "wait 300", "wait 20"}},
      {0, 1, -1, {"open", "read 0x02 failed", "close", "wait 300"}},
  };
  for (const Case& c : cases) {
    sim::SensorScenario scenario = PlainScenario();
    scenario.faults.push_back({c.code, c.first, c.count, sim::FaultKind::kError, 0, 0});
    SensorRig rig(scenario);
    ASSERT_EQ(FindSensors(rig.device), 1);
    rig.TakeLines();
    EXPECT_EQ(OpenSensor(rig.device, 0), 0);
    EXPECT_EQ(rig.TakeLines(), c.expected) << "code " << c.code << " from " << c.first;
    EXPECT_FALSE(IsOpen(rig.device));
    EXPECT_FALSE(rig.device.poweringUp);
  }
}

TEST_F(SensorProtocolTest, AFailedRequestClosesAndTheNextCommandReopensWithAFreshPowerUp) {
  rig_.driver.AddFault({kPrepareCaptureCode, 1, 1, sim::FaultKind::kError, 0, 0});
  EXPECT_EQ(PrepareCapture(rig_.device), 0);
  EXPECT_EQ(rig_.TakeLines(), Join({kPowerUp, {"write 0x40 := 0x01", "wait 20", "wait 500", "prepare failed"},
                                    kClose}));
  EXPECT_FALSE(IsOpen(rig_.device));
  EXPECT_NE(PrepareCapture(rig_.device), 0);
  EXPECT_EQ(rig_.TakeLines(), Join({kPowerUp, kPrepare}));
}

TEST_F(SensorProtocolTest, FailedStopStreamingLeavesTheCaptureRegistersUnwritten) {
  ASSERT_NE(PrepareCapture(rig_.device), 0);
  ASSERT_EQ(StartCapture(rig_.device), 1);
  rig_.TakeLines();
  rig_.driver.AddFault({kStopStreamingCode, 1, 1, sim::FaultKind::kError, 0, 0});
  EXPECT_EQ(EndCapture(rig_.device), 0);
  EXPECT_EQ(rig_.TakeLines(), Join({{"stop failed"}, kClose}));
  EXPECT_EQ(rig_.driver.Register(0x40), 0x01);
}

TEST_F(SensorProtocolTest, StartCaptureWaits500MsEvenWhenStreamingFailsToStart) {
  ASSERT_NE(PrepareCapture(rig_.device), 0);
  rig_.TakeLines();
  rig_.driver.AddFault({kStartStreamingCode, 1, 1, sim::FaultKind::kError, 0, 0});
  const uint64_t before = rig_.clock.NowMilliseconds();
  EXPECT_EQ(StartCapture(rig_.device), 0);
  EXPECT_EQ(rig_.TakeLines(), Join({{"write 0x41 := 0x00", "wait 20", "start failed"}, kClose, {"wait 500"}}));
  EXPECT_EQ(rig_.clock.NowMilliseconds() - before, 20u + 300 + 500);
}

TEST_F(SensorProtocolTest, StreamingInTheWrongOrderFailsAtTheDriver) {
  // Without PrepareCapture the sensor is powered but not prepared.
  EXPECT_EQ(StartCapture(rig_.device), 0);
  EXPECT_EQ(rig_.TakeLines(), Join({kPowerUp, {"write 0x41 := 0x00", "wait 20", "start failed"}, kClose,
                                    {"wait 500"}}));
}

TEST_F(SensorProtocolTest, ReadFrameNeverOpensTheDevice) {
  std::vector<uint8_t> before = image_;
  EXPECT_EQ(ReadFrame(rig_.device, image_.data()), 0);
  EXPECT_TRUE(rig_.TakeLines().empty());
  EXPECT_EQ(image_, before);
}

TEST_F(SensorProtocolTest, FrameFaultsGiveTheSpecifiedResults) {
  struct Case {
    sim::FaultKind kind;
    uint32_t bytes;
    int32_t result;
    Lines expected;
  };
  const Case cases[] = {
      {sim::FaultKind::kShortRead, 1000, 1, {"frame 1000", "wait 100"}},
      {sim::FaultKind::kShortRead, 101951, 1, {"frame 101951", "wait 100"}},
      {sim::FaultKind::kError, 0, 0, {"frame failed", "close", "wait 300"}},
      {sim::FaultKind::kTimeout, 0, 0, {"frame failed", "close", "wait 300"}},
      {sim::FaultKind::kUnplug, 0, 0, {"frame failed", "close", "wait 300"}},
  };
  for (const Case& c : cases) {
    SensorRig rig(PlainScenario());
    ASSERT_EQ(FindSensors(rig.device), 1);
    ASSERT_NE(PrepareCapture(rig.device), 0);
    ASSERT_EQ(StartCapture(rig.device), 1);
    rig.TakeLines();
    rig.driver.AddFault({kReadFrameCode, 1, 1, c.kind, c.bytes, 2000});
    std::vector<uint8_t> image(kImageBytes, 7);
    const uint64_t before = rig.clock.NowMilliseconds();
    EXPECT_EQ(ReadFrame(rig.device, image.data()), c.result);
    EXPECT_EQ(rig.TakeLines(), c.expected);
    if (c.result == 1) {
      EXPECT_EQ(image, std::vector<uint8_t>(kImageBytes, 255)) << "a short read is the white image";
    } else {
      EXPECT_EQ(image, std::vector<uint8_t>(kImageBytes, 7)) << "a failed read leaves the image";
      EXPECT_FALSE(IsOpen(rig.device));
    }
    if (c.kind == sim::FaultKind::kTimeout) {
      EXPECT_EQ(rig.clock.NowMilliseconds() - before, 2000u + 300);
    }
    if (c.kind == sim::FaultKind::kUnplug) {
      // Gone for good: the next capture cannot even open it.
      EXPECT_EQ(PrepareCapture(rig.device), 0);
      EXPECT_EQ(rig.TakeLines(), (Lines{"open failed", "wait 20"})) << "a register write waits whatever happens";
    }
  }
}

TEST_F(SensorProtocolTest, CloseOnAClosedDeviceDoesNotWait) {
  EXPECT_EQ(CloseSensor(rig_.device), 1);
  EXPECT_EQ(rig_.clock.NowMilliseconds(), 0u);
  EXPECT_TRUE(rig_.TakeLines().empty());
}

TEST_F(SensorProtocolTest, AFailedOpenIsTriedAgainByTheNextRequest) {
  SensorRig rig([] {
    sim::SensorScenario s = PlainScenario();
    s.failingOpens = 1;
    return s;
  }());
  ASSERT_EQ(FindSensors(rig.device), 1);
  rig.TakeLines();
  EXPECT_EQ(PrepareCapture(rig.device), 0);
  EXPECT_EQ(rig.TakeLines(), (Lines{"open failed", "wait 20"}));
  EXPECT_NE(PrepareCapture(rig.device), 0);
  EXPECT_EQ(rig.TakeLines(), Join({kPowerUp, kPrepare}));
}

TEST_F(SensorProtocolTest, DiscoveryClosesAnOpenDeviceWithoutTheCloseWait) {
  ASSERT_EQ(OpenSensor(rig_.device, 0), 1);
  rig_.TakeLines();
  EXPECT_EQ(FindSensors(rig_.device), 1);
  EXPECT_EQ(rig_.TakeLines(), (Lines{"close", "discover 1"}));
  EXPECT_FALSE(IsOpen(rig_.device));
}

std::vector<std::string> PathTable(const SensorDevice& device) {
  std::vector<std::string> paths;
  for (const auto& slot : device.paths) paths.emplace_back(slot);
  return paths;
}

TEST(SensorDiscoveryTest, SixteenElementsAreTriedAndFailingOnesTakeNoSlot) {
  struct Case {
    int32_t present;
    std::map<int32_t, sim::DiscoveryStep> faults;
    std::vector<int32_t> expected;  // elements in slot order
  };
  using Step = sim::DiscoveryStep;
  std::vector<int32_t> first16;
  for (int32_t i = 0; i < 16; ++i) first16.push_back(i);
  const Case cases[] = {
      {0, {}, {}},
      {1, {}, {0}},
      {20, {}, first16},
      {20,
       {{0, Step::kDeviceInfo}, {2, Step::kDriverKey}, {5, Step::kInterface}, {15, Step::kInterfacePath},
        {17, Step::kDeviceInfo}},
       {1, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
      {3, {{1, Step::kInterfacePath}}, {0, 2}},
  };
  for (const Case& c : cases) {
    sim::SensorScenario scenario = PlainScenario(c.present);
    scenario.discoveryFaults = c.faults;
    SensorRig rig(scenario);
    // Stale contents must not survive a discovery.
    std::memset(rig.device.paths, 'x', sizeof rig.device.paths);
    EXPECT_EQ(FindSensors(rig.device), static_cast<int32_t>(c.expected.size()));
    EXPECT_EQ(rig.device.deviceCount, static_cast<int32_t>(c.expected.size()));
    std::vector<std::string> expected(kMaxSensors);
    for (size_t slot = 0; slot < c.expected.size(); ++slot) expected[slot] = rig.driver.PathOf(c.expected[slot]);
    EXPECT_EQ(PathTable(rig.device), expected) << c.present << " present";
    for (int32_t slot = static_cast<int32_t>(c.expected.size()); slot < kMaxSensors; ++slot) {
      for (const char byte : rig.device.paths[slot]) ASSERT_EQ(byte, 0);
    }
    if (c.expected.empty()) {
      // No sensor: every request fails before reaching the driver.
      rig.TakeLines();
      EXPECT_EQ(PrepareCapture(rig.device), 0);
      EXPECT_EQ(rig.TakeLines(), Lines{"wait 20"});
    }
  }
}

TEST(SensorDiscoveryTest, APathThatDoesNotFitItsSlotIsSkipped) {
  sim::SensorScenario scenario = PlainScenario(3);
  scenario.pathOverrides[0] = std::string(kSensorPathBytes, 'a');      // 512 characters: no room for the end
  scenario.pathOverrides[1] = std::string(kSensorPathBytes - 1, 'b');  // 511: fits exactly
  SensorRig rig(scenario);
  ASSERT_EQ(FindSensors(rig.device), 2);
  EXPECT_EQ(std::string(rig.device.paths[0]), scenario.pathOverrides[1]);
  EXPECT_EQ(std::string(rig.device.paths[1]), rig.driver.PathOf(2));
  EXPECT_EQ(OpenSensor(rig.device, 0), 1);
  EXPECT_EQ(OpenSensor(rig.device, 2), 0) << "beyond the count";
  EXPECT_EQ(OpenSensor(rig.device, -1), 0);
}

TEST(SensorDiscoveryTest, AnUnavailableDeviceSetFindsNothing) {
  sim::SensorScenario scenario = PlainScenario(2);
  scenario.discoveryUnavailable = true;
  SensorRig rig(scenario);
  EXPECT_EQ(FindSensors(rig.device), 0);
}

TEST(SensorFacadeTest, FunctionsForwardToTheInstalledDevice) {
  SensorRig rig(PlainScenario(3));
  EXPECT_EQ(InstallProcessSensorDevice(&rig.device), nullptr);
  EXPECT_EQ(&ProcessSensorDevice(), &rig.device);
  EXPECT_EQ(FindSensors(), 1) << "three sensors still answer 1";
  EXPECT_NE(PrepareCapture(), 0);
  EXPECT_EQ(StartCapture(), 1);
  std::vector<uint8_t> image(kImageBytes);
  EXPECT_EQ(ReadFrame(image.data()), 1);
  EXPECT_EQ(HasFinger(kImageWidth, kImageHeight, image.data()), 0);
  EXPECT_EQ(EndCapture(), 1);
  EXPECT_EQ(CloseSensor(), 1);
  EXPECT_FALSE(rig.driver.HandleOpen());
  EXPECT_EQ(InstallProcessSensorDevice(nullptr), &rig.device);
  // The system device on this platform finds no sensor.
  EXPECT_EQ(FindSensors(), 0);
  EXPECT_EQ(PrepareCapture(), 0);
}

}  // namespace
}  // namespace vorsensor::testing
