#include "pipeline/BuildState.h"

#include <algorithm>
#include <sstream>

#include "BaseParser.h"
#include "build/OutputFiles.h"

namespace fs = std::filesystem;

namespace kmztool::pipeline {

fs::path StateFolder(const fs::path& out) { return out / ".kmztile"; }

fs::path ManifestPath(const fs::path& out, const build::Shard& shard, int job) {
  return StateFolder(out) / ("manifest-" + std::to_string(shard.index) + "-of-" + std::to_string(shard.count) +
                             "-job" + std::to_string(job) + ".jsonl");
}

std::map<build::TileKey, nlohmann::json> ReadManifests(const fs::path& out) {
  std::map<build::TileKey, nlohmann::json> records;
  for (const auto& name : build::ListFolder(StateFolder(out).string())) {
    if (name.rfind("manifest-", 0) != 0) continue;
    std::string text;
    if (!build::ReadStateFile((StateFolder(out) / name).string(), text)) continue;  // removed meanwhile
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      try {
        const auto j = nlohmann::json::parse(line);
        // The newest record of a tile wins, whichever worker's manifest holds it.
        auto& record = records[{j.at("level").get<long>(), j.at("row").get<long>(), j.at("column").get<long>()}];
        if (record.is_null() || j.value("at", 0LL) >= record.value("at", 0LL)) record = j;
      } catch (const nlohmann::json::exception&) {
        // A line cut short by an interrupted run: the tile is read back instead.
      }
    }
  }
  return records;
}

void TileBounds(const build::TileKey& key, build::TileRecord& record) {
  VARIANT_BOOL valid = VARIANT_FALSE;
  CreateGeographicPyramid()->GetTileBounds(key.level, key.row, key.column, &record.west, &record.south,
                                           &record.east, &record.north, &valid);
}

bool RecordOf(const fs::path& out, const build::TileKey& key, const std::map<build::TileKey, nlohmann::json>& manifests,
              build::TileRecord& record) {
  const fs::path path = out / build::TilePath(key);
  std::error_code ec;
  const auto bytes = fs::file_size(path, ec);
  if (ec) return false;
  record.key = key;
  record.bytes = bytes;
  TileBounds(key, record);
  const auto it = manifests.find(key);
  if (it != manifests.end()) {
    const auto models = it->second.find("models");
    const auto size = it->second.find("bytes");
    // A damaged manifest line is no reason to fail: the tile itself is read.
    if (models != it->second.end() && models->is_number_integer() && size != it->second.end() &&
        size->is_number_unsigned() && size->get<std::uintmax_t>() == bytes) {
      record.models = models->get<long>();
      return true;
    }
  }
  std::map<std::string, std::vector<std::string>> textures;
  std::map<std::string, LonLatID> locations;
  long* handle = nullptr;
  if (!CBaseParser::ReadKmzToListEx(path.string(), textures, locations, handle)) return false;
  std::string unused;
  CBaseParser::ReadOneKmzData(handle, unused, unused, true);
  record.models = static_cast<long>(locations.size());
  return true;
}

}  // namespace kmztool::pipeline
