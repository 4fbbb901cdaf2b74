// The index files of a finished build: tileset.json, root.kml, overview.svg,
// and with 3D Tiles 3dtiles/tileset.json with its external tilesets.
#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "BuildPipeline.h"
#include "build/OutputFiles.h"
#include "build/SuperOverlay.h"
#include "build/Tileset.h"
#include "pipeline/BuildCatalog.h"
#include "pipeline/BuildState.h"
#include "platform/Version.h"

namespace fs = std::filesystem;

namespace kmztool {
namespace {

// Writes @p text to @p path unless the file holds it already: a rerun that
// changed nothing leaves the tilesets as they are.
void WriteIfChanged(const fs::path& path, const std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::ostringstream old;
    old << in.rdbuf();
    if (old.str() == text) return;
  }
  build::WriteFileAtomically(path.string(), text);
}

// The 3D Tiles tilesets over the glbs of @p tiles, from their manifest
// records. A tile without a glb (its build failed, and the run says so) takes
// its descendants out of the tileset with it: the tree has no holes.
// External tilesets of coarsest tiles no longer built are removed.
void WriteThreeDTilesets(const fs::path& out, const std::vector<build::TileRecord>& tiles, long& glbTiles) {
  glbTiles = 0;
  const fs::path folder = out / pipeline::kThreeDTilesFolder;
  std::vector<build::TileKey> keys;
  for (const auto& t : tiles) keys.push_back(t.key);
  std::sort(keys.begin(), keys.end());
  const auto manifests = pipeline::ReadManifests(out);
  std::vector<kmztile::threedtiles::TileEntry> entries;
  std::set<build::TileKey> listed;
  for (const auto& key : keys) {
    kmztile::threedtiles::TileEntry entry;
    if (!pipeline::GlbEntryOf(out, key, manifests, entry)) continue;
    if (key.level > keys.front().level && !listed.count({key.level - 1, key.row / 2, key.column / 2})) continue;
    listed.insert(key);
    entries.push_back(entry);
  }
  std::vector<kmztile::threedtiles::TilesetFile> files;
  std::string error;
  if (!entries.empty() && !kmztile::threedtiles::BuildTilesets(entries, files, error))
    throw std::runtime_error("cannot make " + (folder / "tileset.json").string() + ": " + error);
  std::set<fs::path> written;
  for (const auto& file : files) {
    WriteIfChanged(folder / file.path, file.json);
    written.insert((folder / file.path).lexically_normal());
  }
  std::error_code ec;
  if (entries.empty()) fs::remove(folder / "tileset.json", ec);
  for (fs::recursive_directory_iterator it(folder / std::to_string(keys.empty() ? 0 : keys.front().level), ec), end;
       !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".json" && !written.count(it->path().lexically_normal())) {
      std::error_code removed;
      fs::remove(it->path(), removed);
    }
  glbTiles = static_cast<long>(entries.size());
}

}  // namespace

bool WriteBuildOutputs(const std::string& outText, std::vector<build::TileRecord>& tiles, bool threeDTiles,
                       long& glbTiles, std::string& error) {
  const fs::path out(outText);
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
  try {
    // Large builds list their tiles in parts; none of an earlier build's parts stays.
    std::error_code ec;
    fs::remove_all(out / "tileset", ec);
    for (const auto& [path, text] : build::TilesetFiles(tileset, build::kTilesPerTilesetFile))
      build::WriteFileAtomically((out / path).string(), text);
    // The index files are written anew: none of an earlier, larger build stays linked.
    fs::remove_all(out / "index", ec);
    const build::RootKmlOptions options;
    build::ForEachOverlayFile(tiles, options, build::kMaxRootLinks, [&](const build::OverlayFile& file) {
      build::WriteFileAtomically((out / file.path).string(), build::OverlayFileText(file, tiles, options));
    });
    build::WriteFileAtomically((out / "overview.svg").string(),
                               build::OverviewSvg(tiles, points, build::OverviewOptions{}));
    glbTiles = 0;
    if (threeDTiles) WriteThreeDTilesets(out, tiles, glbTiles);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace kmztool
