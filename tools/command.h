#pragma once
// Sub-commands of the vorsensor tool. Each registers its options on the root
// app and stores its exit code in `exitCode` when it runs: 0 success (or
// "match"), 1 a negative answer ("no match"), 2 an error.
#include <CLI/CLI.hpp>

#include <string>

namespace vorsensor::tools {

// Sets a sub-command's help from `text`: its first line is the summary the
// tool's own --help lists, the rest is printed below the options of the
// sub-command's --help.
inline void SetHelp(CLI::App* command, const std::string& text) {
  const size_t end = text.find('\n');
  std::string summary = text.substr(0, end);
  if (!summary.empty() && summary.back() == '.') summary.pop_back();
  command->description(summary);
  if (end != std::string::npos) command->footer(text.substr(end + 1));
}

void AddSynthCommand(CLI::App& app, int& exitCode);
void AddVerifyCommand(CLI::App& app, int& exitCode);
void AddExtractCommand(CLI::App& app, int& exitCode);
void AddIdentifyCommand(CLI::App& app, int& exitCode);
void AddInspectCommand(CLI::App& app, int& exitCode);
void AddDrawCommand(CLI::App& app, int& exitCode);
void AddSensorCommand(CLI::App& app, int& exitCode);
void AddEnrollCommand(CLI::App& app, int& exitCode);
void AddEvalCommand(CLI::App& app, int& exitCode);

}  // namespace vorsensor::tools
