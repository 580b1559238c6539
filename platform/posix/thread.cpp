#include "platform/thread.h"

#include <system_error>
#include <thread>

namespace vorsensor::platform {

struct Thread::State {
  std::thread thread;
};

Thread::Thread() : state_(std::make_unique<State>()) {}
Thread::~Thread() { Join(); }

bool Thread::Start(ThreadFunction function, void* argument) {
  if (state_->thread.joinable() || function == nullptr) return false;
  try {
    state_->thread = std::thread(function, argument);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void Thread::Join() {
  if (state_->thread.joinable()) state_->thread.join();
}

bool Thread::Joinable() const { return state_->thread.joinable(); }

}  // namespace vorsensor::platform
