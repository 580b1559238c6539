#pragma once
// The fingerprint images tests and benchmarks extract: the committed generated
// set (data/synth, 6 fingers x 4 impressions) and the rows of the shared
// development folder's manifest.csv (none when the folder is absent).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_paths.h"

namespace vorsensor::testing {

constexpr int32_t kSynthFingers = 6;
constexpr int32_t kSynthImpressions = 4;
constexpr int32_t kUnstatedResolution = 500;  // what the tools take when a set states none

struct FingerprintImage {
  std::string path;
  std::string set;
  std::string finger;  // equal exactly for impressions of one finger
  int32_t impression;  // from 1
  int32_t width;
  int32_t height;
  int32_t dpi;
};

inline std::vector<FingerprintImage> SynthImages() {
  std::vector<FingerprintImage> images;
  for (int32_t f = 1; f <= kSynthFingers; ++f) {
    for (int32_t i = 1; i <= kSynthImpressions; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "f%02d_i%d.png", f, i);
      images.push_back({(SourceDir() / "data" / "synth" / name).string(), "synth", "synth:" + std::to_string(f), i,
                        256, 288, 500});
    }
  }
  return images;
}

// Every manifest row, in file order; empty when the shared folder is absent
// or has no readable manifest.
inline std::vector<FingerprintImage> SharedImages() {
  std::vector<FingerprintImage> images;
  const std::filesystem::path dir = SharedDataDir();
  if (dir.empty()) return images;
  std::ifstream manifest(dir / "manifest.csv");
  std::string line;
  std::getline(manifest, line);  // the header: file,set,finger,impression,width,height,dpi
  while (std::getline(manifest, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // CRLF line ends
    std::vector<std::string> field;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) field.push_back(cell);
    if (field.size() != 7 || field[3].empty() || field[4].empty() || field[5].empty()) continue;
    const int32_t dpi = field[6] == "unknown" ? kUnstatedResolution : std::stoi(field[6]);
    images.push_back({(dir / field[0]).string(), field[1], field[2], std::stoi(field[3]), std::stoi(field[4]),
                      std::stoi(field[5]), dpi});
  }
  return images;
}

}  // namespace vorsensor::testing
