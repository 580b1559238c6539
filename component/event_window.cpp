#include "component/event_window.h"

namespace vorsensor {
namespace {

// The event window's procedure: "EVENT_MSG" goes to the object's event
// callback; anything else gets the window's ordinary behaviour.
bool EventWindowProcedure(void* context, uint32_t message, uintptr_t first, intptr_t second, intptr_t* result) {
  SensorState& state = *static_cast<SensorState*>(context);
  if (message == 0 || message != state.eventMessage) return false;
  if (state.eventCallback != nullptr) {
    const char* text = reinterpret_cast<const char*>(second);
    state.eventCallback(state.callbackContext, static_cast<int32_t>(first), text != nullptr ? text : "");
  }
  *result = 0;
  return true;
}

}  // namespace

bool CreateEventWindow(SensorState& state) {
  state.eventMessage = platform::RegisterMessageName(kEventMessageName);
  state.eventWindow = platform::CreateMessageWindow(EventWindowProcedure, &state);
  return state.eventWindow != 0;
}

void DestroyEventWindow(SensorState& state) {
  platform::DestroyMessageWindow(state.eventWindow);
  state.eventWindow = 0;
}

bool SendResult(SensorState& state, int32_t status) {
  return platform::SendMessageTo(state.eventWindowCopy, state.eventMessage, static_cast<uintptr_t>(status),
                                 reinterpret_cast<intptr_t>(state.templateText), nullptr);
}

}  // namespace vorsensor
