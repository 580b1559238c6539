#pragma once
// A manual-reset event: once set it stays signalled, waking every waiter,
// until reset. An event object on Windows; a mutex and a condition variable
// elsewhere.
#include <cstdint>
#include <memory>

namespace vorsensor::platform {

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class ManualResetEvent {
 public:
  ManualResetEvent();  // non-signalled
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when the event is (or becomes) signalled within `milliseconds` of
  // real time; kWaitForever waits without limit.
  bool Wait(uint32_t milliseconds) const;
  // The system object (a HANDLE on Windows), for waits on several things.
  void* NativeHandle() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vorsensor::platform
