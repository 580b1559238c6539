#include "platform/recursive_lock.h"

#include <mutex>

namespace vorsensor::platform {

struct RecursiveLock::State {
  std::recursive_mutex mutex;
};

RecursiveLock::RecursiveLock() : state_(std::make_unique<State>()) {}
RecursiveLock::~RecursiveLock() = default;
void RecursiveLock::Lock() { state_->mutex.lock(); }
void RecursiveLock::Unlock() { state_->mutex.unlock(); }

}  // namespace vorsensor::platform
