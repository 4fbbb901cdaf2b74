#pragma once
// Subcommands of the kmztile command register themselves here, one file each.
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace kmztool {

/** Exit codes shared by every subcommand. */
enum ExitCode : int { kOk = 0, kFailed = 1, kUsage = 2 };

/** Adds one subcommand to the application; the callback's result is the exit code. */
using CommandSetup = std::function<void(CLI::App& app, int& exitCode)>;

/** Registers a subcommand; called from a static object in each cmd_*.cpp. */
struct CommandRegistrar {
  CommandRegistrar(std::string name, CommandSetup setup);
};

/** All registered subcommands, sorted by name. */
std::vector<std::pair<std::string, CommandSetup>>& Commands();

}  // namespace kmztool
