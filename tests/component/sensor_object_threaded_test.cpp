// The automation object's two threads under ThreadSanitizer: Verify and
// Identify on the host's thread while the worker enrols, StopCapture arriving
// at every request of a capture, and many Open / Close cycles.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "component/host_pump.h"
#include "support/object_rig.h"

namespace vorsensor::testing {
namespace {

sim::SensorScenario FingerOn() {
  sim::SensorScenario s = PlainScenario();
  s.fingerPlacedAt = 0;
  return s;
}

TEST(SensorObjectThreadedTest, VerifyAndIdentifyOnTheHostThreadWhileTheWorkerEnrols) {
  ObjectRig rig(FingerOn());
  std::vector<std::vector<uint8_t>> impressions;
  for (int i = 1; i <= 4; ++i) impressions.push_back(SynthImpression(3, i));
  const std::vector<uint8_t> other = SynthImpression(5, 1);
  EventLog log;
  rig.object.Advise(&log);
  rig.object.Open();
  // Two capture templates to compare while the enrolment runs.
  rig.sensor.driver.SetFingerImage(impressions[0].data());
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return log.events.size() == 1 && !rig.object.JobPending(); }, kJobPatienceMs));
  rig.sensor.driver.SetFingerImage(other.data());
  rig.object.VerifyCapture();
  ASSERT_TRUE(RunUntil([&] { return log.events.size() == 2 && !rig.object.JobPending(); }, kJobPatienceMs));
  const std::string same = log.events[0].second;
  const std::string different = log.events[1].second;

  // Each capture of the enrolment sees the next impression (the finger is
  // lifted and laid down again between captures).
  std::atomic<int32_t> captures{0};
  rig.sensor.driver.SetRequestHook([&](const sim::TraceEntry& e) {
    if (e.code != sim::kPrepare) return;
    const int32_t n = captures.fetch_add(1);
    rig.sensor.driver.LiftFinger();
    rig.sensor.driver.SetFingerImage(impressions[static_cast<size_t>(n) % impressions.size()].data());
    rig.sensor.driver.PlaceFinger();
  });
  rig.object.StartEnroll();
  int32_t answers = 0;
  int32_t wrong = 0;
  ASSERT_TRUE(RunUntil(
      [&] {
        wrong += rig.object.Verify(same, same) != 1;
        wrong += rig.object.Verify(same, different) != 0;
        wrong += rig.object.Identify(same, StringArray({different, same})) != 1;
        ++answers;
        return log.events.size() == 3;
      },
      kJobPatienceMs));
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(answers, 1);
  EXPECT_EQ(log.events[2].first, DATA_ENROLL);
  EXPECT_GE(captures.load(), 3);
  EXPECT_EQ(rig.object.Verify(log.events[2].second, same), 1);
  EXPECT_EQ(rig.object.Identify(log.events[2].second, StringArray({different, same})), 1);
}

TEST(SensorObjectThreadedTest, StopCaptureAtEveryRequestOfACaptureEndsTheJobWithoutAnEvent) {
  ObjectRig rig(PlainScenario());  // no finger: only a stop ends the job
  EventLog log;
  rig.object.Advise(&log);
  rig.object.Open();
  const std::thread::id host = std::this_thread::get_id();
  for (int32_t k = 1; k <= 40; ++k) {
    std::atomic<int32_t> requests{0};
    std::atomic<bool> reached{false};
    std::atomic<bool> stopping{false};
    rig.sensor.driver.SetRequestHook([&](const sim::TraceEntry&) {
      if (std::this_thread::get_id() == host) return;  // the stop's own requests
      if (requests.fetch_add(1) + 1 != k) return;
      reached = true;
      while (!stopping) std::this_thread::yield();
    });
    rig.object.VerifyCapture();
    ASSERT_TRUE(RunUntil([&] { return reached.load(); }, kJobPatienceMs)) << k;
    stopping = true;
    rig.object.StopCapture();
    ASSERT_TRUE(RunUntil([&] { return !rig.object.JobPending(); }, kJobPatienceMs)) << k;
    rig.sensor.driver.SetRequestHook(nullptr);
    EXPECT_FALSE(rig.sensor.driver.HandleOpen()) << k;
  }
  RunUntil([] { return false; }, 20);
  EXPECT_TRUE(log.events.empty());
}

int32_t ThreadCount() {
  int32_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
       !ec && it != std::filesystem::directory_iterator(); ++it) {
    ++n;
  }
  return n;
}

TEST(SensorObjectThreadedTest, AThousandOpenCloseCyclesLeaveNoThreadBehind) {
  ObjectRig rig(PlainScenario());
  // One cycle first: runtimes that start a thread of their own at the first
  // thread creation (ThreadSanitizer does) have it before the count.
  rig.object.Open();
  rig.object.Close();
  const int32_t threadsBefore = ThreadCount();
  const auto start = std::chrono::steady_clock::now();
  for (int32_t cycle = 0; cycle < 1000; ++cycle) {
    rig.object.Open();
    rig.object.Open();  // ignored
    if (cycle % 100 == 0) {
      rig.object.VerifyCapture();
      ASSERT_TRUE(RunUntil([&] { return rig.Requests(sim::kReadFrame) > 0; }, kJobPatienceMs));
      rig.object.StopCapture();
      rig.sensor.driver.ClearTrace();
    }
    rig.object.Close();
    ASSERT_FALSE(rig.object.IsOpen());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
  // A joined thread can stay listed for a moment after the join returns.
  EXPECT_TRUE(RunUntil([&] { return ThreadCount() == threadsBefore; }, 2000))
      << ThreadCount() << " threads, " << threadsBefore << " before";
}

}  // namespace
}  // namespace vorsensor::testing
