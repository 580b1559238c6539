#pragma once
// Sub-commands of the vorsensor tool. Each registers its options on the root
// app and stores its exit code in `exitCode` when it runs: 0 success (or
// "match"), 1 a negative answer ("no match"), 2 an error.
#include <CLI/CLI.hpp>

namespace vorsensor::tools {

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
