#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>

#include "platform/manual_reset_event.h"

namespace vorsensor::platform {

struct ManualResetEvent::State {
  HANDLE handle = nullptr;
};

ManualResetEvent::ManualResetEvent() : state_(std::make_unique<State>()) {
  state_->handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}
ManualResetEvent::~ManualResetEvent() {
  if (state_->handle != nullptr) CloseHandle(state_->handle);
}

void ManualResetEvent::Set() { SetEvent(state_->handle); }
void ManualResetEvent::Reset() { ResetEvent(state_->handle); }
bool ManualResetEvent::IsSet() const { return WaitForSingleObject(state_->handle, 0) == WAIT_OBJECT_0; }
bool ManualResetEvent::Wait(uint32_t milliseconds) const {
  return WaitForSingleObject(state_->handle, milliseconds == kWaitForever ? INFINITE : milliseconds) ==
         WAIT_OBJECT_0;
}
void* ManualResetEvent::NativeHandle() const { return state_->handle; }

}  // namespace vorsensor::platform
