// vorsensor synth: placeholder until the command lands.
#include <iostream>

#include "tools/command.h"

namespace vorsensor::tools {

void AddSynthCommand(CLI::App& app, int& exitCode) {
  CLI::App* cmd = app.add_subcommand("synth", "not available yet");
  cmd->callback([&exitCode] {
    std::cerr << "vorsensor synth: not available yet\n";
    exitCode = 2;
  });
}

}  // namespace vorsensor::tools
