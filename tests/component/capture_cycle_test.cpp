// The capture cycle on the simulated sensor: the time-out in whole seconds
// (strictly more than timeoutMs / 1000 must pass), a stop already requested,
// and device failures, each with the image it leaves.
#include "component/capture_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/object_rig.h"

namespace vorsensor::testing {
namespace {

class CaptureCycleTest : public ::testing::Test {
 protected:
  CaptureCycleTest() : state_(rig_.sensor.clock) {}
  void SetUp() override { ASSERT_EQ(FindSensors(), 1); }

  int32_t Capture(int32_t timeoutMs) {
    image_.assign(kCaptureImageBytes, 7);
    width_ = height_ = 0;
    return CaptureFinger(state_, image_.data(), timeoutMs, &width_, &height_);
  }
  bool ImageBlank() const {
    return std::all_of(image_.begin(), image_.end(), [](uint8_t p) { return p == kBlankPixel; });
  }
  std::vector<uint64_t> FrameTimes() const {
    std::vector<uint64_t> times;
    for (const sim::TraceEntry& e : rig_.sensor.driver.Trace()) {
      if (e.kind == sim::TraceKind::kRequest && e.code == sim::kReadFrame) times.push_back(e.timeMs);
    }
    return times;
  }

  ObjectRig rig_{PlainScenario()};
  SensorState state_;
  std::vector<uint8_t> image_;
  int32_t width_ = 0;
  int32_t height_ = 0;
};

TEST_F(CaptureCycleTest, TimesOutOnlyOnceMoreWholeSecondsThanAllowedHavePassed) {
  // The seconds counter is read when the cycle starts (at its first frame)
  // and after each frame's 100 ms pause.
  for (const int32_t timeoutMs : {0, 999, 1000, 1999, 2000, 30000}) {
    rig_.sensor.driver.ClearTrace();
    ASSERT_EQ(Capture(timeoutMs), kCaptureTimedOut) << timeoutMs;
    EXPECT_TRUE(ImageBlank());
    const std::vector<uint64_t> frames = FrameTimes();
    ASSERT_FALSE(frames.empty());
    const int64_t allowance = timeoutMs / 1000;
    const auto secondsAt = [](uint64_t ms) { return static_cast<int64_t>(ms / 1000); };
    const int64_t start = secondsAt(frames.front());
    const uint64_t lastCheck = frames.back() + 100;
    EXPECT_EQ(secondsAt(lastCheck) - start, allowance + 1) << timeoutMs;
    EXPECT_LE(secondsAt(lastCheck - 100) - start, allowance) << timeoutMs;
    EXPECT_FALSE(rig_.sensor.driver.HandleOpen());
  }
}

TEST_F(CaptureCycleTest, AFingerGivesTheImageAndItsSize) {
  const std::vector<uint8_t> finger = SynthImpression(1, 3);
  rig_.sensor.driver.SetFingerImage(finger.data());
  rig_.sensor.driver.PlaceFinger();
  ASSERT_EQ(Capture(kCaptureTimeoutMs), kCaptureDone);
  EXPECT_EQ(width_, 256);
  EXPECT_EQ(height_, 288);
  EXPECT_FALSE(ImageBlank());
  EXPECT_FALSE(rig_.sensor.driver.HandleOpen());
}

TEST_F(CaptureCycleTest, AStopAlreadyRequestedCancelsBeforeTheSensorIsTouched) {
  state_.cancel.store(1);
  rig_.sensor.driver.ClearTrace();
  EXPECT_EQ(Capture(kCaptureTimeoutMs), kCaptureCancelled);
  EXPECT_TRUE(ImageBlank());
  EXPECT_TRUE(rig_.sensor.driver.Trace().empty());
}

TEST_F(CaptureCycleTest, DeviceFailuresGiveZeroAndLeaveTheImage) {
  struct Case {
    uint32_t code;
    sim::FaultKind kind;
  };
  for (const Case c : {Case{sim::kPrepare, sim::FaultKind::kError}, Case{sim::kStartStreaming, sim::FaultKind::kError},
                       Case{sim::kReadFrame, sim::FaultKind::kError}, Case{sim::kReadFrame, sim::FaultKind::kUnplug}}) {
    sim::RequestFault fault;
    fault.code = c.code;
    fault.kind = c.kind;
    fault.first = 1;
    // Faults count requests per code from the driver's start, so each case
    // gets a fresh rig.
    ObjectRig rig(PlainScenario());
    rig.sensor.driver.AddFault(fault);
    SensorState state(rig.sensor.clock);
    ASSERT_EQ(FindSensors(), 1);
    std::vector<uint8_t> image(kCaptureImageBytes, 7);
    int32_t w = 0;
    int32_t h = 0;
    EXPECT_EQ(CaptureFinger(state, image.data(), kCaptureTimeoutMs, &w, &h), kCaptureFailed) << c.code;
    EXPECT_EQ(image[0], 7);
    EXPECT_EQ(w, 0);
  }
}

}  // namespace
}  // namespace vorsensor::testing
