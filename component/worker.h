#pragma once
// The object's worker thread: it owns the sensor while the object is open,
// waits for requests, runs one job per request and sends each result to the
// host's thread.
#include <cstdint>

#include "component/sensor_state.h"

namespace vorsensor {

constexpr uint32_t kRequestPollMs = 100;  // the worker's wait slice on the start event

// The thread function; `argument` is the SensorState. Ends after a request
// with job mode 3 (or at once when no sensor is present), setting the done
// event as its last act.
void WorkerMain(void* argument);

}  // namespace vorsensor
