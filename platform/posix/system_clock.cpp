// The real clock on POSIX systems: steady time for waits, the C library's time().
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/clock.h"

namespace vorsensor::platform {
namespace {

class PosixClock final : public Clock {
 public:
  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  uint64_t NowMilliseconds() const override {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
  }
  int64_t Seconds() const override { return static_cast<int64_t>(std::time(nullptr)); }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace vorsensor::platform
