// The index files of a finished build: tileset.json, root.kml, overview.svg.
#include <set>

#include "BuildPipeline.h"
#include "build/OutputFiles.h"
#include "build/SuperOverlay.h"
#include "build/Tileset.h"
#include "pipeline/BuildCatalog.h"
#include "platform/Version.h"

namespace fs = std::filesystem;

namespace kmztool {

bool WriteBuildOutputs(const std::string& outText, std::vector<build::TileRecord>& tiles, std::string& error) {
  const fs::path out(outText);
  try {
    pipeline::BuildCatalog catalog;
    pipeline::ReadCatalog(out, catalog);
    const nlohmann::json& info = catalog.settings.is_object() ? catalog.settings : nlohmann::json::object();
    std::vector<build::ModelPoint> points;
    points.reserve(catalog.models.size());
    for (const auto& m : catalog.models) points.push_back({m.lon, m.lat});
    build::Tileset tileset;
    std::set<long> levels;
    for (const auto& t : tiles) levels.insert(t.key.level);
    tileset.settings = {{"source", info.value("source", "")}, {"crs", info.value("crs", "")},
                        {"levels", std::vector<long>(levels.begin(), levels.end())},
                        {"models", points.size()}, {"generator", std::string("kmztile ") + kmztile::platform::Version()}};
    tileset.tiles = tiles;
    // Large builds list their tiles in parts; none of an earlier build's parts stays.
    build::RemoveTree((out / "tileset").string());
    for (const auto& [path, text] : build::TilesetFiles(tileset, build::kTilesPerTilesetFile))
      build::WriteFileAtomically((out / path).string(), text);
    // The index files are written anew: none of an earlier, larger build stays linked.
    build::RemoveTree((out / "index").string());
    const build::RootKmlOptions options;
    build::ForEachOverlayFile(tiles, options, build::kMaxRootLinks, [&](const build::OverlayFile& file) {
      build::WriteFileAtomically((out / file.path).string(), build::OverlayFileText(file, tiles, options));
    });
    build::WriteFileAtomically((out / "overview.svg").string(),
                               build::OverviewSvg(tiles, points, build::OverviewOptions{}));
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace kmztool
