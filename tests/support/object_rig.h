#pragma once
// The automation object on the simulated sensor and a virtual clock: the
// simulated sensor device is installed as the process's one for the rig's
// lifetime, and the object's capture time-out runs on the same clock.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "component/capture_cycle.h"
#include "component/event_sinks.h"
#include "component/vor_sensor_n.h"
#include "device/driver_contract.h"
#include "device/sensor_facade.h"
#include "imageio/image_io.h"
#include "sim/sensor_contract.h"
#include "support/sensor_rig.h"
#include "support/test_paths.h"

namespace vorsensor::testing {

// An impression of the committed generated fingers (finger 1..6, impression 1..4).
inline std::vector<uint8_t> SynthImpression(int finger, int impression) {
  const std::filesystem::path path = SourceDir() / "data" / "synth" /
                                     ("f0" + std::to_string(finger) + "_i" + std::to_string(impression) + ".png");
  imageio::ImageResult read = imageio::ReadImage(path.string());
  return read.ok() ? read.image.pixels : std::vector<uint8_t>();
}

struct ObjectRig {
  explicit ObjectRig(sim::SensorScenario scenario = PlainScenario())
      : sensor(std::move(scenario)), holder(std::make_unique<CVorSensorN>(sensor.clock)), object(*holder) {
    previous = InstallProcessSensorDevice(&sensor.device);
  }
  ~ObjectRig() {
    holder.reset();  // closes the object and collects its worker while the simulated sensor is installed
    InstallProcessSensorDevice(previous);
  }
  // The simulated sensor shows that generated impression when a finger is on it.
  void LayFinger(int finger, int impression) {
    const std::vector<uint8_t> image = SynthImpression(finger, impression);
    ASSERT_EQ(image.size(), static_cast<size_t>(kCaptureImageBytes))
        << "generated impression " << finger << "/" << impression;
    sensor.driver.SetFingerImage(image.data());
  }
  // How many requests of `code` the driver has seen since the trace was cleared.
  int32_t Requests(uint32_t code) const {
    int32_t n = 0;
    for (const sim::TraceEntry& e : sensor.driver.Trace()) n += e.kind == sim::TraceKind::kRequest && e.code == code;
    return n;
  }

  SensorRig sensor;
  std::unique_ptr<CVorSensorN> holder;
  CVorSensorN& object;
  SensorDevice* previous = nullptr;
};

// Keeps every DataEvent it receives.
class EventLog : public DataEventSink {
 public:
  void DataEvent(int32_t status, const std::string& text) override { events.emplace_back(status, text); }
  std::vector<std::pair<int32_t, std::string>> events;
};

// Stops a thread in the request hook until another thread opens the gate.
class Gate {
 public:
  void Arrive() {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  bool Arrived() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrived_;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool arrived_ = false;
  bool open_ = false;
};

// Real time the tests allow a job to take; they normally need far less.
constexpr uint32_t kJobPatienceMs = 60000;

}  // namespace vorsensor::testing
