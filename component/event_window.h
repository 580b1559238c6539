#pragma once
// The bridge from the worker to the host's thread: a hidden event window owned
// by the host's thread, to which the worker sends the registered message
// "EVENT_MSG" synchronously with a job's status and template text. The window
// keeps the sensor state it serves in its own context, so every object
// receives its own events.
#include <cstdint>

#include "component/sensor_state.h"

namespace vorsensor {

constexpr char kEventMessageName[] = "EVENT_MSG";

// Registers "EVENT_MSG" and creates the event window on the calling thread
// for `state`; false when no window could be created.
bool CreateEventWindow(SensorState& state);
void DestroyEventWindow(SensorState& state);

// The worker's side: sends the template text with `status` to the event
// window copy and waits until the host's thread has handled it (every sink
// called). The text stays the worker's; the receiving side copies it. False
// when the window is gone (the object is closing).
bool SendResult(SensorState& state, int32_t status);

}  // namespace vorsensor
