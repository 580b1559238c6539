#pragma once
// The simulated driver's side of the sensor contract: its request codes,
// buffer sizes and frame layout. It is written on its own, not shared with
// the device layer, so that the tests run the two sides against each other
// and catch either drifting.
#include <cstdint>

namespace vorsensor::sim {

constexpr uint32_t kDeviceTypeUnknown = 0x22;
constexpr uint32_t RequestCode(uint32_t function) { return kDeviceTypeUnknown << 16 | function << 2; }

constexpr uint32_t kStartStreaming = RequestCode(3);
constexpr uint32_t kReadRegister = RequestCode(5);
constexpr uint32_t kWriteRegister = RequestCode(6);
constexpr uint32_t kReadFrame = RequestCode(11);
constexpr uint32_t kPrepare = RequestCode(12);
constexpr uint32_t kStopStreaming = RequestCode(18);

constexpr uint32_t kReadRegisterBytes = 11;
constexpr uint32_t kWriteRegisterBytes = 2;

constexpr int32_t kRowPixels = 352;
constexpr int32_t kRowBytes = 354;
constexpr int32_t kFrameRows = 288;
constexpr uint32_t kFrameBytes = kRowBytes * kFrameRows;

constexpr int32_t kFingerWidth = 256;
constexpr int32_t kFingerHeight = 288;

// Registers the driver looks at: power, capture arming, streaming.
constexpr uint8_t kPowerRegister = 0x13;
constexpr uint8_t kPowerOnBit = 0x01;
constexpr uint8_t kArmRegister = 0x40;
constexpr uint8_t kArmed = 0x01;
constexpr uint8_t kStreamRegister = 0x41;
constexpr uint8_t kStreamAllowed = 0x00;

}  // namespace vorsensor::sim
