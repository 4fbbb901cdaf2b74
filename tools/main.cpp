// kmztile: build tile pyramids from 3D building models and read tiles back.
#include <algorithm>
#include <iostream>

#include "Command.h"
#include "platform/Version.h"

namespace kmztool {

std::vector<std::pair<std::string, CommandSetup>>& Commands() {
  static std::vector<std::pair<std::string, CommandSetup>> commands;
  return commands;
}

CommandRegistrar::CommandRegistrar(std::string name, CommandSetup setup) {
  Commands().emplace_back(std::move(name), std::move(setup));
}

}  // namespace kmztool

int main(int argc, char** argv) {
  CLI::App app{"kmztile: turns textured 3D building models into quad-tree tile KMZs and reads them back"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("kmztile ") + kmztile::platform::Version());
  int exitCode = kmztool::kOk;
  auto& commands = kmztool::Commands();
  std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [name, setup] : commands) setup(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : kmztool::kUsage;
  }
  return exitCode;
}
