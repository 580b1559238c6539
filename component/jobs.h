#pragma once
// The worker's jobs: the capture job (verification and identification
// capture) and the enrolment job. Each ends with success, the template text
// ready in the sensor state, or cancelled by StopCapture.
#include "component/sensor_state.h"

namespace vorsensor {

constexpr int32_t kJobResolution = 500;  // dots per inch of every captured image
// The pause before capturing again after a cycle whose device request failed,
// so that a sensor that has gone away is not asked again in a tight loop.
constexpr uint32_t kFailedCaptureRetryMs = 100;

// One capture made into a sealed template; true with the template text (empty
// when the image gave no template), false when cancelled.
bool RunCaptureJob(SensorState& state);

// Captures until an enrolment run completes; true with the enrolled template's
// text, false when cancelled. A run that has failed keeps the job capturing
// until it is cancelled.
bool RunEnrollJob(SensorState& state);

}  // namespace vorsensor
