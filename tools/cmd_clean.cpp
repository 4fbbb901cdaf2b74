// kmztile clean WORKDIR: deletes the KML, model and tile files of the level
// folders and removes the emptied folders, so the next import runs again.
#include <iostream>

#include "BaseParser.h"
#include "Command.h"
#include "ProblemReport.h"

namespace {

int RunClean(const std::string& workdir) {
  // The parser acts only on its working folder exactly as it stores it.
  std::string stored = workdir;
  if (stored.empty() || stored.back() != '\\') stored += '\\';
  CBaseParser parser;
  parser.SetRequireFile(workdir, "", "");
  const bool cleaned = parser.DeleteFileAndDirectory(stored);
  kmztool::PrintRecordedProblems("clean");
  if (!cleaned) {
    std::cerr << "kmztile clean: cannot clean " << workdir
              << ": a level folder (1 to 4) is missing, cannot be listed or is a symbolic link\n";
    return kmztool::kFailed;
  }
  std::cout << "cleaned " << workdir << "\n";
  return kmztool::kOk;
}

const kmztool::CommandRegistrar kRegisterClean("clean", [](CLI::App& app, int& exitCode) {
  auto workdir = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand("clean", "Delete the level folders' KML, model and tile files and the folders");
  cmd->add_option("workdir", *workdir, "Working folder")->required();
  cmd->callback([workdir, &exitCode] { exitCode = RunClean(*workdir); });
});

}  // namespace
