// kmztile index W E S N LEVEL [--json]: the tile rows and columns covering an
// extent at one level of the geographic quad-tree pyramid.
#include <iostream>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "Command.h"
#include "build/JsonText.h"

namespace {

struct IndexOptions {
  double west = 0, east = 0, south = 0, north = 0;
  long level = 0;
  bool json = false;
};

int RunIndex(const IndexOptions& opt) {
  if (opt.level < 0 || opt.level > 40) {
    std::cerr << "kmztile index: level " << opt.level << " is outside 0 to 40\n";
    return kmztool::kUsage;
  }
  CBaseParser parser;
  long firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
  parser.TileIndex(opt.west, opt.east, opt.south, opt.north, opt.level, CreateGeographicPyramid(), &firstRow,
                   &firstColumn, &lastRow, &lastColumn);
  if (opt.json) {
    nlohmann::json out = {{"level", opt.level},       {"firstRow", firstRow}, {"firstColumn", firstColumn},
                          {"lastRow", lastRow},       {"lastColumn", lastColumn}};
    std::cout << kmztool::build::JsonText(out, 2) << "\n";
  } else {
    std::cout << "level " << opt.level << ": rows " << firstRow << " to " << lastRow << ", columns " << firstColumn
              << " to " << lastColumn << "\n";
  }
  return kmztool::kOk;
}

const kmztool::CommandRegistrar kRegisterIndex("index", [](CLI::App& app, int& exitCode) {
  auto opt = std::make_shared<IndexOptions>();
  CLI::App* cmd = app.add_subcommand("index", "Tile rows and columns covering an extent (geographic pyramid)");
  cmd->add_option("west", opt->west, "West edge, degrees")->required();
  cmd->add_option("east", opt->east, "East edge, degrees")->required();
  cmd->add_option("south", opt->south, "South edge, degrees")->required();
  cmd->add_option("north", opt->north, "North edge, degrees")->required();
  cmd->add_option("level", opt->level, "Pyramid level")->required();
  cmd->add_flag("--json", opt->json, "Print JSON for machines");
  cmd->callback([opt, &exitCode] { exitCode = RunIndex(*opt); });
});

}  // namespace
