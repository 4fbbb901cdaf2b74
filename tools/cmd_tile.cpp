// kmztile tile WORKDIR LEVEL ROW COL -o FILE [--coords FILE]: builds one tile
// of the geographic pyramid from an imported working folder.
#include <iostream>

#include "BaseParser.h"
#include "Command.h"
#include "ProblemReport.h"
#include "build/OutputFiles.h"
#include "platform/LastError.h"

namespace {

struct TileOptions {
  std::string workFolder;
  long level = 0, row = 0, column = 0;
  std::string output;
  std::string coords;
};

int RunTile(const TileOptions& opt) {
  CBaseParser parser;
  const std::string coords = opt.coords.empty() ? opt.workFolder + "/coords.txt" : opt.coords;
  parser.SetRequireFile(opt.workFolder, "", coords);
  std::string kmz;
  const bool built = parser.CreateTile(CreateGeographicPyramid(), opt.level, opt.row, opt.column, &kmz);
  kmztool::PrintRecordedProblems("tile");
  if (!built) {
    const std::string& why = kmztile::platform::LastError();
    std::cerr << "kmztile tile: cannot build tile " << opt.level << "-" << opt.row << "-" << opt.column << " of "
              << opt.workFolder << ": " << (why.empty() ? "the library gave no reason" : why) << "\n";
    return kmztool::kFailed;
  }
  if (kmz.empty()) {
    std::cout << "tile " << opt.level << "-" << opt.row << "-" << opt.column << " holds no model; " << opt.output
              << " not written\n";
    return kmztool::kOk;
  }
  try {
    kmztool::build::WriteFileAtomically(opt.output, kmz);
  } catch (const std::exception& e) {
    std::cerr << "kmztile tile: " << e.what() << "\n";
    return kmztool::kFailed;
  }
  std::cout << "tile " << opt.level << "-" << opt.row << "-" << opt.column << ": " << parser.GetLastTileModelCount()
            << " model(s), " << kmz.size() << " bytes written to " << opt.output << "\n";
  return kmztool::kOk;
}

const kmztool::CommandRegistrar kRegisterTile("tile", [](CLI::App& app, int& exitCode) {
  auto opt = std::make_shared<TileOptions>();
  CLI::App* cmd = app.add_subcommand("tile", "Build one tile KMZ of the geographic pyramid from an imported folder");
  cmd->add_option("workdir", opt->workFolder, "Working folder holding the packages and level folders")->required();
  cmd->add_option("level", opt->level, "Pyramid level")->required();
  cmd->add_option("row", opt->row, "Tile row")->required();
  cmd->add_option("column", opt->column, "Tile column")->required();
  cmd->add_option("-o,--output", opt->output, "File to write the tile KMZ to")->required();
  cmd->add_option("--coords", opt->coords, "Coordinates file (default WORKDIR/coords.txt)");
  cmd->callback([opt, &exitCode] { exitCode = RunTile(*opt); });
});

}  // namespace
