// Message windows on Windows: hidden windows of the predefined class "STATIC",
// subclassed so that the owner's handler sees every message first. The handler
// and its context are kept in the window's user data, so each window
// dispatches to its own object.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>

#include "platform/message_window.h"

namespace vorsensor::platform {
namespace {

constexpr DWORD kHiddenWindowStyle = 0x00CF0000;  // overlapped window, not visible

struct Subclass {
  MessageHandler handler;
  void* context;
  WNDPROC previous;
};

LRESULT CALLBACK SubclassProcedure(HWND window, UINT message, WPARAM first, LPARAM second) {
  Subclass* subclass = reinterpret_cast<Subclass*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (subclass == nullptr) return DefWindowProcA(window, message, first, second);
  intptr_t result = 0;
  if (subclass->handler != nullptr && subclass->handler(subclass->context, message, first, second, &result)) {
    return result;
  }
  const WNDPROC previous = subclass->previous;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    delete subclass;
  }
  return CallWindowProcA(previous, window, message, first, second);
}

}  // namespace

uint32_t RegisterMessageName(const char* name) { return RegisterWindowMessageA(name); }

WindowHandle CreateMessageWindow(MessageHandler handler, void* context) {
  HWND window = CreateWindowExA(0, "STATIC", "", kHiddenWindowStyle, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) return 0;
  Subclass* subclass = new Subclass{handler, context, nullptr};
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(subclass));
  subclass->previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProcedure)));
  return reinterpret_cast<WindowHandle>(window);
}

void DestroyMessageWindow(WindowHandle window) {
  if (window != 0) DestroyWindow(reinterpret_cast<HWND>(window));
}

bool IsMessageWindow(WindowHandle window) { return window != 0 && IsWindow(reinterpret_cast<HWND>(window)); }

bool SendMessageTo(WindowHandle window, uint32_t message, uintptr_t first, intptr_t second, intptr_t* result) {
  HWND target = reinterpret_cast<HWND>(window);
  if (!IsMessageWindow(window)) return false;
  // Unlike SendMessageA, this tells a message that was handled from one that
  // could not be delivered because the window went away.
  DWORD_PTR answer = 0;
  const LRESULT sent = SendMessageTimeoutA(target, message, first, second, SMTO_NORMAL, INFINITE, &answer);
  if (result != nullptr) *result = static_cast<intptr_t>(answer);
  return sent != 0;
}

int32_t PumpMessages() {
  int32_t handled = 0;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++handled;
  }
  return handled;
}

bool WaitForMessages(uint32_t milliseconds) {
  const DWORD wait = MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds == kWaitForever ? INFINITE : milliseconds,
                                               QS_ALLINPUT);
  return wait == WAIT_OBJECT_0;
}

bool WaitPumpingMessages(const ManualResetEvent& event, uint32_t milliseconds) {
  HANDLE handle = static_cast<HANDLE>(event.NativeHandle());
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    DWORD remaining = INFINITE;
    if (milliseconds != kWaitForever) {
      const ULONGLONG waited = GetTickCount64() - start;
      if (waited >= milliseconds) return event.IsSet();
      remaining = static_cast<DWORD>(milliseconds - waited);
    }
    const DWORD wait = MsgWaitForMultipleObjects(1, &handle, FALSE, remaining, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0) return true;
    if (wait != WAIT_OBJECT_0 + 1) return event.IsSet();
    PumpMessages();  // also handles messages sent from other threads
  }
}

}  // namespace vorsensor::platform
