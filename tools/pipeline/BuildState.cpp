#include "pipeline/BuildState.h"

#include <algorithm>
#include <fstream>

#include "BaseParser.h"
#include "build/OutputFiles.h"
#include "threedtiles/ThreeDTiles.h"

namespace fs = std::filesystem;

namespace kmztool::pipeline {

std::string GlbPath(const build::TileKey& key) {
  return std::string(kThreeDTilesFolder) + "/" +
         kmztile::threedtiles::ContentPath(static_cast<int>(key.level), key.row, key.column);
}

fs::path StateFolder(const fs::path& out) { return out / ".kmztile"; }

fs::path ManifestPath(const fs::path& out, const build::Shard& shard, int job) {
  return StateFolder(out) / ("manifest-" + std::to_string(shard.index) + "-of-" + std::to_string(shard.count) +
                             "-job" + std::to_string(job) + ".jsonl");
}

std::map<build::TileKey, nlohmann::json> ReadManifests(const fs::path& out) {
  std::map<build::TileKey, nlohmann::json> records;
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(StateFolder(out), ec))
    if (e.path().filename().string().rfind("manifest-", 0) == 0) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::ifstream in(f);
    std::string line;
    while (std::getline(in, line)) {
      try {
        const auto j = nlohmann::json::parse(line);
        records[{j.at("level").get<long>(), j.at("row").get<long>(), j.at("column").get<long>()}] = j;
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

nlohmann::json GlbRecord(const kmztile::threedtiles::TileEntry& entry, std::uint64_t bytes) {
  const auto& r = entry.region;
  return {{"bytes", bytes},
          {"region", {r.west, r.south, r.east, r.north, r.minHeight, r.maxHeight}},
          {"centre", entry.centre}};
}

bool GlbEntryOf(const fs::path& out, const build::TileKey& key,
                const std::map<build::TileKey, nlohmann::json>& manifests, kmztile::threedtiles::TileEntry& entry) {
  const auto line = manifests.find(key);
  if (line == manifests.end() || !line->second.contains("glb")) return false;
  std::error_code ec;
  const auto size = fs::file_size(out / GlbPath(key), ec);
  if (ec) return false;
  try {
    const nlohmann::json& glb = line->second.at("glb");
    if (glb.at("bytes").get<std::uint64_t>() != size) return false;
    const auto region = glb.at("region").get<std::vector<double>>();
    const auto centre = glb.at("centre").get<std::vector<double>>();
    if (region.size() != 6 || centre.size() != 3) return false;
    entry.level = static_cast<int>(key.level);
    entry.row = key.row;
    entry.column = key.column;
    entry.region = {region[0], region[1], region[2], region[3], region[4], region[5]};
    entry.centre = {centre[0], centre[1], centre[2]};
    entry.content = kmztile::threedtiles::ContentPath(entry.level, key.row, key.column);
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return true;
}

}  // namespace kmztool::pipeline
