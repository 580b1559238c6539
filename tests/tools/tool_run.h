#pragma once
// Runs the vorsensor tool (or a shell command around it) and collects its
// exit code and everything it printed.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace vorsensor::testing {

struct ToolRun {
  int exitCode;
  std::string output;
};

// `command` runs under /bin/sh with standard error joined to the output.
inline ToolRun Shell(const std::string& command) {
  FILE* pipe = popen(("(" + command + ") 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    return {-1, ""};
  }
  std::string output;
  std::array<char, 256> chunk{};
  size_t n = 0;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    output.append(chunk.data(), n);
  }
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

inline std::string ToolPath() { return VS_VORSENSOR_BINARY; }

inline ToolRun Vorsensor(const std::string& arguments) { return Shell(ToolPath() + " " + arguments); }

}  // namespace vorsensor::testing
