#include "device/frame_acquisition.h"

#include <cstring>

#include "device/driver_contract.h"
#include "device/frame_conversion.h"

namespace vorsensor {

int32_t ReadFrame(SensorDevice& device, uint8_t* image) {
  const platform::LockHold hold(device.lock);
  if (!IsOpen(device)) {
    return 0;
  }
  // Bytes the driver does not write read as white.
  std::memset(device.rawFrame.get(), 0xFF, kRawFrameBytes);
  uint32_t returned = 0;
  if (SensorRequest(device, kReadFrameCode, nullptr, 0, device.rawFrame.get(), kRawFrameBytes, &returned) == 0) {
    return 0;
  }
  ConvertRawFrame(device.rawFrame.get(), returned, device.planeA.get(), device.planeB.get(), image);
  device.clock.Sleep(kFrameWaitMs);
  return 1;
}

}  // namespace vorsensor
