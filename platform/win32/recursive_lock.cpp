#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>

#include "platform/recursive_lock.h"

namespace vorsensor::platform {

// A critical section may be entered again by the thread that holds it.
struct RecursiveLock::State {
  CRITICAL_SECTION section;
};

RecursiveLock::RecursiveLock() : state_(std::make_unique<State>()) { InitializeCriticalSection(&state_->section); }
RecursiveLock::~RecursiveLock() { DeleteCriticalSection(&state_->section); }
void RecursiveLock::Lock() { EnterCriticalSection(&state_->section); }
void RecursiveLock::Unlock() { LeaveCriticalSection(&state_->section); }

}  // namespace vorsensor::platform
