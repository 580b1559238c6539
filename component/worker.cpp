#include "component/worker.h"

#include "component/event_window.h"
#include "component/jobs.h"
#include "device/sensor_facade.h"

namespace vorsensor {
namespace {

// Runs the job of `mode`; the status to send, or 0 when there is nothing to send.
int32_t RunJob(SensorState& state, int32_t mode) {
  switch (mode) {
    case kJobEnroll:
      return RunEnrollJob(state) ? DATA_ENROLL : 0;
    case kJobVerifyCapture:
      return RunCaptureJob(state) ? DATA_VERIFY_CAPTURE : 0;
    case kJobIdentifyCapture:
      return RunCaptureJob(state) ? DATA_IDENTIFY_CAPTURE : 0;
    default:
      return 0;
  }
}

}  // namespace

void WorkerMain(void* argument) {
  SensorState& state = *static_cast<SensorState*>(argument);
  if (FindSensors() != 0) {
    CloseSensor();  // opened again on demand by the capture operations
    for (;;) {
      while (!state.startEvent.Wait(kRequestPollMs)) {
      }
      const int32_t status = RunJob(state, state.jobMode.load());
      if (status != 0) SendResult(state, status);
      // A stop that came during the job belonged to it.
      state.cancel.store(0);
      state.startEvent.Reset();
      if (state.jobMode.load() == kJobStop) break;
    }
    CloseSensor();
  }
  state.doneEvent.Set();
}

}  // namespace vorsensor
