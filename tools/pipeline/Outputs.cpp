// The index files of a finished build: tileset.json, root.kml, overview.svg.
#include <set>

#include "BuildPipeline.h"
#include "build/OutputFiles.h"
#include "build/RootKml.h"
#include "build/Tileset.h"
#include "pipeline/BuildState.h"
#include "platform/Version.h"

namespace fs = std::filesystem;

namespace kmztool {

bool WriteBuildOutputs(const std::string& outText, std::vector<build::TileRecord>& tiles, std::string& error) {
  const fs::path out(outText);
  const nlohmann::json info = pipeline::ReadBuildInfo(out);
  std::vector<build::ModelPoint> points;
  if (info.contains("points"))
    for (const auto& p : info.at("points")) points.push_back({p.at(0).get<double>(), p.at(1).get<double>()});
  build::Tileset tileset;
  std::set<long> levels;
  for (const auto& t : tiles) levels.insert(t.key.level);
  tileset.settings = {{"source", info.value("source", "")}, {"crs", info.value("crs", "")},
                      {"levels", std::vector<long>(levels.begin(), levels.end())},
                      {"models", points.size()}, {"generator", std::string("kmztile ") + kmztile::platform::Version()}};
  tileset.tiles = tiles;
  try {
    build::WriteFileAtomically((out / "tileset.json").string(), build::TilesetJson(tileset));
    build::WriteFileAtomically((out / "root.kml").string(), build::RootKml(tiles, build::RootKmlOptions{}));
    build::WriteFileAtomically((out / "overview.svg").string(),
                               build::OverviewSvg(tiles, points, build::OverviewOptions{}));
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace kmztool
