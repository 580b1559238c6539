#pragma once
// A clock whose time moves only when someone waits on it or advances it. Sleep
// returns at once after adding the wait to the time, so a 1310 ms start-up
// takes microseconds. Safe to use from several threads: the time is one atomic
// counter. A wait listener (set before other threads use the clock) sees every
// Sleep with the time it started at, which is how protocol traces show waits.
#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace vorsensor::platform {

class VirtualClock final : public Clock {
 public:
  using WaitListener = std::function<void(uint64_t startMilliseconds, uint32_t milliseconds)>;

  // startSeconds is what Seconds() reports at virtual time 0.
  explicit VirtualClock(int64_t startSeconds = kDefaultStartSeconds) : startSeconds_(startSeconds) {}

  void Sleep(uint32_t milliseconds) override;
  uint64_t NowMilliseconds() const override { return now_.load(std::memory_order_acquire); }
  int64_t Seconds() const override;

  // Moves the time forward without counting as a wait.
  void Advance(uint64_t milliseconds) { now_.fetch_add(milliseconds, std::memory_order_acq_rel); }
  // Total of every Sleep so far.
  uint64_t SleptMilliseconds() const { return slept_.load(std::memory_order_acquire); }
  void SetWaitListener(WaitListener listener) { listener_ = std::move(listener); }

  static constexpr int64_t kDefaultStartSeconds = 1700000000;

 private:
  int64_t startSeconds_;
  std::atomic<uint64_t> now_{0};
  std::atomic<uint64_t> slept_{0};
  WaitListener listener_;
};

}  // namespace vorsensor::platform
