#pragma once
// CVorSensorN: the automation object's behaviour, and the native C++ API for
// hosts without COM. The nine methods are those of the automation interface;
// outcomes travel only in the returned values and in DataEvent, and no
// exception leaves a method.
//
// Threads: create the object, call its methods and pump messages on one host
// thread. Open starts a worker thread that owns the sensor and runs one job
// per request (StartEnroll, VerifyCapture, IdentifyCapture). A finished job
// reaches the host as DataEvent, called on the host's thread while it pumps
// messages (host_pump.h: PumpMessages, RunUntil); the worker waits until every
// sink has returned. A request made while a job runs (also from inside
// DataEvent) is dropped.
//
// Display: SetDisplay names where the live image is drawn: a window handle on
// Windows, a display surface (platform/display_surface.h) elsewhere.
//
// The sensor is process-wide (device/sensor_facade.h); install a simulated one
// before Open to run without hardware.
//
// Other fronts wrap this class without adding behaviour: a COM front returns
// S_OK from every method and passes the answers through its out-parameters,
// converts VARIANT and SAFEARRAY arguments into AutomationValue, and connects
// one DataEventSink that fires its connection point; a C front maps each
// method onto a function over an opaque object and a callback sink.
#include <cstdint>
#include <string_view>

#include "component/automation_value.h"
#include "component/event_sinks.h"
#include "component/sensor_state.h"
#include "platform/clock.h"

namespace vorsensor {

class CVorSensorN {
 public:
  // `clock` gives the capture time-out its seconds; tests pass the virtual
  // clock the simulated sensor runs on.
  explicit CVorSensorN(platform::Clock& clock = platform::SystemClock());
  ~CVorSensorN();  // closes the object
  CVorSensorN(const CVorSensorN&) = delete;
  CVorSensorN& operator=(const CVorSensorN&) = delete;

  // Creates the event window (if there is none) on the calling thread and
  // starts the worker and the engine. Ignored while the object is open.
  void Open();
  // Stops the worker after the running job (if any) has ended, handling the
  // messages sent to this thread while it waits. Nothing when not open.
  // Called from inside DataEvent (while the worker waits for the event to
  // return), it stops the worker without waiting; the next Open, Close or
  // the destructor collects it.
  void Close();
  void StartEnroll();
  // Stores `display` and returns the previous one (0 before the first call);
  // works whether open or not.
  int32_t SetDisplay(int32_t display);
  // Cancels the running capture; a stop between two captures of one job
  // still ends that job.
  void StopCapture();
  void VerifyCapture();
  // 1 when the two template texts come from the same finger; 0 otherwise and
  // on a closed object.
  int32_t Verify(std::string_view template1, std::string_view template2);
  // The index of the first reference text that matches `sample`, or -1 (no
  // match, a list that is not an array of texts, a closed object).
  int32_t Identify(std::string_view sample, const AutomationValue& reference);
  void IdentifyCapture();

  // The DataEvent connection point. Advise returns a cookie (0 for null).
  uint32_t Advise(DataEventSink* sink);
  bool Unadvise(uint32_t cookie);

  bool IsOpen() const { return state_.opened.load() != 0; }
  // Whether a job has been requested and has not yet ended.
  bool JobPending() const { return state_.startEvent.IsSet(); }

 private:
  void Request(int32_t jobMode);
  // Waits for a stopped worker to end and releases it and the engine.
  void CollectWorker();
  void ReleaseOwnEngineStart();
  static void FireDataEvent(void* context, int32_t status, const char* text);

  SensorState state_;
  EventSinks sinks_;
  int32_t firing_ = 0;  // DataEvent calls under way on the host's thread
  bool engineStarted_ = false;
};

}  // namespace vorsensor
