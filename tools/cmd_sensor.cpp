// vorsensor sensor convert|frame|finger|trace|show: raw sensor frames to images
// and back, the finger check, the request protocol run on the simulated sensor,
// and an image drawn as the live display draws it.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "device/driver_contract.h"
#include "device/finger_detection.h"
#include "device/frame_acquisition.h"
#include "device/frame_conversion.h"
#include "device/sensor_commands.h"
#include "device/sensor_device.h"
#include "imageio/image_io.h"
#include "platform/display.h"
#include "platform/display_surface.h"
#include "platform/virtual_clock.h"
#include "sim/finger_source.h"
#include "sim/request_trace.h"
#include "sim/simulated_sensor.h"
#include "tools/command.h"

namespace vorsensor::tools {
namespace {

// A raw dump larger than this is not a frame file.
constexpr uintmax_t kLargestRawFile = 1 << 24;

struct SensorOptions {
  std::string input;
  std::string output;
  int64_t bytes = -1;
  bool json = false;
  std::string command;
  int64_t width = 0;
  int64_t height = 0;
  bool twoColour = false;
};

int Fail(const std::string& sub, const std::string& message) {
  std::cerr << "vorsensor sensor " << sub << ": " << message << "\n";
  return 2;
}

int RunConvert(const SensorOptions& o) {
  std::ifstream in(o.input, std::ios::binary);
  if (!in) return Fail("convert", "cannot read " + o.input);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() > kLargestRawFile) return Fail("convert", o.input + " is larger than 16 MiB");
  if (o.bytes < -1 || o.bytes > UINT32_MAX) return Fail("convert", "--bytes must be 0..4294967295");
  // As a frame read: the buffer starts white and the driver's byte count decides.
  std::vector<uint8_t> raw(kRawFrameBytes, 0xFF);
  std::copy_n(file.begin(), std::min<size_t>(file.size(), raw.size()), raw.begin());
  const uint32_t returned = o.bytes >= 0 ? static_cast<uint32_t>(o.bytes) : static_cast<uint32_t>(file.size());
  std::vector<uint8_t> a(kSensorPlaneBytes), b(kSensorPlaneBytes);
  imageio::GreyImage image;
  image.width = kImageWidth;
  image.height = kImageHeight;
  image.dpi = 500;
  image.pixels.resize(kImageBytes);
  const bool full = ConvertRawFrame(raw.data(), returned, a.data(), b.data(), image.pixels.data());
  const imageio::WriteResult written = imageio::WritePng(o.output, image);
  if (!written.ok()) return Fail("convert", written.error);
  if (!full) {
    std::cout << o.input << ": " << returned << " bytes, not a full frame of " << kRawFrameBytes
              << ": the white image, as the sensor gives for a short read\n";
  }
  return 0;
}

// A 256 x 288 image, or an error message.
std::string ReadSensorImage(const std::string& path, imageio::GreyImage* image) {
  imageio::ImageResult read = imageio::ReadImage(path);
  if (!read.ok()) return read.error;
  if (read.image.width != kImageWidth || read.image.height != kImageHeight) {
    return path + " is " + std::to_string(read.image.width) + " x " + std::to_string(read.image.height) +
           ", not the sensor's 256 x 288";
  }
  *image = std::move(read.image);
  return "";
}

int RunFrame(const SensorOptions& o) {
  imageio::GreyImage image;
  const std::string error = ReadSensorImage(o.input, &image);
  if (!error.empty()) return Fail("frame", error);
  const std::vector<uint8_t> raw = sim::RawFrameOf(image.pixels.data());
  std::ofstream out(o.output, std::ios::binary);
  out.write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
  if (!out) return Fail("frame", "cannot write " + o.output);
  return 0;
}

int RunFinger(const SensorOptions& o) {
  imageio::GreyImage image;
  const std::string error = ReadSensorImage(o.input, &image);
  if (!error.empty()) return Fail("finger", error);
  const FingerEvidence e = JudgeFingerImage(image.pixels.data(), image.width, image.height);
  if (o.json) {
    std::cout << "{\"finger\":" << (e.present ? "true" : "false") << ",\"count\":" << e.foregroundBlocks
              << ",\"mean\":" << e.meanGrey << "}\n";
  } else {
    std::cout << "finger=" << (e.present ? "yes" : "no") << " count=" << e.foregroundBlocks << " mean=" << e.meanGrey
              << "\n";
  }
  return e.present ? 0 : 1;
}

int RunTrace(const SensorOptions& o) {
  platform::VirtualClock clock;
  sim::SensorScenario scenario;
  scenario.initialRegisters = {{0x02, 0x80}, {0x07, 0x41}, {0x0E, 0xB7}};
  sim::SimulatedSensor driver(clock, kSensorInterfaceClass, scenario);
  SensorDevice device(driver, clock);
  FindSensors(device);
  // The commands before the one asked for run untraced.
  const std::string& c = o.command;
  if (c == "start" || c == "end") PrepareCapture(device);
  if (c == "end") {
    StartCapture(device);
    std::vector<uint8_t> image(kImageBytes);
    ReadFrame(device, image.data());
  }
  driver.ClearTrace();
  driver.RecordWaitsOf(clock);
  const uint64_t start = clock.NowMilliseconds();
  int32_t result = 0;
  if (c == "powerup") result = OpenSensor(device, 0);
  if (c == "prepare") result = PrepareCapture(device);
  if (c == "start") result = StartCapture(device);
  if (c == "end") result = EndCapture(device);
  for (const sim::TraceEntry& e : driver.Trace()) {
    std::cout << "+" << e.timeMs - start << " ms  " << sim::TraceLine(e) << "\n";
  }
  std::cout << c << ": result " << result << ", " << clock.NowMilliseconds() - start << " ms\n";
  return result != 0 ? 0 : 1;
}

int RunShow(const SensorOptions& o) {
  for (const auto& [name, value] : {std::pair<const char*, int64_t>{"WIDTH", o.width}, {"HEIGHT", o.height}}) {
    if (value < 1 || value > platform::kDisplaySideMax) {
      return Fail("show", std::string(name) + " " + std::to_string(value) + " is not 1.." +
                              std::to_string(platform::kDisplaySideMax));
    }
  }
  imageio::ImageResult read = imageio::ReadImage(o.input);
  if (!read.ok()) return Fail("show", read.error);
  platform::DisplaySurface surface(static_cast<int32_t>(o.width), static_cast<int32_t>(o.height));
  platform::ShowImage(surface.handle(), read.image.pixels.data(), read.image.width, read.image.height,
                      o.twoColour ? platform::PaletteKind::kTwoColour : platform::PaletteKind::kGrey);
  const platform::DisplayFrame frame = surface.Read();
  imageio::GreyImage shown;
  shown.width = frame.width;
  shown.height = frame.height;
  shown.dpi = read.image.dpi;
  shown.pixels = frame.pixels;
  const imageio::WriteResult written = imageio::WritePng(o.output, shown);
  if (!written.ok()) return Fail("show", written.error);
  return 0;
}

}  // namespace

void AddSensorCommand(CLI::App& app, int& exitCode) {
  CLI::App* sensor = app.add_subcommand("sensor", "Raw sensor frames, the finger check and the sensor protocol");
  sensor->require_subcommand(1);
  auto o = std::make_shared<SensorOptions>();

  CLI::App* convert = sensor->add_subcommand(
      "convert", "A raw frame file (288 rows of 354 bytes) to the 256 x 288 image, exactly as a frame read converts it");
  convert->add_option("RAW", o->input, "raw frame file")->required();
  convert->add_option("-o,--output", o->output, "PNG image to write")->required();
  convert->add_option("--bytes", o->bytes, "byte count the driver reported (default: the file's size)");
  convert->callback([&exitCode, o] { exitCode = RunConvert(*o); });

  CLI::App* frame = sensor->add_subcommand("frame", "A 256 x 288 image to the raw frame the simulated sensor serves");
  frame->add_option("IMAGE", o->input, "256 x 288 grey image")->required();
  frame->add_option("-o,--output", o->output, "raw frame file to write")->required();
  frame->callback([&exitCode, o] { exitCode = RunFrame(*o); });

  CLI::App* finger = sensor->add_subcommand(
      "finger", "Whether a finger lies on the sensor in a 256 x 288 image (exit 0 yes, 1 no, 2 error)");
  finger->add_option("IMAGE", o->input, "256 x 288 grey image")->required();
  finger->add_flag("--json", o->json, "print one JSON object");
  finger->callback([&exitCode, o] { exitCode = RunFinger(*o); });

  CLI::App* trace = sensor->add_subcommand(
      "trace", "The requests and waits of one sensor command, on the simulated sensor and a virtual clock");
  trace->add_option("COMMAND", o->command, "powerup, prepare (from a closed device), start or end")
      ->required()
      ->check(CLI::IsMember({"powerup", "prepare", "start", "end"}));
  trace->callback([&exitCode, o] { exitCode = RunTrace(*o); });

  CLI::App* show = sensor->add_subcommand(
      "show", "An image stretched over a WIDTH x HEIGHT display exactly as the live display draws it");
  show->add_option("IMAGE", o->input, "grey image")->required();
  show->add_option("WIDTH", o->width, "display width (1..8192)")->required();
  show->add_option("HEIGHT", o->height, "display height (1..8192)")->required();
  show->add_option("-o,--output", o->output, "PNG image to write")->required();
  show->add_flag("--two-colour", o->twoColour, "the two-colour palette: only 0 pixels black, all else white");
  show->callback([&exitCode, o] { exitCode = RunShow(*o); });
}

}  // namespace vorsensor::tools
