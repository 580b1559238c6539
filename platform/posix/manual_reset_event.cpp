#include "platform/manual_reset_event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vorsensor::platform {

struct ManualResetEvent::State {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool signalled = false;
};

ManualResetEvent::ManualResetEvent() : state_(std::make_unique<State>()) {}
ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::Set() {
  // Notified under the lock: a waiter that wakes and destroys the event
  // cannot do so while the notification is still under way.
  std::lock_guard<std::mutex> hold(state_->mutex);
  state_->signalled = true;
  state_->changed.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard<std::mutex> hold(state_->mutex);
  state_->signalled = false;
}

bool ManualResetEvent::IsSet() const {
  std::lock_guard<std::mutex> hold(state_->mutex);
  return state_->signalled;
}

bool ManualResetEvent::Wait(uint32_t milliseconds) const {
  std::unique_lock<std::mutex> hold(state_->mutex);
  const auto signalled = [this] { return state_->signalled; };
  if (milliseconds == kWaitForever) {
    state_->changed.wait(hold, signalled);
    return true;
  }
  return state_->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), signalled);
}

void* ManualResetEvent::NativeHandle() const { return state_.get(); }

}  // namespace vorsensor::platform
