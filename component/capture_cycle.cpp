#include "component/capture_cycle.h"

#include <algorithm>
#include <memory>
#include <new>

#include "device/finger_detection.h"
#include "device/sensor_facade.h"
#include "platform/message_window.h"

namespace vorsensor {
namespace {
constexpr int32_t kMillisecondsPerSecond = 1000;
}  // namespace

int32_t CaptureFinger(SensorState& state, uint8_t* image, int32_t timeoutMs, int32_t* width, int32_t* height) {
  if (state.cancel.load() != 0) {
    std::fill_n(image, kCaptureImageBytes, kBlankPixel);
    return kCaptureCancelled;
  }
  if (PrepareCapture() == 0) return kCaptureFailed;
  if (StartCapture() == 0) return kCaptureFailed;
  const int64_t start = state.clock.Seconds();
  std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[kCaptureImageBytes]);
  if (!work) {
    CloseSensor();
    return kCaptureFailed;
  }
  const int64_t allowance = timeoutMs / kMillisecondsPerSecond;
  bool timedOut = false;
  bool readFailed = false;
  while (state.cancel.load() == 0) {
    if (ReadFrame(work.get()) == 0) {
      readFailed = true;
      break;
    }
    if (HasFinger(kCaptureImageWidth, kCaptureImageHeight, work.get()) != 0) {
      std::copy_n(work.get(), kCaptureImageBytes, image);
      break;
    }
    platform::PumpMessages();
    if (state.clock.Seconds() - start > allowance) {
      timedOut = true;
      break;
    }
  }
  EndCapture();
  CloseSensor();
  if (timedOut || state.cancel.load() != 0) {
    std::fill_n(image, kCaptureImageBytes, kBlankPixel);
    return timedOut ? kCaptureTimedOut : kCaptureCancelled;
  }
  if (readFailed) return kCaptureFailed;
  *width = kCaptureImageWidth;
  *height = kCaptureImageHeight;
  return kCaptureDone;
}

void CancelCapture(SensorState& state) {
  EndCapture();
  state.cancel.store(1);
  CloseSensor();
}

}  // namespace vorsensor
