#include "component/vor_sensor_n.h"

#include <new>
#include <vector>

#include "component/capture_cycle.h"
#include "component/event_window.h"
#include "component/template_methods.h"
#include "component/worker.h"
#include "engine/engine_configuration.h"

namespace vorsensor {

CVorSensorN::CVorSensorN(platform::Clock& clock) : state_(clock) {}

CVorSensorN::~CVorSensorN() {
  Close();
  CollectWorker();
}

void CVorSensorN::Open() {
  if (state_.opened.load() != 0) return;  // a second worker would race the first
  CollectWorker();  // one closed from inside DataEvent
  if (!platform::IsMessageWindow(state_.eventWindow) && !CreateEventWindow(state_)) return;
  state_.callbackContext = this;
  state_.eventCallback = &CVorSensorN::FireDataEvent;
  state_.eventWindowCopy = state_.eventWindow;
  state_.doneEvent.Reset();
  state_.startEvent.Reset();
  // The engine starts here rather than on the worker, so Verify and Identify
  // work as soon as Open returns, with or without a sensor.
  engineStarted_ = InitEngine() >= 0;
  if (!state_.worker.Start(&WorkerMain, &state_)) {
    ReleaseOwnEngineStart();
    return;
  }
  state_.opened.store(1);
}

void CVorSensorN::Close() {
  if (state_.opened.load() == 0) return;
  state_.jobMode.store(kJobStop);
  state_.startEvent.Set();
  state_.opened.store(0);
  // With the window gone, a job that finishes now cannot block in its send.
  DestroyEventWindow(state_);
  // Inside DataEvent the worker waits for this very call to return: waiting
  // for it here would block both threads.
  if (firing_ == 0) CollectWorker();
}

void CVorSensorN::CollectWorker() {
  if (!state_.worker.Joinable()) return;
  platform::WaitPumpingMessages(state_.doneEvent, platform::kWaitForever);
  state_.worker.Join();
  ReleaseOwnEngineStart();
}

void CVorSensorN::ReleaseOwnEngineStart() {
  // Only a start that succeeded is given back; the engine's count is shared.
  if (engineStarted_) ReleaseEngine();
  engineStarted_ = false;
}

void CVorSensorN::Request(int32_t jobMode) {
  if (state_.opened.load() == 0) return;
  // A stop made while the worker was idle must not cancel this new job.
  if (!state_.startEvent.IsSet()) state_.cancel.store(0);
  state_.jobMode.store(jobMode);
  state_.startEvent.Set();
}

void CVorSensorN::StartEnroll() { Request(kJobEnroll); }
void CVorSensorN::VerifyCapture() { Request(kJobVerifyCapture); }
void CVorSensorN::IdentifyCapture() { Request(kJobIdentifyCapture); }

int32_t CVorSensorN::SetDisplay(int32_t display) {
  return static_cast<int32_t>(state_.display.exchange(static_cast<platform::DisplayHandle>(display)));
}

void CVorSensorN::StopCapture() {
  if (state_.opened.load() == 0) return;
  CancelCapture(state_);
}

int32_t CVorSensorN::Verify(std::string_view template1, std::string_view template2) {
  if (state_.opened.load() == 0) return 0;
  return ::vorsensor::Verify(template1, template2);
}

int32_t CVorSensorN::Identify(std::string_view sample, const AutomationValue& reference) {
  if (state_.opened.load() == 0) return -1;
  try {
    std::vector<std::string_view> texts;
    if (!ReferenceTexts(reference, &texts)) return -1;
    return ::vorsensor::Identify(sample, texts);
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

uint32_t CVorSensorN::Advise(DataEventSink* sink) { return sinks_.Advise(sink); }
bool CVorSensorN::Unadvise(uint32_t cookie) { return sinks_.Unadvise(cookie); }

void CVorSensorN::FireDataEvent(void* context, int32_t status, const char* text) {
  CVorSensorN& object = *static_cast<CVorSensorN*>(context);
  ++object.firing_;
  object.sinks_.Fire(status, text);
  --object.firing_;
}

}  // namespace vorsensor
