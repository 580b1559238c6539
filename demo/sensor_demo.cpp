// vorsensor_demo: a host program of the automation object. It opens the object
// on the simulated sensor (a virtual clock, so the sensor's long protocol waits
// cost nothing), enrols a finger from four impressions laid on the sensor one
// after another, makes a verification capture of the same finger and one of
// another finger, prints every DataEvent and the Verify and Identify answers,
// and writes the live display's frames as PNG files and one contact sheet.
//
// Usage: vorsensor_demo [DATA_DIR] [OUT_DIR]
//   DATA_DIR  the generated fingerprints (default data/synth)
//   OUT_DIR   where the frames go (default demo-out)
// Exit 0 when every answer is the expected one, 1 when not, 2 on bad input.
#include <atomic>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "component/host_pump.h"
#include "component/vor_sensor_n.h"
#include "device/driver_contract.h"
#include "device/sensor_device.h"
#include "device/sensor_facade.h"
#include "imageio/image_io.h"
#include "platform/display_surface.h"
#include "platform/virtual_clock.h"
#include "sim/sensor_contract.h"
#include "sim/simulated_sensor.h"
#include "synth/finger_set.h"

namespace {

using vorsensor::CVorSensorN;

constexpr uint32_t kJobPatienceMs = 50000;  // real time allowed for one job
constexpr int32_t kEmptyFramesBeforeFinger = 3;
constexpr int32_t kDisplayWidth = 384;  // the live display, 1.5 times the image
constexpr int32_t kDisplayHeight = 432;
constexpr int32_t kFramesKept = 64;
constexpr size_t kDigitsShown = 24;

std::mutex printing;

void Say(const std::string& line) {
  std::lock_guard<std::mutex> hold(printing);
  std::cout << line << std::endl;
}

const char* DataName(int32_t status) {
  switch (status) {
    case vorsensor::DATA_ENROLL:
      return "DATA_ENROLL";
    case vorsensor::DATA_VERIFY_CAPTURE:
      return "DATA_VERIFY_CAPTURE";
    case vorsensor::DATA_IDENTIFY_CAPTURE:
      return "DATA_IDENTIFY_CAPTURE";
    default:
      return "DATA_?";
  }
}

class PrintingSink : public vorsensor::DataEventSink {
 public:
  void DataEvent(int32_t status, const std::string& text) override {
    Say("  DataEvent " + std::string(DataName(status)) + " (status " + std::to_string(status) + "): " +
        (text.empty() ? std::string("(no template)") : text.substr(0, kDigitsShown) + "... (" +
                                                           std::to_string(text.size()) + " digits)"));
    texts.push_back(text);
  }
  std::vector<std::string> texts;
};

// The person at the sensor: at the start of every capture the finger is
// lifted; after a few empty frames the next impression is laid down.
class SimulatedUser {
 public:
  explicit SimulatedUser(vorsensor::sim::SimulatedSensor& sensor) : sensor_(sensor) {}

  // The impressions for the next captures, in order; any left over from the
  // last job (an enrolment that completed early) are put away.
  void Queue(std::vector<std::pair<std::string, std::vector<uint8_t>>> impressions) {
    std::lock_guard<std::mutex> hold(mutex_);
    queue_.clear();
    for (auto& i : impressions) queue_.push_back(std::move(i));
  }
  // Called on the worker's thread before each request to the sensor.
  void OnRequest(const vorsensor::sim::TraceEntry& request) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (request.code == vorsensor::sim::kPrepare) {
      if (sensor_.FingerOnSensor()) {
        sensor_.LiftFinger();
        Say("  [sensor] finger lifted");
      }
      if (!queue_.empty()) {
        current_ = std::move(queue_.front());
        queue_.pop_front();
        sensor_.SetFingerImage(current_.second.data());
        emptyFrames_ = kEmptyFramesBeforeFinger;
      }
    } else if (request.code == vorsensor::sim::kReadFrame && emptyFrames_ > 0 && --emptyFrames_ == 0) {
      sensor_.PlaceFinger();
      Say("  [sensor] " + current_.first + " laid on the sensor");
    }
  }

 private:
  vorsensor::sim::SimulatedSensor& sensor_;
  std::mutex mutex_;
  std::deque<std::pair<std::string, std::vector<uint8_t>>> queue_;
  std::pair<std::string, std::vector<uint8_t>> current_;
  int32_t emptyFrames_ = 0;
};

bool WaitForEvent(const PrintingSink& sink, size_t count, CVorSensorN& object) {
  return vorsensor::RunUntil([&] { return sink.texts.size() >= count && !object.JobPending(); }, kJobPatienceMs);
}

int Check(const std::string& what, int32_t answer, int32_t expected) {
  Say(what + " = " + std::to_string(answer) + (answer == expected ? "" : "   (expected " + std::to_string(expected) + ")"));
  return answer == expected ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path data = argc > 1 ? argv[1] : "data/synth";
  const std::filesystem::path out = argc > 2 ? argv[2] : "demo-out";
  const auto impression = [&](int finger, int i) {
    const std::string name = "f0" + std::to_string(finger) + "_i" + std::to_string(i) + ".png";
    vorsensor::imageio::ImageResult read = vorsensor::imageio::ReadImage((data / name).string());
    if (!read.ok() || read.image.width != 256 || read.image.height != 288) {
      std::cerr << "vorsensor_demo: " << (data / name).string() << " is not a 256 x 288 image\n";
      std::exit(2);
    }
    return std::make_pair(name, std::move(read.image.pixels));
  };
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::cerr << "vorsensor_demo: cannot create " << out.string() << "\n";
    return 2;
  }

  // The simulated sensor, installed as the process's sensor.
  vorsensor::platform::VirtualClock clock;
  vorsensor::sim::SensorScenario scenario;
  scenario.initialRegisters = {{0x02, 0x80}, {0x07, 0x41}, {0x0E, 0xB7}};
  vorsensor::sim::SimulatedSensor sensor(clock, vorsensor::kSensorInterfaceClass, scenario);
  vorsensor::SensorDevice device(sensor, clock);
  vorsensor::InstallProcessSensorDevice(&device);
  SimulatedUser user(sensor);
  sensor.SetRequestHook([&user](const vorsensor::sim::TraceEntry& e) { user.OnRequest(e); });

  int failures = 0;
  {
    CVorSensorN object(clock);
    PrintingSink sink;
    object.Advise(&sink);
    vorsensor::platform::DisplaySurface display(kDisplayWidth, kDisplayHeight, kFramesKept);
    object.SetDisplay(static_cast<int32_t>(display.handle()));
    object.Open();
    Say("Open: the object is open on the simulated sensor");

    Say("StartEnroll: finger 1, impressions 1 to 4");
    user.Queue({impression(1, 1), impression(1, 2), impression(1, 3), impression(1, 4)});
    object.StartEnroll();
    if (!WaitForEvent(sink, 1, object)) return Say("no enrolment event"), 1;

    Say("VerifyCapture: finger 1 again");
    user.Queue({impression(1, 4)});
    object.VerifyCapture();
    if (!WaitForEvent(sink, 2, object)) return Say("no verification event"), 1;

    Say("VerifyCapture: another finger (finger 2)");
    user.Queue({impression(2, 1)});
    object.VerifyCapture();
    if (!WaitForEvent(sink, 3, object)) return Say("no verification event"), 1;

    const std::string& enrolled = sink.texts[0];
    const std::string& same = sink.texts[1];
    const std::string& other = sink.texts[2];
    failures += Check("Verify(enrolled, same finger)", object.Verify(enrolled, same), 1);
    failures += Check("Verify(enrolled, other finger)", object.Verify(enrolled, other), 0);
    failures += Check("Identify(same finger, [other finger, enrolled])",
                      object.Identify(same, vorsensor::StringArray({other, enrolled})), 1);
    failures += Check("Identify(other finger, [enrolled])", object.Identify(other, vorsensor::StringArray({enrolled})),
                      -1);
    object.Close();
    Say("Close: " + std::to_string(clock.NowMilliseconds() / 1000) + " s of sensor time");

    // The live display's frames: the grey capture, then the ridges black on white.
    std::vector<vorsensor::imageio::GreyImage> frames;
    for (vorsensor::platform::DisplayFrame& f : display.TakeFrames()) {
      vorsensor::imageio::GreyImage image;
      image.width = f.width;
      image.height = f.height;
      image.pixels = std::move(f.pixels);
      char name[32];
      std::snprintf(name, sizeof(name), "frame_%02zu.png", frames.size() + 1);
      if (!vorsensor::imageio::WritePng((out / name).string(), image).ok()) {
        std::cerr << "vorsensor_demo: cannot write " << (out / name).string() << "\n";
        return 2;
      }
      frames.push_back(std::move(image));
    }
    const vorsensor::imageio::GreyImage sheet = vorsensor::synth::ContactSheet(frames, 4, 8);
    if (!vorsensor::imageio::WritePng((out / "contact_sheet.png").string(), sheet).ok()) {
      std::cerr << "vorsensor_demo: cannot write the contact sheet\n";
      return 2;
    }
    Say(std::to_string(frames.size()) + " display frames in " + out.string() + " (frame_NN.png, contact_sheet.png)");
  }
  sensor.SetRequestHook(nullptr);
  vorsensor::InstallProcessSensorDevice(nullptr);
  Say(failures == 0 ? "demo: every answer as expected" : "demo: " + std::to_string(failures) + " unexpected answers");
  return failures == 0 ? 0 : 1;
}
