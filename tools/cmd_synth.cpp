// vorsensor synth: writes a set of synthetic fingerprints (PNG, 500 dpi), a
// truth file with each finger's class and the singular points of each
// impression, and optionally a contact sheet of the whole set.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "imageio/image_io.h"
#include "synth/finger_set.h"
#include "synth/impression.h"
#include "synth/master_fingerprint.h"
#include "tools/command.h"

namespace vorsensor::tools {

namespace {

constexpr int32_t kMaxFingers = 10000;
constexpr int32_t kMaxImpressions = 100;
constexpr int32_t kMaxSide = 4096;
constexpr int32_t kSheetGap = 8;

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

int Run(const SynthOptions& o) {
  std::error_code ec;
  std::filesystem::create_directories(o.out, ec);
  if (ec) {
    std::cerr << "vorsensor synth: cannot create " << o.out << ": " << ec.message() << "\n";
    return 2;
  }
  const std::filesystem::path dir(o.out);
  const std::filesystem::path truthPath = dir / "truth.csv";
  std::ofstream truth(truthPath);
  if (!truth) {
    std::cerr << "vorsensor synth: cannot create " << truthPath.string() << "\n";
    return 2;
  }
  truth << "file,finger,impression,class,kind,x,y,inside\n";
  synth::ImpressionOptions size;
  size.width = o.width;
  size.height = o.height;
  std::vector<imageio::GreyImage> sheet;
  for (int32_t f = 0; f < o.fingers; ++f) {
    synth::SynthFinger finger = synth::MakeFinger(o.seed, f, o.impressions, size);
    for (int32_t i = 0; i < o.impressions; ++i) {
      synth::Impression& imp = finger.impressions[static_cast<size_t>(i)];
      const std::string name = FileName(f, i, o);
      if (imageio::WriteResult r = imageio::WritePng((dir / name).string(), imp.image); !r.ok()) {
        std::cerr << "vorsensor synth: " << r.error << "\n";
        return 2;
      }
      const std::string prefix = name + "," + std::to_string(f + 1) + "," + std::to_string(i + 1) + "," +
                                 synth::PatternClassName(finger.pattern) + ",";
      if (imp.singular.empty()) {
        truth << prefix << "none,,,\n";
      }
      for (const synth::SingularPoint& s : imp.singular) {
        char xy[64];
        std::snprintf(xy, sizeof xy, "%.1f,%.1f", s.x, s.y);
        truth << prefix << synth::SingularKindName(s.kind) << "," << xy << ","
              << (synth::InsideImage(imp, s) ? 1 : 0) << "\n";
      }
      if (!o.contactSheet.empty()) {
        sheet.push_back(std::move(imp.image));
      }
    }
  }
  truth.close();
  if (!truth) {
    std::cerr << "vorsensor synth: write failed: " << truthPath.string() << "\n";
    return 2;
  }
  if (!o.contactSheet.empty()) {
    const imageio::GreyImage image = synth::ContactSheet(sheet, o.impressions, kSheetGap);
    if (imageio::WriteResult r = imageio::WritePng(o.contactSheet, image); !r.ok()) {
      std::cerr << "vorsensor synth: " << r.error << "\n";
      return 2;
    }
  }
  std::cout << "wrote " << o.fingers * o.impressions << " impressions of " << o.fingers << " fingers to " << o.out
            << "\n";
  return 0;
}

}  // namespace

void AddSynthCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SynthOptions>();
  CLI::App* cmd = app.add_subcommand("synth", "write synthetic fingerprint impressions (PNG, 500 dpi)");
  cmd->add_option("--out", options->out, "output folder")->required();
  cmd->add_option("--fingers", options->fingers, "number of fingers")->check(CLI::Range(1, kMaxFingers));
  cmd->add_option("--impressions", options->impressions, "impressions per finger")
      ->check(CLI::Range(1, kMaxImpressions));
  cmd->add_option("--seed", options->seed, "seed of the set");
  cmd->add_option("--width", options->width, "impression width in pixels")->check(CLI::Range(16, kMaxSide));
  cmd->add_option("--height", options->height, "impression height in pixels")->check(CLI::Range(16, kMaxSide));
  cmd->add_option("--contact-sheet", options->contactSheet,
                  "also write all impressions on one PNG, one finger per row");
  cmd->callback([options, &exitCode] { exitCode = Run(*options); });
}

}  // namespace vorsensor::tools
