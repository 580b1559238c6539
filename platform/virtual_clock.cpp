#include "platform/virtual_clock.h"

namespace vorsensor::platform {

namespace {
constexpr uint64_t kMillisecondsPerSecond = 1000;
}  // namespace

void VirtualClock::Sleep(uint32_t milliseconds) {
  const uint64_t start = now_.fetch_add(milliseconds, std::memory_order_acq_rel);
  slept_.fetch_add(milliseconds, std::memory_order_acq_rel);
  if (listener_) {
    listener_(start, milliseconds);
  }
}

int64_t VirtualClock::Seconds() const {
  return startSeconds_ + static_cast<int64_t>(NowMilliseconds() / kMillisecondsPerSecond);
}

}  // namespace vorsensor::platform
