#pragma once
// What the sensor's kernel driver is asked for: its device-interface class,
// the six I/O control requests with their buffers, the raw frame layout.
#include <cstdint>

#include "platform/device_io.h"

namespace vorsensor {

// CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr uint32_t SensorControlCode(uint32_t function) { return (0x22u << 16) | (function << 2); }

constexpr uint32_t kStartStreamingCode = SensorControlCode(3);   // 0x22000C, no buffers
constexpr uint32_t kReadRegisterCode = SensorControlCode(5);     // 0x220014, 11 bytes in and out
constexpr uint32_t kWriteRegisterCode = SensorControlCode(6);    // 0x220018, 2 bytes in
constexpr uint32_t kReadFrameCode = SensorControlCode(11);       // 0x22002C, a raw frame out
constexpr uint32_t kPrepareCaptureCode = SensorControlCode(12);  // 0x220030, no buffers
constexpr uint32_t kStopStreamingCode = SensorControlCode(18);   // 0x220048, no buffers

constexpr uint32_t kRegisterReadBytes = 11;
constexpr uint32_t kRegisterWriteBytes = 2;

// Raw frame: 288 rows of 354 bytes; bytes 0 and 1 of a row are not pixels.
constexpr int32_t kSensorColumns = 352;
constexpr int32_t kSensorRows = 288;
constexpr int32_t kRawRowHeader = 2;
constexpr int32_t kRawRowBytes = kRawRowHeader + kSensorColumns;
constexpr int32_t kRawFrameBytes = kRawRowBytes * kSensorRows;  // 101952
constexpr int32_t kSensorPlaneBytes = kSensorColumns * kSensorRows;

// The grey image every frame becomes: 256 x 288, 0 black, 255 white.
constexpr int32_t kImageWidth = 256;
constexpr int32_t kImageHeight = 288;
constexpr int32_t kImageBytes = kImageWidth * kImageHeight;

// The class under which the sensor's driver publishes every present sensor.
constexpr platform::DeviceClassId kSensorInterfaceClass = {
    0x5A1C7E42, 0x93D0, 0x4B6E, {0xA1, 0x7F, 0x3C, 0x28, 0x64, 0xE0, 0x9B, 0x15}};

}  // namespace vorsensor
