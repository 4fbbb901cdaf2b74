#include "build/Tileset.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <ostream>
#include <sstream>

#include "build/JsonText.h"

namespace kmztool::build {

namespace {

constexpr const char* kFormat = "kmztile-tileset";
constexpr int kVersion = 1;

std::vector<TileRecord> Sorted(std::vector<TileRecord> tiles) {
  std::sort(tiles.begin(), tiles.end(), [](const TileRecord& a, const TileRecord& b) { return a.key < b.key; });
  return tiles;
}

nlohmann::json TileJson(const TileRecord& t) {
  nlohmann::json j = nlohmann::json::object();
  j["level"] = t.key.level;
  j["row"] = t.key.row;
  j["column"] = t.key.column;
  j["path"] = TilePath(t.key);
  j["bounds"] = {{"west", t.west}, {"south", t.south}, {"east", t.east}, {"north", t.north}};
  j["models"] = t.models;
  j["bytes"] = t.bytes;
  return j;
}

bool ReadTile(const nlohmann::json& j, TileRecord& t, std::string& error) {
  if (!j.is_object()) {
    error = "a tile is not an object";
    return false;
  }
  const char* integers[] = {"level", "row", "column", "models", "bytes"};
  for (const char* name : integers) {
    if (!j.contains(name) || !j[name].is_number_integer() || j[name].get<long long>() < 0) {
      error = std::string("a tile has no valid \"") + name + "\"";
      return false;
    }
  }
  t.key.level = j["level"].get<long>();
  t.key.row = j["row"].get<long>();
  t.key.column = j["column"].get<long>();
  t.models = j["models"].get<long>();
  t.bytes = j["bytes"].get<std::uint64_t>();
  const std::string where = " of tile " + TilePath(t.key);
  if (!j.contains("bounds") || !j["bounds"].is_object()) {
    error = "no bounds" + where;
    return false;
  }
  const nlohmann::json& b = j["bounds"];
  double* fields[] = {&t.west, &t.south, &t.east, &t.north};
  const char* names[] = {"west", "south", "east", "north"};
  for (int i = 0; i < 4; ++i) {
    if (!b.contains(names[i]) || !b[names[i]].is_number()) {
      error = std::string("no \"") + names[i] + "\" bound" + where;
      return false;
    }
    *fields[i] = b[names[i]].get<double>();
  }
  if (!(t.west < t.east) || !(t.south < t.north)) {
    error = "empty or inverted bounds" + where;
    return false;
  }
  return true;
}

}  // namespace

void WriteTilesetJson(std::ostream& out, const Tileset& tileset) {
  const std::vector<TileRecord> tiles = Sorted(tileset.tiles);
  struct Totals {
    long tiles = 0;
    long models = 0;
    std::uint64_t bytes = 0;
  };
  std::map<long, Totals> levels;
  for (const TileRecord& t : tiles) {
    Totals& totals = levels[t.key.level];
    ++totals.tiles;
    totals.models += t.models;
    totals.bytes += t.bytes;
  }
  out << "{\n  \"format\": \"" << kFormat << "\",\n  \"version\": " << kVersion << ",\n  \"settings\": "
      << JsonText(tileset.settings) << ",\n  \"levels\": [";
  bool first = true;
  for (const auto& [level, totals] : levels) {
    const nlohmann::json j = {{"level", level}, {"tiles", totals.tiles}, {"models", totals.models}, {"bytes", totals.bytes}};
    out << (first ? "\n    " : ",\n    ") << JsonText(j);
    first = false;
  }
  out << (levels.empty() ? "],\n" : "\n  ],\n");
  if (!tileset.parts.empty()) {
    out << "  \"parts\": [";
    first = true;
    for (const nlohmann::json& part : tileset.parts) out << (first ? "\n    " : ",\n    ") << JsonText(part), first = false;
    out << "\n  ],\n  \"tiles\": []\n}\n";
    return;
  }
  out << "  \"tiles\": [";
  first = true;
  for (const TileRecord& t : tiles) {
    out << (first ? "\n    " : ",\n    ") << JsonText(TileJson(t));
    first = false;
  }
  out << (tiles.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

std::string TilesetJson(const Tileset& tileset) {
  std::ostringstream out;
  WriteTilesetJson(out, tileset);
  return out.str();
}

std::vector<std::pair<std::string, std::string>> TilesetFiles(const Tileset& tileset, std::size_t maxTiles) {
  if (tileset.tiles.size() <= maxTiles) return {{"tileset.json", TilesetJson(tileset)}};
  const std::vector<TileRecord> tiles = Sorted(tileset.tiles);
  const long top = tiles.front().key.level;
  // The cell of each tile d levels above the coarsest, d as small as keeps to 256 parts.
  const auto cellOf = [top](const TileKey& k, int d) {
    const int shift = static_cast<int>(k.level - top) + d;
    return TileKey{top - d, k.row >> shift, k.column >> shift};
  };
  int d = 0;
  std::map<TileKey, std::vector<TileRecord>> cells;
  for (;; ++d) {
    cells.clear();
    for (const TileRecord& t : tiles) cells[cellOf(t.key, d)].push_back(t);
    if (cells.size() <= 256 || top - d <= 0) break;
  }
  std::vector<std::pair<std::string, std::string>> files;
  Tileset index;
  index.settings = tileset.settings;
  index.tiles = tiles;
  for (auto& [cell, members] : cells) {
    const std::string path = "tileset/" + std::to_string(cell.level) + "/" + std::to_string(cell.row) + "/" +
                             std::to_string(cell.column) + ".json";
    index.parts.push_back({{"path", path},
                           {"area", {{"level", cell.level}, {"row", cell.row}, {"column", cell.column}}},
                           {"tiles", members.size()}});
    Tileset part;
    part.settings = tileset.settings;
    part.tiles = std::move(members);
    files.push_back({path, TilesetJson(part)});
  }
  files.insert(files.begin(), {"tileset.json", TilesetJson(index)});
  return files;
}

bool ParseTileset(const std::string& text, Tileset& tileset, std::string& error) {
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    error = "not JSON";
    return false;
  }
  if (!j.contains("format") || j["format"] != kFormat) {
    error = "not a tileset (\"format\" is not \"" + std::string(kFormat) + "\")";
    return false;
  }
  if (!j.contains("version") || j["version"] != kVersion) {
    error = "unsupported tileset version";
    return false;
  }
  if (!j.contains("tiles") || !j["tiles"].is_array()) {
    error = "no tile list";
    return false;
  }
  Tileset result;
  if (j.contains("settings") && j["settings"].is_object()) result.settings = j["settings"];
  result.tiles.reserve(j["tiles"].size());
  for (const nlohmann::json& item : j["tiles"]) {
    TileRecord t;
    if (!ReadTile(item, t, error)) return false;
    result.tiles.push_back(t);
  }
  tileset = std::move(result);
  return true;
}

bool MergeTilesets(const std::vector<Tileset>& parts, Tileset& merged, std::string& error) {
  Tileset result;
  if (!parts.empty()) result.settings = parts.front().settings;
  if (result.settings.is_object()) result.settings.erase("shard");
  std::map<TileKey, TileRecord> byKey;
  for (const Tileset& part : parts) {
    for (const TileRecord& t : part.tiles) {
      const auto [it, inserted] = byKey.emplace(t.key, t);
      if (!inserted && !(it->second == t)) {
        error = "tile " + TilePath(t.key) + " appears twice with different contents";
        return false;
      }
    }
  }
  result.tiles.reserve(byKey.size());
  for (const auto& [key, t] : byKey) result.tiles.push_back(t);
  merged = std::move(result);
  return true;
}

}  // namespace kmztool::build
