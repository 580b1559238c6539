#pragma once
// Hidden message windows: a window belongs to the thread that created it, and
// messages sent to it from any thread are handled on that thread, in its
// message pump. A synchronous send blocks the sender until the owner has
// handled the message; it fails at once when the window is gone, and a send
// still waiting when the window is destroyed fails then.
//
// On Windows these are real windows of the predefined class "STATIC",
// subclassed so that the window's own handler sees each message first. On
// other systems a per-thread queue stands in: only sent messages exist, and
// a message the handler does not take gets the result 0, as an ordinary
// "STATIC" window gives for messages it has no use for.
#include <cstdint>

#include "platform/manual_reset_event.h"

namespace vorsensor::platform {

// A window: an HWND's value on Windows, a never-reused number elsewhere; 0 is none.
using WindowHandle = std::intptr_t;

// Called on the owning thread for every message the window receives. Return
// true with *result set when the message was handled; false passes it on to
// the window's ordinary behaviour.
using MessageHandler = bool (*)(void* context, uint32_t message, uintptr_t first, intptr_t second,
                                intptr_t* result);

// The process-wide number of a named message: the same name always gives the
// same number (RegisterWindowMessageA). 0 on failure.
uint32_t RegisterMessageName(const char* name);

// Creates a hidden window owned by the calling thread, whose messages go to
// `handler` with `context` (kept per window). 0 on failure.
WindowHandle CreateMessageWindow(MessageHandler handler, void* context);
// Destroys the window (call it on the owning thread). Sends still waiting for
// it fail.
void DestroyMessageWindow(WindowHandle window);
bool IsMessageWindow(WindowHandle window);

// Sends a message and waits until the owner has handled it. From the owning
// thread the handler is called directly. True with *result (may be null) when
// the message was handled; false when the window does not exist or is
// destroyed before handling it.
bool SendMessageTo(WindowHandle window, uint32_t message, uintptr_t first, intptr_t second, intptr_t* result);

// Handles every message waiting for the calling thread's windows, until none
// is left; returns how many were handled.
int32_t PumpMessages();
// Waits up to `milliseconds` of real time for a message for the calling
// thread; true when one is waiting. Handles nothing.
bool WaitForMessages(uint32_t milliseconds);
// Waits for `event` while handling the messages sent to the calling thread's
// windows, so that a sender waiting on this thread cannot block the wait.
// True when the event is signalled within `milliseconds`.
bool WaitPumpingMessages(const ManualResetEvent& event, uint32_t milliseconds);

}  // namespace vorsensor::platform
