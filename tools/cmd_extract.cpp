// vorsensor extract: placeholder until the command lands.
#include <iostream>

#include "tools/command.h"

namespace vorsensor::tools {

void AddExtractCommand(CLI::App& app, int& exitCode) {
  CLI::App* cmd = app.add_subcommand("extract", "not available yet");
  cmd->callback([&exitCode] {
    std::cerr << "vorsensor extract: not available yet\n";
    exitCode = 2;
  });
}

}  // namespace vorsensor::tools
