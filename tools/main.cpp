// kmztile: build tile pyramids from 3D building models and read tiles back.
#include <algorithm>
#include <iostream>
#include <new>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "build/JsonText.h"
#include "platform/FaultInjection.h"
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
  std::string fault;
  if (!kmztile::platform::ArmFaultFromEnvironment(fault)) {
    std::cerr << "kmztile: " << fault << "\n";
    return kmztool::kUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    if (rc == 0) return 0;
    // A script that asked for JSON gets JSON, even about its arguments.
    if (std::any_of(argv + 1, argv + argc, [](const char* a) { return std::string(a) == "--json"; }))
      std::cout << kmztool::build::JsonText({{"error", e.what()}, {"exit_code", kmztool::kUsage}}, 2) << "\n";
    return kmztool::kUsage;
  } catch (const std::bad_alloc&) {
    std::cerr << "kmztile: out of memory\n";
    exitCode = kmztool::kFailed;
  } catch (const std::exception& e) {
    // Every subcommand reports its own failures; this is the last line of
    // defence, so that no failure ends in an abort without a word.
    std::cerr << "kmztile: " << e.what() << "\n";
    exitCode = kmztool::kFailed;
  }
  // Tells a fault-injection test that its fault lies beyond this run's operations.
  const std::string unfired = kmztile::platform::UnfiredEnvironmentFault();
  if (!unfired.empty()) std::cerr << "kmztile: injected fault " << unfired << "\n";
  return exitCode;
}
