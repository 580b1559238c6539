#pragma once
// A temporary folder holding some of the committed synthetic fingerprints
// (data/synth: fingers f01..f06, impressions i1..i4), for evaluation tests.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/test_paths.h"

namespace vorsensor::testing {

class SynthFolder {
 public:
  explicit SynthFolder(const std::string& tag)
      : dir_(std::filesystem::temp_directory_path() / ("vorsensor_eval_" + tag + "_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~SynthFolder() { std::filesystem::remove_all(dir_); }
  SynthFolder(const SynthFolder&) = delete;
  SynthFolder& operator=(const SynthFolder&) = delete;

  // Copies impressions 1..impressions of fingers 1..fingers.
  void CopyFingers(int fingers, int impressions) {
    for (int f = 1; f <= fingers; ++f) {
      for (int i = 1; i <= impressions; ++i) {
        const std::string name = "f0" + std::to_string(f) + "_i" + std::to_string(i) + ".png";
        std::filesystem::copy_file(SourceDir() / "data" / "synth" / name, dir_ / name);
      }
    }
  }
  void Write(const std::string& name, const std::string& contents) {
    std::ofstream(dir_ / name, std::ios::binary) << contents;
  }
  std::string Path() const { return dir_.string(); }

 private:
  std::filesystem::path dir_;
};

}  // namespace vorsensor::testing
