// vorsensor verify: placeholder until the command lands.
#include <iostream>

#include "tools/command.h"

namespace vorsensor::tools {

void AddVerifyCommand(CLI::App& app, int& exitCode) {
  CLI::App* cmd = app.add_subcommand("verify", "not available yet");
  cmd->callback([&exitCode] {
    std::cerr << "vorsensor verify: not available yet\n";
    exitCode = 2;
  });
}

}  // namespace vorsensor::tools
