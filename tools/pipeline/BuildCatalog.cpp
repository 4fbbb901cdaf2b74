#include "pipeline/BuildCatalog.h"

#include <map>

#include "build/OutputFiles.h"
#include "pipeline/BuildState.h"
#include "tiles/detail/TileOfPoint.h"

namespace fs = std::filesystem;

namespace kmztool::pipeline {
namespace {

constexpr int kCatalogVersion = 1;

fs::path CatalogPath(const fs::path& out) { return StateFolder(out) / "catalog.json"; }

// The tiles of every level that hold a point.
void AddTilesOf(double lon, double lat, long minLevel, long maxLevel, std::set<build::TileKey>& tiles) {
  for (long level = minLevel; level <= maxLevel; ++level)
    if (const auto cell = kmztile::tiles::detail::TileOfPoint(lon, lat, kmztile::tiles::detail::GeographicTileSize(level)))
      tiles.insert({level, cell->row, cell->column});
}

}  // namespace

BuildCatalog MakeCatalog(const kmztile::core::SourceCatalog& source, nlohmann::json settings,
                         const kmztile::core::FileStamps& known) {
  BuildCatalog catalog;
  catalog.settings = std::move(settings);
  catalog.settings["template"] = source.templateHash;
  catalog.models.reserve(source.models.size());
  for (const auto& m : source.models)
    catalog.models.push_back({m.name, m.longitude, m.latitude, kmztile::core::ModelFingerprint(source, m, known, catalog.files)});
  return catalog;
}

bool ReadCatalog(const fs::path& out, BuildCatalog& catalog) {
  std::string text;
  if (!build::ReadStateFile(CatalogPath(out).string(), text)) return false;
  try {
    const nlohmann::json j = nlohmann::json::parse(text);
    if (j.value("version", 0) != kCatalogVersion) return false;
    catalog.settings = j.at("settings");
    for (const auto& m : j.at("models"))
      catalog.models.push_back({m.at(0).get<std::string>(), m.at(1).get<double>(), m.at(2).get<double>(),
                                m.at(3).get<std::string>()});
    for (const auto& [path, f] : j.at("files").items())
      catalog.files[path] = {f.at(0).get<std::uint64_t>(), f.at(1).get<std::int64_t>(), f.at(2).get<std::string>()};
  } catch (const nlohmann::json::exception&) {
    catalog = BuildCatalog{};
    return false;
  }
  return true;
}

void WriteCatalog(const fs::path& out, const BuildCatalog& catalog) {
  nlohmann::json models = nlohmann::json::array();
  for (const auto& m : catalog.models) models.push_back({m.id, m.lon, m.lat, m.fingerprint});
  nlohmann::json files = nlohmann::json::object();
  for (const auto& [path, f] : catalog.files) files[path] = {f.size, f.mtimeNs, f.hash};
  const nlohmann::json j = {{"version", kCatalogVersion}, {"settings", catalog.settings}, {"models", models},
                            {"files", files}};
  build::WriteFileAtomically(CatalogPath(out).string(), j.dump() + "\n");
}

CatalogChange Compare(const BuildCatalog& before, const BuildCatalog& now, long minLevel, long maxLevel) {
  CatalogChange change;
  for (const auto& [key, value] : now.settings.items()) {
    if (before.settings.contains(key) && before.settings.at(key) == value) continue;
    change.everything = true;
    change.reason = change.reason.empty() ? key : change.reason + ", " + key;
  }
  if (change.everything) return change;
  std::map<std::string, const BuildCatalog::Model*> old;
  for (const auto& m : before.models) old[m.id] = &m;
  for (const auto& m : now.models) {
    const auto it = old.find(m.id);
    const BuildCatalog::Model* was = it == old.end() ? nullptr : it->second;
    if (was) old.erase(it);
    if (was && was->fingerprint == m.fingerprint) continue;  // the fingerprint holds the position
    ++change.changedModels;
    AddTilesOf(m.lon, m.lat, minLevel, maxLevel, change.stale);
    if (was) AddTilesOf(was->lon, was->lat, minLevel, maxLevel, change.stale);
  }
  for (const auto& [id, m] : old) {  // removed
    ++change.changedModels;
    AddTilesOf(m->lon, m->lat, minLevel, maxLevel, change.stale);
  }
  return change;
}

}  // namespace kmztool::pipeline
