// A stop request from another thread while captures run: the device lock
// keeps every operation whole, so the driver only ever sees complete commands
// and the device ends closed. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "device/frame_acquisition.h"
#include "device/sensor_commands.h"
#include "support/sensor_rig.h"

namespace vorsensor::testing {
namespace {

TEST(SensorDeviceThreadedTest, StopRequestsFromAnotherThreadInterleaveOnlyWholeOperations) {
  SensorRig rig(PlainScenario());
  ASSERT_EQ(FindSensors(rig.device), 1);
  std::atomic<bool> done{false};
  std::atomic<int32_t> frames{0};
  std::thread worker([&] {
    std::vector<uint8_t> image(kImageBytes);
    for (int capture = 0; capture < 50; ++capture) {
      if (PrepareCapture(rig.device) != 0 && StartCapture(rig.device) != 0) {
        while (ReadFrame(rig.device, image.data()) == 1 && frames.fetch_add(1) % 3 != 2) {
        }
      }
      EndCapture(rig.device);
      CloseSensor(rig.device);
    }
    done = true;
  });
  int32_t stops = 0;
  while (!done) {
    EndCapture(rig.device);
    CloseSensor(rig.device);
    ++stops;
    std::this_thread::yield();
  }
  worker.join();
  EXPECT_FALSE(IsOpen(rig.device));
  EXPECT_FALSE(rig.driver.HandleOpen());
  // Every open is followed by the whole power-up before anything else.
  const std::vector<std::string> lines = rig.TakeLines();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != "open") continue;
    ASSERT_LT(i + 1, lines.size());
    EXPECT_EQ(lines[i + 1], "read 0x02 -> 0x80") << i;
  }
  EXPECT_GT(stops, 0);
}

}  // namespace
}  // namespace vorsensor::testing
