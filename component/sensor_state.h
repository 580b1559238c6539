#pragma once
// The automation object's per-object state, shared by the host's thread (the
// methods, the event window) and the object's worker thread. The host writes
// the job mode before it sets the start event, and the worker reads it only
// after the event is signalled; results cross back only through the
// synchronous send to the event window. The words both threads touch are
// atomics, so the exchange stays well defined under any compiler.
#include <atomic>
#include <cstdint>

#include "component/template_text.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/manual_reset_event.h"
#include "platform/message_window.h"
#include "platform/thread.h"

namespace vorsensor {

// The kind of a finished job, as DataEvent reports it.
enum Data : int32_t {
  DATA_ENROLL = 1,
  DATA_VERIFY_CAPTURE = 2,
  DATA_IDENTIFY_CAPTURE = 3,
};

// Job modes.
constexpr int32_t kJobEnroll = 0;
constexpr int32_t kJobVerifyCapture = 1;
constexpr int32_t kJobIdentifyCapture = 2;
constexpr int32_t kJobStop = 3;

// Called on the host's thread by the event window with the job's status and
// its template text (zero-terminated, possibly empty).
using EventCallback = void (*)(void* context, int32_t status, const char* text);

struct SensorState {
  explicit SensorState(platform::Clock& stateClock) : clock(stateClock) {}
  SensorState(const SensorState&) = delete;
  SensorState& operator=(const SensorState&) = delete;

  std::atomic<int32_t> jobMode{kJobEnroll};
  // The host's display for the live image; 0 until SetDisplay names one.
  std::atomic<platform::DisplayHandle> display{0};
  // The event window as handed to the worker (written before the worker starts).
  platform::WindowHandle eventWindowCopy = 0;
  // The last finished job's template text; written by the worker, read on the
  // host's thread while the worker waits in its send.
  char templateText[kTemplateTextBufferSize] = {};
  void* callbackContext = nullptr;
  platform::ManualResetEvent startEvent;
  // Reset by Open before the worker starts and set by the worker as its last
  // act, so Close never waits for a worker that has already ended.
  platform::ManualResetEvent doneEvent;
  EventCallback eventCallback = nullptr;
  std::atomic<int32_t> opened{0};
  platform::WindowHandle eventWindow = 0;
  uint32_t eventMessage = 0;  // the number of "EVENT_MSG"

  // 1 when the running job is to stop. Set by StopCapture, read by the capture
  // cycle once per polling turn, cleared when a job ends and when a request
  // finds the worker idle, so a stop between two capture cycles of one job is
  // kept until that job has ended.
  std::atomic<int32_t> cancel{0};
  // The time source of the capture time-out (the C library's time()).
  platform::Clock& clock;
  // The worker; joined by Close once it has signalled the done event.
  platform::Thread worker;
};

}  // namespace vorsensor
