#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>

#include "platform/thread.h"

namespace vorsensor::platform {
namespace {

struct StartInfo {
  ThreadFunction function;
  void* argument;
};

DWORD WINAPI ThreadMain(LPVOID parameter) {
  const StartInfo start = *static_cast<StartInfo*>(parameter);
  delete static_cast<StartInfo*>(parameter);
  start.function(start.argument);
  return 1;
}

}  // namespace

struct Thread::State {
  HANDLE handle = nullptr;
};

Thread::Thread() : state_(std::make_unique<State>()) {}
Thread::~Thread() { Join(); }

bool Thread::Start(ThreadFunction function, void* argument) {
  if (state_->handle != nullptr || function == nullptr) return false;
  StartInfo* start = new StartInfo{function, argument};
  state_->handle = CreateThread(nullptr, 0, ThreadMain, start, 0, nullptr);
  if (state_->handle == nullptr) {
    delete start;
    return false;
  }
  return true;
}

void Thread::Join() {
  if (state_->handle == nullptr) return;
  WaitForSingleObject(state_->handle, INFINITE);
  CloseHandle(state_->handle);
  state_->handle = nullptr;
}

bool Thread::Joinable() const { return state_->handle != nullptr; }

}  // namespace vorsensor::platform
