// vorsensor: the command-line face of the fingerprint engine.
#include <CLI/CLI.hpp>

#include "tools/command.h"

int main(int argc, char** argv) {
  CLI::App app{"vorsensor: fingerprint engine tools"};
  app.require_subcommand(1);
  // Every error is one line (CLI11 would add a second pointing at --help).
  app.failure_message(
      [](const CLI::App*, const CLI::Error& e) { return "vorsensor: " + std::string(e.what()) + "\n"; });
  int exitCode = 0;
  vorsensor::tools::AddSynthCommand(app, exitCode);
  vorsensor::tools::AddVerifyCommand(app, exitCode);
  vorsensor::tools::AddExtractCommand(app, exitCode);
  vorsensor::tools::AddIdentifyCommand(app, exitCode);
  vorsensor::tools::AddInspectCommand(app, exitCode);
  vorsensor::tools::AddDrawCommand(app, exitCode);
  vorsensor::tools::AddSensorCommand(app, exitCode);
  vorsensor::tools::AddEnrollCommand(app, exitCode);
  vorsensor::tools::AddEvalCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  return exitCode;
}
