// The virtual clock: waits move its time at once, listeners see each wait,
// and several threads may wait on it together.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/device_io.h"
#include "platform/virtual_clock.h"

namespace vorsensor::testing {
namespace {

TEST(VirtualClockTest, WaitsAdvanceTimeAndReachTheListener) {
  platform::VirtualClock clock(1000);
  std::vector<std::pair<uint64_t, uint32_t>> waits;
  clock.SetWaitListener([&](uint64_t start, uint32_t ms) { waits.emplace_back(start, ms); });
  clock.Sleep(300);
  clock.Advance(699);
  EXPECT_EQ(clock.Seconds(), 1000);
  clock.Sleep(1);
  EXPECT_EQ(clock.Seconds(), 1001) << "whole seconds from the start";
  EXPECT_EQ(clock.NowMilliseconds(), 1000u);
  EXPECT_EQ(clock.SleptMilliseconds(), 301u);
  EXPECT_EQ(waits, (std::vector<std::pair<uint64_t, uint32_t>>{{0, 300}, {999, 1}}));
}

TEST(VirtualClockTest, ConcurrentWaitsAllCount) {
  platform::VirtualClock clock;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&clock] {
      for (int i = 0; i < 1000; ++i) clock.Sleep(100);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(clock.NowMilliseconds(), 400000u);
}

TEST(SystemDeviceIoTest, FindsNoSensorWithoutItsDriver) {
  platform::DeviceIo& io = platform::SystemDeviceIo();
  int32_t found = 0;
  EXPECT_TRUE(io.ListDeviceInterfaces(platform::DeviceClassId{}, 16, [&](int32_t, const char*) { ++found; }));
  EXPECT_EQ(found, 0);
  EXPECT_EQ(io.OpenDevice("\\\\?\\anything"), platform::kClosedDevice);
}

}  // namespace
}  // namespace vorsensor::testing
