// The automation object on the simulated sensor and a virtual clock: requests
// on a closed object, the display value, dropped requests, Close during and
// after a capture, reopening, events to several sinks, time-outs, captures
// without a template and an enrolment run that fails.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "component/capture_cycle.h"
#include "component/host_pump.h"
#include "engine/engine_configuration.h"
#include "platform/display_surface.h"
#include "support/object_rig.h"

namespace vorsensor::testing {
namespace {

bool IsTemplateText(const std::string& text) {
  if (text.size() != 1000) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// A rig with impression `impression` of finger `finger` on the sensor from
// the start (or from `placedAt` ms of virtual time).
sim::SensorScenario FingerScenario(uint64_t placedAt = 0) {
  sim::SensorScenario scenario = PlainScenario();
  scenario.fingerPlacedAt = placedAt;
  return scenario;
}

TEST(SensorObjectTest, RequestsOnAClosedObjectDoNothing) {
  ObjectRig rig(FingerScenario());
  EventLog log;
  rig.object.Advise(&log);
  rig.object.StartEnroll();
  rig.object.VerifyCapture();
  rig.object.IdentifyCapture();
  rig.object.StopCapture();
  rig.object.Close();
  PumpMessages();
  EXPECT_FALSE(rig.object.IsOpen());
  EXPECT_FALSE(rig.object.JobPending());
  EXPECT_TRUE(rig.sensor.driver.Trace().empty());
  EXPECT_TRUE(log.events.empty());
  // Verify and Identify answer without looking at their arguments.
  EXPECT_EQ(rig.object.Verify("00", "00"), 0);
  EXPECT_EQ(rig.object.Identify("00", StringArray({"00"})), -1);
}

TEST(SensorObjectTest, SetDisplayReturnsThePreviousValueOpenOrClosed) {
  ObjectRig rig;
  EXPECT_EQ(rig.object.SetDisplay(17), 0);
  EXPECT_EQ(rig.object.SetDisplay(-5), 17);
  rig.object.Open();
  EXPECT_EQ(rig.object.SetDisplay(0), -5);
  rig.object.Close();
  EXPECT_EQ(rig.object.SetDisplay(3), 0);
}

TEST(SensorObjectTest, AVerificationCaptureSendsOneEventAndDrawsTheImageTwice) {
  ObjectRig rig(FingerScenario());
  rig.LayFinger(1, 1);
  platform::DisplaySurface surface(512, 576, 8);
  rig.object.SetDisplay(static_cast<int32_t>(surface.handle()));
  EventLog log;
  rig.object.Advise(&log);
  rig.object.Open();
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return !log.events.empty(); }, kJobPatienceMs));
  EXPECT_EQ(log.events[0].first, DATA_VERIFY_CAPTURE);
  EXPECT_TRUE(IsTemplateText(log.events[0].second));
  ASSERT_TRUE(RunUntil([&] { return !rig.object.JobPending(); }, kJobPatienceMs));
  EXPECT_EQ(log.events.size(), 1u);
  // The grey image, then the binary one (only black and white).
  const std::vector<platform::DisplayFrame> frames = surface.TakeFrames();
  ASSERT_EQ(frames.size(), 2u);
  int32_t others = 0;
  for (uint8_t p : frames[1].pixels) others += p != 0 && p != 255;
  EXPECT_EQ(others, 0);
  int32_t greys = 0;
  for (uint8_t p : frames[0].pixels) greys += p != 0 && p != 255;
  EXPECT_GT(greys, 0);
  // Two captures of the same finger match; the identification capture of
  // another finger is found nowhere in a list of the first.
  rig.object.IdentifyCapture();
  ASSERT_TRUE(RunUntil([&] { return log.events.size() == 2; }, kJobPatienceMs));
  EXPECT_EQ(log.events[1].first, DATA_IDENTIFY_CAPTURE);
  EXPECT_EQ(rig.object.Verify(log.events[0].second, log.events[1].second), 1);
  ASSERT_TRUE(RunUntil([&] { return !rig.object.JobPending(); }, kJobPatienceMs));
  rig.LayFinger(4, 2);
  rig.object.IdentifyCapture();
  ASSERT_TRUE(RunUntil([&] { return log.events.size() == 3; }, kJobPatienceMs));
  EXPECT_EQ(rig.object.Verify(log.events[0].second, log.events[2].second), 0);
  EXPECT_EQ(rig.object.Identify(log.events[2].second, StringArray({log.events[2].second})), 0);
  EXPECT_EQ(rig.object.Identify(log.events[2].second, StringArray({log.events[0].second, log.events[1].second})),
            -1);
}

TEST(SensorObjectTest, ASecondRequestDuringACaptureGivesOneEventAtMost) {
  ObjectRig rig(FingerScenario());
  rig.LayFinger(2, 1);
  Gate gate;
  rig.sensor.driver.SetRequestHook([&](const sim::TraceEntry& e) {
    if (e.code == sim::kPrepare) gate.Arrive();
  });
  EventLog log;
  rig.object.Advise(&log);
  rig.object.Open();
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return gate.Arrived(); }, kJobPatienceMs));
  rig.object.VerifyCapture();
  rig.object.StartEnroll();
  gate.Open();
  ASSERT_TRUE(RunUntil([&] { return !log.events.empty() && !rig.object.JobPending(); }, kJobPatienceMs));
  RunUntil([] { return false; }, 100);
  ASSERT_EQ(log.events.size(), 1u);
  EXPECT_EQ(log.events[0].first, DATA_VERIFY_CAPTURE);
  EXPECT_EQ(rig.Requests(sim::kPrepare), 1);
}

TEST(SensorObjectTest, CloseDuringACaptureWaitsForItsEndAndSendsNothing) {
  ObjectRig rig(FingerScenario(20000));
  rig.LayFinger(3, 1);
  EventLog log;
  rig.object.Advise(&log);
  rig.object.Open();
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return rig.Requests(sim::kReadFrame) > 0; }, kJobPatienceMs));
  rig.object.Close();
  // The capture ran until the finger came, then ended its streaming.
  EXPECT_GE(rig.sensor.clock.NowMilliseconds(), 20000u);
  EXPECT_GE(rig.Requests(sim::kStopStreaming), 1);
  EXPECT_FALSE(rig.sensor.driver.HandleOpen());
  PumpMessages();
  EXPECT_TRUE(log.events.empty());
}

TEST(SensorObjectTest, CloseAfterStopCaptureReturnsPromptlyAndOpenAgainWorks) {
  ObjectRig rig(PlainScenario());  // no finger
  rig.LayFinger(3, 2);
  EventLog log;
  rig.object.Advise(&log);
  rig.object.Open();
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return rig.Requests(sim::kReadFrame) > 2; }, kJobPatienceMs));
  rig.object.StopCapture();
  const auto start = std::chrono::steady_clock::now();
  rig.object.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(log.events.empty());
  // A fresh window and worker: the next capture is delivered.
  rig.object.Open();
  rig.sensor.driver.PlaceFinger();
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return !log.events.empty(); }, kJobPatienceMs));
  EXPECT_EQ(log.events[0].first, DATA_VERIFY_CAPTURE);
  EXPECT_TRUE(IsTemplateText(log.events[0].second));
}

// A sink that calls back into the object from inside DataEvent.
class ActingSink : public DataEventSink {
 public:
  explicit ActingSink(std::function<void()> action) : action_(std::move(action)) {}
  void DataEvent(int32_t, const std::string&) override {
    ++calls;
    action_();
  }
  int32_t calls = 0;

 private:
  std::function<void()> action_;
};

TEST(SensorObjectTest, ARequestFromInsideDataEventStartsNoJobAndEverySinkGetsTheEvent) {
  ObjectRig rig(FingerScenario());
  rig.LayFinger(5, 1);
  ActingSink requesting([&] { rig.object.VerifyCapture(); });
  EventLog first;
  EventLog second;
  EventLog removed;
  rig.object.Advise(&first);
  const uint32_t cookie = rig.object.Advise(&removed);
  rig.object.Advise(&requesting);
  rig.object.Advise(&second);
  EXPECT_TRUE(rig.object.Unadvise(cookie));
  EXPECT_FALSE(rig.object.Unadvise(cookie));
  rig.object.Open();
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return requesting.calls > 0 && !rig.object.JobPending(); }, kJobPatienceMs));
  RunUntil([] { return false; }, 100);
  EXPECT_EQ(requesting.calls, 1);
  EXPECT_EQ(rig.Requests(sim::kPrepare), 1);
  ASSERT_EQ(first.events.size(), 1u);
  EXPECT_EQ(first.events, second.events);
  EXPECT_TRUE(removed.events.empty());
}

TEST(SensorObjectTest, NoFingerForMoreThanThirtySecondsStartsANewCycleWithoutAnEvent) {
  ObjectRig rig(FingerScenario(45000));
  rig.LayFinger(6, 1);
  EventLog log;
  rig.object.Advise(&log);
  rig.object.Open();
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return !log.events.empty(); }, kJobPatienceMs));
  EXPECT_EQ(log.events.size(), 1u);
  EXPECT_EQ(rig.Requests(sim::kPrepare), 2);
  // The first cycle gave up only after more than 30 whole seconds of frames.
  std::vector<uint64_t> prepares;
  uint64_t firstFrame = 0;
  for (const sim::TraceEntry& e : rig.sensor.driver.Trace()) {
    if (e.kind != sim::TraceKind::kRequest) continue;
    if (e.code == sim::kPrepare) prepares.push_back(e.timeMs);
    if (e.code == sim::kReadFrame && firstFrame == 0) firstFrame = e.timeMs;
  }
  ASSERT_EQ(prepares.size(), 2u);
  EXPECT_GT(prepares[1] - firstFrame, 30000u);
  EXPECT_LT(prepares[1] - firstFrame, 33000u);
}

TEST(SensorObjectTest, ACaptureWithoutATemplateStillSendsItsEventWithEmptyText) {
  ObjectRig rig(FingerScenario());
  rig.LayFinger(1, 2);
  EventLog log;
  rig.object.Advise(&log);
  rig.object.Open();
  // With the engine stopped, extraction makes no template.
  ASSERT_GE(ReleaseEngine(), 0);
  rig.object.IdentifyCapture();
  const bool delivered = RunUntil([&] { return !log.events.empty(); }, kJobPatienceMs);
  InitEngine();
  ASSERT_TRUE(delivered);
  EXPECT_EQ(log.events[0].first, DATA_IDENTIFY_CAPTURE);
  EXPECT_EQ(log.events[0].second, "");
}

TEST(SensorObjectTest, AFailedEnrolmentKeepsCapturingUntilStopCapture) {
  ObjectRig rig(FingerScenario());
  // Dark and featureless: a finger to the sensor, rejected by enrolment.
  const std::vector<uint8_t> dark(static_cast<size_t>(kCaptureImageBytes), 40);
  rig.sensor.driver.SetFingerImage(dark.data());
  platform::DisplaySurface surface(64, 72, 64);
  rig.object.SetDisplay(static_cast<int32_t>(surface.handle()));
  EventLog log;
  rig.object.Advise(&log);
  rig.object.Open();
  rig.object.StartEnroll();
  // Twelve steps end any run; the job goes on capturing beyond them.
  ASSERT_TRUE(RunUntil([&] { return rig.Requests(sim::kPrepare) >= 15; }, kJobPatienceMs));
  EXPECT_TRUE(rig.object.JobPending());
  rig.object.StopCapture();
  ASSERT_TRUE(RunUntil([&] { return !rig.object.JobPending(); }, kJobPatienceMs));
  RunUntil([] { return false; }, 50);
  EXPECT_TRUE(log.events.empty());
  // Every capture found the finger and was drawn in grey; none completed a run.
  const std::vector<platform::DisplayFrame> frames = surface.TakeFrames();
  EXPECT_GE(frames.size(), 14u);
  for (const platform::DisplayFrame& f : frames) EXPECT_EQ(f.pixels[0], 40);
  // The worker takes the next request.
  rig.LayFinger(2, 2);
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return !log.events.empty(); }, kJobPatienceMs));
  EXPECT_TRUE(IsTemplateText(log.events[0].second));
}

TEST(SensorObjectTest, WithoutASensorTheWorkerEndsAtOnceAndCloseDoesNotWaitForIt) {
  ObjectRig rig(PlainScenario(0));
  EventLog log;
  rig.object.Advise(&log);
  for (int round = 0; round < 3; ++round) {
    rig.object.Open();
    EXPECT_TRUE(rig.object.IsOpen());
    rig.object.VerifyCapture();  // accepted, never answered
    RunUntil([] { return false; }, 20);
    const auto start = std::chrono::steady_clock::now();
    rig.object.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  EXPECT_TRUE(log.events.empty());
}

TEST(SensorObjectTest, CloseFromInsideDataEventDoesNotBlockAndTheObjectOpensAgain) {
  ObjectRig rig(FingerScenario());
  rig.LayFinger(4, 3);
  ActingSink closing([&] { rig.object.Close(); });
  EventLog log;
  rig.object.Advise(&closing);
  rig.object.Advise(&log);
  rig.object.Open();
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return closing.calls == 1; }, kJobPatienceMs));
  EXPECT_FALSE(rig.object.IsOpen());
  EXPECT_EQ(log.events.size(), 1u);  // the sinks after the closing one still get the event
  rig.object.Open();
  EXPECT_TRUE(rig.object.IsOpen());
  rig.object.IdentifyCapture();
  ASSERT_TRUE(RunUntil([&] { return closing.calls == 2; }, kJobPatienceMs));
  EXPECT_EQ(log.events.size(), 2u);
  EXPECT_EQ(log.events[1].first, DATA_IDENTIFY_CAPTURE);
}

}  // namespace
}  // namespace vorsensor::testing
