#pragma once
// Reading one frame from the streaming sensor into the 256 x 288 grey image.
#include <cstdint>

#include "device/sensor_device.h"

namespace vorsensor {

// Paces the capture loop: the wait after every frame.
constexpr uint32_t kFrameWaitMs = 100;

// Fills `image` (256 x 288) from one raw frame and waits 100 ms; 1 on success.
// 0 with the image untouched when the device is closed (a frame read does not
// open it) or the request failed (which closed it). A short or long frame
// gives the all-white image and 1. Uses the device's buffers: one at a time.
int32_t ReadFrame(SensorDevice& device, uint8_t* image);

}  // namespace vorsensor
