// Device faults in the middle of a job: failed, short and late frame reads and
// an unplugged sensor are never reported; the job captures again until it
// has its image (or is stopped), and a template already delivered stays whole.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "component/host_pump.h"
#include "support/object_rig.h"

namespace vorsensor::testing {
namespace {

class ObjectFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    finger_ = SynthImpression(2, 3);
    ASSERT_FALSE(finger_.empty());
    rig_.sensor.driver.SetFingerImage(finger_.data());
    rig_.object.Advise(&log_);
    rig_.object.Open();
    // A first template, delivered before anything goes wrong.
    rig_.object.VerifyCapture();
    ASSERT_TRUE(RunUntil([&] { return log_.events.size() == 1 && !rig_.object.JobPending(); }, kJobPatienceMs));
    delivered_ = log_.events[0].second;
    ASSERT_EQ(delivered_.size(), 1000u);
  }

  ObjectRig rig_{[] {
    sim::SensorScenario s = PlainScenario();
    s.fingerPlacedAt = 0;
    return s;
  }()};
  std::vector<uint8_t> finger_;
  EventLog log_;
  std::string delivered_;
};

TEST_F(ObjectFaultsTest, FailedShortAndLateFrameReadsEndInOneGoodTemplate) {
  const int32_t framesSoFar = rig_.Requests(sim::kReadFrame);
  const auto fault = [&](sim::FaultKind kind, int32_t first, int32_t count) {
    sim::RequestFault f;
    f.code = sim::kReadFrame;
    f.first = framesSoFar + first;
    f.count = count;
    f.kind = kind;
    f.bytes = 1000;
    f.delayMs = 500;
    return f;
  };
  rig_.sensor.driver.AddFault(fault(sim::FaultKind::kError, 1, 2));
  rig_.sensor.driver.AddFault(fault(sim::FaultKind::kShortRead, 3, 2));
  rig_.sensor.driver.AddFault(fault(sim::FaultKind::kTimeout, 5, 1));
  rig_.object.IdentifyCapture();
  ASSERT_TRUE(RunUntil([&] { return log_.events.size() == 2 && !rig_.object.JobPending(); }, kJobPatienceMs));
  EXPECT_EQ(log_.events[1].first, DATA_IDENTIFY_CAPTURE);
  EXPECT_EQ(log_.events[0].second, delivered_);
  EXPECT_EQ(rig_.object.Verify(delivered_, log_.events[1].second), 1);
  // Three cycles ended by the failing reads before one found the finger.
  EXPECT_GE(rig_.Requests(sim::kPrepare), 1 + 4);
}

TEST_F(ObjectFaultsTest, AnUnpluggedSensorIsRetriedUntilItIsBackOrTheJobIsStopped) {
  std::atomic<bool> unplug{true};
  rig_.sensor.driver.SetRequestHook([&](const sim::TraceEntry& e) {
    if (e.code == sim::kReadFrame && unplug.exchange(false)) rig_.sensor.driver.Unplug();
  });
  rig_.object.VerifyCapture();
  const uint64_t start = rig_.sensor.clock.NowMilliseconds();
  ASSERT_TRUE(RunUntil([&] { return rig_.sensor.clock.NowMilliseconds() > start + 5000; }, kJobPatienceMs));
  EXPECT_TRUE(rig_.object.JobPending());
  EXPECT_EQ(log_.events.size(), 1u);
  rig_.sensor.driver.Replug();
  ASSERT_TRUE(RunUntil([&] { return log_.events.size() == 2; }, kJobPatienceMs));
  EXPECT_EQ(rig_.object.Verify(delivered_, log_.events[1].second), 1);

  // Unplugged again, the job is ended by StopCapture and sends nothing.
  ASSERT_TRUE(RunUntil([&] { return !rig_.object.JobPending(); }, kJobPatienceMs));
  unplug = true;
  rig_.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return !unplug.load(); }, kJobPatienceMs));
  rig_.object.StopCapture();
  ASSERT_TRUE(RunUntil([&] { return !rig_.object.JobPending(); }, kJobPatienceMs));
  EXPECT_EQ(log_.events.size(), 2u);
  EXPECT_EQ(log_.events[0].second, delivered_);
}

}  // namespace
}  // namespace vorsensor::testing
