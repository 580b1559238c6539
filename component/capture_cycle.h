#pragma once
// One finger image from the sensor: the capture cycle polls frames until a
// finger lies on the sensor, the capture is cancelled or the time-out passes.
#include <cstdint>

#include "component/sensor_state.h"

namespace vorsensor {

constexpr int32_t kCaptureImageWidth = 256;
constexpr int32_t kCaptureImageHeight = 288;
constexpr int32_t kCaptureImageBytes = kCaptureImageWidth * kCaptureImageHeight;
constexpr int32_t kCaptureTimeoutMs = 30000;  // what the jobs give every capture
constexpr uint8_t kBlankPixel = 255;

// CaptureFinger results.
constexpr int32_t kCaptureDone = 1;
constexpr int32_t kCaptureFailed = 0;
constexpr int32_t kCaptureCancelled = -2;
constexpr int32_t kCaptureTimedOut = -3;

// Takes one image with a finger into `image` (256 x 288) and sets the width
// and height, or returns kCaptureFailed (a device request failed),
// kCaptureCancelled or kCaptureTimedOut (the image then all 255). The cycle
// gives up once more whole seconds than timeoutMs / 1000 have passed. A stop
// already requested makes it return kCaptureCancelled before the sensor is
// touched. The worker's messages are pumped between frames.
int32_t CaptureFinger(SensorState& state, uint8_t* image, int32_t timeoutMs, int32_t* width, int32_t* height);

// What StopCapture does: ends the streaming, marks the capture cancelled and
// closes the sensor. Runs on the host's thread while the worker may be
// between device requests; the device reopens on demand.
void CancelCapture(SensorState& state);

}  // namespace vorsensor
