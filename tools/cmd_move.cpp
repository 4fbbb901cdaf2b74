// kmztile move PKG.kmz LON LAT: moves the model of a KMZ package to a new
// position, rewriting the package only once the new archive is complete.
#include <iostream>

#include "BaseParser.h"
#include "Command.h"
#include "platform/LastError.h"

namespace {

struct MoveOptions {
  std::string file;
  double longitude = 0;
  double latitude = 0;
};

int RunMove(const MoveOptions& opt) {
  if (!CBaseParser::UpdateLocationInKml(opt.file, opt.longitude, opt.latitude)) {
    // An archive the library refused says why; other refusals have one rule.
    const std::string& why = kmztile::platform::LastError();
    if (!why.empty()) {
      std::cerr << "kmztile move: " << opt.file << ": " << why << "; the file was not changed\n";
      return kmztool::kFailed;
    }
    std::cerr << "kmztile move: " << opt.file << " was not changed: the position must lie within -180..180 and "
              << "-90..90, and the file must be a readable KMZ whose KML Folder holds a model placemark with a link\n";
    return kmztool::kFailed;
  }
  return kmztool::kOk;
}

const kmztool::CommandRegistrar kRegisterMove("move", [](CLI::App& app, int& exitCode) {
  auto opt = std::make_shared<MoveOptions>();
  CLI::App* cmd = app.add_subcommand("move", "Move the model of a KMZ package to a new longitude/latitude");
  cmd->add_option("file", opt->file, "KMZ package to rewrite")->required();
  cmd->add_option("lon", opt->longitude, "New longitude in degrees")->required();
  cmd->add_option("lat", opt->latitude, "New latitude in degrees")->required();
  cmd->callback([opt, &exitCode] { exitCode = RunMove(*opt); });
});

}  // namespace
