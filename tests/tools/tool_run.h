#pragma once
// Runs the vorsensor tool (or a shell command around it) as a user would and
// collects its exit code and what it printed; `ToolTest` gives each test a
// scratch folder for the tool's inputs and outputs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vorsensor::testing {

struct ToolRun {
  int exitCode;
  std::string output;  // standard output, with standard error joined unless kept apart
  std::string err;     // standard error, when kept apart
};

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// `command` runs under /bin/sh; standard error goes to `errFile` when one is
// named (and is read back from it), otherwise it is joined to the output.
inline ToolRun Shell(const std::string& command, const std::string& errFile = "") {
  const std::string redirect = errFile.empty() ? " 2>&1" : " 2>" + errFile;
  FILE* pipe = popen(("(" + command + ")" + redirect).c_str(), "r");
  if (pipe == nullptr) return {-1, "", ""};
  std::string output;
  std::array<char, 4096> chunk{};
  size_t n = 0;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), n);
  const int status = pclose(pipe);
  std::string err;
  if (!errFile.empty()) {
    err = ReadText(errFile);
    std::filesystem::remove(errFile);
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output, err};
}

inline std::string ToolPath() { return VS_VORSENSOR_BINARY; }

// The tool with standard error joined to its output.
inline ToolRun Vorsensor(const std::string& arguments) { return Shell(ToolPath() + " " + arguments); }

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("vorsensor_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The tool with standard error kept apart (in a file beside the scratch
  // folder, so that a folder given to the tool holds only the test's files).
  ToolRun Run(const std::string& arguments) const {
    return Shell(ToolPath() + " " + arguments, dir_.string() + ".stderr");
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string File(const std::string& name, const std::string& contents) const {
    std::ofstream(dir_ / name, std::ios::binary) << contents;
    return Path(name);
  }

  // The names in the scratch folder.
  std::vector<std::string> Written() const {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(dir_)) names.push_back(item.path().filename().string());
    return names;
  }

  static std::string Synth(const std::string& name) {
    return (std::filesystem::path(VS_SOURCE_DIR) / "data" / "synth" / name).string();
  }

  std::filesystem::path dir_;
};

}  // namespace vorsensor::testing
