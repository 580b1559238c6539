#pragma once
// A lock that the thread holding it may take again: the device layer's
// operations call each other (a request opens the device, whose power-up
// sends requests) under one lock. A critical section on Windows (the MinGW
// win32 thread model has no std::mutex), std::recursive_mutex elsewhere.
#include <memory>

namespace vorsensor::platform {

class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void Lock();
  void Unlock();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Holds a RecursiveLock for its scope.
class LockHold {
 public:
  explicit LockHold(RecursiveLock& lock) : lock_(lock) { lock_.Lock(); }
  ~LockHold() { lock_.Unlock(); }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;

 private:
  RecursiveLock& lock_;
};

}  // namespace vorsensor::platform
