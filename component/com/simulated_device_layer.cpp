// The test build's device layer: the simulated sensor driver on a virtual
// clock, installed as the process's sensor, with a simulated person who lays
// the queued finger images on the sensor one capture at a time (lifted at the
// start of each capture, laid down after a few empty frames).
// SimulatedSensorQueue and SimulatedSensorQueued are exported by this build only.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "component/com/device_layer.h"
#include "device/driver_contract.h"
#include "device/sensor_device.h"
#include "device/sensor_facade.h"
#include "platform/virtual_clock.h"
#include "sim/sensor_contract.h"
#include "sim/simulated_sensor.h"

namespace vorsensor::com {
namespace {

constexpr int32_t kEmptyFramesBeforeFinger = 3;
constexpr size_t kImageBytes = static_cast<size_t>(sim::kFingerWidth) * sim::kFingerHeight;

sim::SensorScenario PlausibleSensor() {
  sim::SensorScenario scenario;
  scenario.initialRegisters = {{0x02, 0x80}, {0x07, 0x41}, {0x0E, 0xB7}};
  return scenario;
}

class SimulatedPerson {
 public:
  explicit SimulatedPerson(sim::SimulatedSensor& sensor) : sensor_(sensor) {}

  void Queue(const uint8_t* images, int32_t count) {
    std::lock_guard<std::mutex> hold(mutex_);
    queue_.clear();
    for (int32_t i = 0; i < count; ++i) {
      queue_.emplace_back(images + static_cast<size_t>(i) * kImageBytes, images + (static_cast<size_t>(i) + 1) * kImageBytes);
    }
  }

  int32_t Queued() {
    std::lock_guard<std::mutex> hold(mutex_);
    return static_cast<int32_t>(queue_.size());
  }

  // Called on the worker's thread before each request to the sensor.
  void OnRequest(const sim::TraceEntry& request) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (request.code == sim::kPrepare) {
      if (sensor_.FingerOnSensor()) sensor_.LiftFinger();
      if (!queue_.empty()) {
        current_ = std::move(queue_.front());
        queue_.pop_front();
        sensor_.SetFingerImage(current_.data());
        emptyFrames_ = kEmptyFramesBeforeFinger;
      }
    } else if (request.code == sim::kReadFrame && emptyFrames_ > 0 && --emptyFrames_ == 0) {
      sensor_.PlaceFinger();
    }
  }

 private:
  sim::SimulatedSensor& sensor_;
  std::mutex mutex_;
  std::deque<std::vector<uint8_t>> queue_;
  std::vector<uint8_t> current_;
  int32_t emptyFrames_ = 0;
};

struct SimulatedLayer {
  SimulatedLayer() : sensor(clock, kSensorInterfaceClass, PlausibleSensor()), device(sensor, clock), person(sensor) {
    sensor.SetRequestHook([this](const sim::TraceEntry& e) { person.OnRequest(e); });
    InstallProcessSensorDevice(&device);
  }
  ~SimulatedLayer() {
    InstallProcessSensorDevice(nullptr);
    sensor.SetRequestHook(nullptr);
  }
  SimulatedLayer(const SimulatedLayer&) = delete;
  SimulatedLayer& operator=(const SimulatedLayer&) = delete;

  platform::VirtualClock clock;
  sim::SimulatedSensor sensor;
  SensorDevice device;
  SimulatedPerson person;
};

// Lives until the module is unloaded; by then no object (and no worker) is left.
SimulatedLayer& Layer() {
  static SimulatedLayer layer;
  return layer;
}

}  // namespace

platform::Clock& PrepareDeviceLayer() { return Layer().clock; }
bool DeviceLayerRegisters() { return false; }

}  // namespace vorsensor::com

// How many queued images no capture has taken yet. A host that sees the
// count fall knows that its request was taken up (a request made while the
// worker is still finishing the last job is dropped).
extern "C" int SimulatedSensorQueued() { return vorsensor::com::Layer().person.Queued(); }

// Queues `count` finger images (256 x 288 bytes each, rows top first) for the
// next captures, replacing any still queued. 0 on success, -4 for a missing
// argument.
extern "C" int SimulatedSensorQueue(const unsigned char* images, int count) {
  if (images == nullptr && count > 0) return -4;
  vorsensor::com::Layer().person.Queue(images, count < 0 ? 0 : count);
  return 0;
}
