// vorsensor synth: writes a set of synthetic fingerprints (PNG, 500 dpi), a
// truth file with each finger's class and the singular points of each
// impression, and optionally a contact sheet of the whole set.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_configuration.h"
#include "imageio/image_io.h"
#include "synth/finger_set.h"
#include "synth/impression.h"
#include "synth/master_fingerprint.h"
#include "tools/command.h"

namespace vorsensor::tools {

namespace {

constexpr int32_t kMaxFingers = 10000;
constexpr int32_t kMaxImpressions = 100;
constexpr int32_t kMinSide = 16;
constexpr int32_t kSheetGap = 8;

// The impressions are 500 dpi, so their sides may be as large as the largest
// side the extraction takes at 500 dpi and no larger.
int32_t LargestExtractedSide() {
  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  return static_cast<int32_t>(config.maxImageSide);
}

struct SynthOptions {
  std::string out;
  int32_t fingers = 6;
  int32_t impressions = 4;
  uint64_t seed = 1;
  int32_t width = synth::kDefaultImpressionWidth;
  int32_t height = synth::kDefaultImpressionHeight;
  std::string contactSheet;
};

int Digits(int32_t n) {
  int d = 1;
  while (n >= 10) {
    n /= 10;
    ++d;
  }
  return d;
}

std::string FileName(int32_t finger, int32_t impression, const SynthOptions& o) {
  const int fd = std::max(2, Digits(o.fingers));
  const int id = Digits(o.impressions);
  const auto padded = [](int32_t value, int width) {
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), '0');
    return text;
  };
  return "f" + padded(finger + 1, fd) + "_i" + padded(impression + 1, id) + ".png";
}

// The size of the contact sheet of the whole set, laid out as
// synth::ContactSheet lays it out: one finger per row, `gap` pixels around
// every cell.
int64_t SheetSide(int64_t cells, int64_t cell) { return cells * cell + (cells + 1) * kSheetGap; }

// Checks every limit before anything is generated; the message when one is broken.
std::string CheckLimits(const SynthOptions& o) {
  const int64_t most = LargestExtractedSide();
  for (const auto& [option, value] : {std::pair{"--width", o.width}, std::pair{"--height", o.height}}) {
    if (value < kMinSide || value > most) {
      return std::string(option) + " " + std::to_string(value) + " is outside " + std::to_string(kMinSide) + ".." +
             std::to_string(most) + " (the image sides extract accepts at 500 dpi)";
    }
  }
  if (!o.contactSheet.empty()) {
    const int64_t w = SheetSide(o.impressions, o.width);
    const int64_t h = SheetSide(o.fingers, o.height);
    if (w > imageio::kMaxImageSide || h > imageio::kMaxImageSide || w * h > imageio::kMaxImagePixels) {
      return "--contact-sheet " + o.contactSheet + " would be " + std::to_string(w) + " x " + std::to_string(h) +
             " pixels, over the limit of " + std::to_string(imageio::kMaxImageSide) + " pixels a side and " +
             std::to_string(imageio::kMaxImagePixels) + " pixels in all";
    }
  }
  return {};
}

// The files of one run: on failure every file the run has written is removed,
// and the output folder too when the run made it.
class RunFiles {
 public:
  bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    return Keep(path, imageio::WriteFileBytes(path, bytes));
  }
  bool WritePng(const std::string& path, const imageio::GreyImage& image) {
    return Keep(path, imageio::WritePng(path, image));
  }
  int Fail(const std::string& message, const std::filesystem::path& madeFolder) {
    std::error_code ec;
    for (const std::string& path : written_) std::filesystem::remove(path, ec);
    if (!madeFolder.empty()) std::filesystem::remove(madeFolder, ec);
    std::cerr << "vorsensor synth: " << message << "\n";
    return 2;
  }
  const std::string& error() const { return error_; }

 private:
  bool Keep(const std::string& path, const imageio::WriteResult& result) {
    if (!result.ok()) {
      error_ = result.error;
      return false;
    }
    written_.push_back(path);
    return true;
  }
  std::vector<std::string> written_;
  std::string error_;
};

int Run(const SynthOptions& o) {
  if (std::string error = CheckLimits(o); !error.empty()) {
    std::cerr << "vorsensor synth: " << error << "\n";
    return 2;
  }
  std::error_code ec;
  const std::filesystem::path dir(o.out);
  const std::filesystem::path madeFolder = std::filesystem::exists(dir, ec) ? std::filesystem::path() : dir;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::cerr << "vorsensor synth: cannot create " << o.out << ": " << ec.message() << "\n";
    return 2;
  }
  RunFiles files;
  std::string truth = "file,finger,impression,class,kind,x,y,inside\n";
  synth::ImpressionOptions size;
  size.width = o.width;
  size.height = o.height;
  std::vector<imageio::GreyImage> sheet;
  for (int32_t f = 0; f < o.fingers; ++f) {
    synth::SynthFinger finger = synth::MakeFinger(o.seed, f, o.impressions, size);
    for (int32_t i = 0; i < o.impressions; ++i) {
      synth::Impression& imp = finger.impressions[static_cast<size_t>(i)];
      const std::string name = FileName(f, i, o);
      if (!files.WritePng((dir / name).string(), imp.image)) return files.Fail(files.error(), madeFolder);
      const std::string prefix = name + "," + std::to_string(f + 1) + "," + std::to_string(i + 1) + "," +
                                 synth::PatternClassName(finger.pattern) + ",";
      if (imp.singular.empty()) {
        truth += prefix + "none,,,\n";
      }
      for (const synth::SingularPoint& s : imp.singular) {
        char xy[64];
        std::snprintf(xy, sizeof xy, "%.1f,%.1f", s.x, s.y);
        truth += prefix + synth::SingularKindName(s.kind) + "," + xy + "," +
                 (synth::InsideImage(imp, s) ? "1" : "0") + "\n";
      }
      if (!o.contactSheet.empty()) {
        sheet.push_back(std::move(imp.image));
      }
    }
  }
  if (!files.Write((dir / "truth.csv").string(), std::vector<uint8_t>(truth.begin(), truth.end()))) {
    return files.Fail(files.error(), madeFolder);
  }
  if (!o.contactSheet.empty() &&
      !files.WritePng(o.contactSheet, synth::ContactSheet(sheet, o.impressions, kSheetGap))) {
    return files.Fail(files.error(), madeFolder);
  }
  std::cout << "wrote " << o.fingers * o.impressions << " impressions of " << o.fingers << " fingers to " << o.out
            << "\n";
  return 0;
}

}  // namespace

void AddSynthCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SynthOptions>();
  CLI::App* cmd = app.add_subcommand("synth", "Write synthetic fingerprint impressions (PNG, 500 dpi)");
  cmd->add_option("--out", options->out, "output folder")->required();
  cmd->add_option("--fingers", options->fingers, "number of fingers")->check(CLI::Range(1, kMaxFingers));
  cmd->add_option("--impressions", options->impressions, "impressions per finger")
      ->check(CLI::Range(1, kMaxImpressions));
  cmd->add_option("--seed", options->seed, "seed of the set");
  const std::string sides = std::to_string(kMinSide) + ".." + std::to_string(LargestExtractedSide());
  cmd->add_option("--width", options->width, "impression width in pixels (" + sides + ", as extract accepts)");
  cmd->add_option("--height", options->height, "impression height in pixels (" + sides + ", as extract accepts)");
  cmd->add_option("--contact-sheet", options->contactSheet,
                  "also write all impressions on one PNG, one finger per row (at most " +
                      std::to_string(imageio::kMaxImageSide) + " pixels a side and " +
                      std::to_string(imageio::kMaxImagePixels) + " in all)");
  cmd->callback([options, &exitCode] { exitCode = Run(*options); });
}

}  // namespace vorsensor::tools
