#pragma once
// A thread of the platform: started at once on a function with one argument,
// and joined (its handle released) by its owner. CreateThread on Windows,
// std::thread elsewhere (the MinGW win32 thread model has no std::thread).
#include <memory>

namespace vorsensor::platform {

using ThreadFunction = void (*)(void* argument);

class Thread {
 public:
  Thread();
  ~Thread();  // joins a thread still running
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `function(argument)` on a new thread with the default stack. False
  // when the thread cannot be created, or one is already held.
  bool Start(ThreadFunction function, void* argument);
  // Waits for the thread to end and releases it; nothing when none is held.
  void Join();
  bool Joinable() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vorsensor::platform
