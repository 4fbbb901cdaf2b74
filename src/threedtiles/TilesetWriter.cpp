// tileset.json files for the pyramid's tiles: a small root listing the
// coarsest tiles, each of those an external tileset holding its descendants,
// so the root stays the same size whatever the number of models.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <tuple>

#include "threedtiles/ThreeDTiles.h"

namespace kmztile::threedtiles {
namespace {

using nlohmann::json;
using TileId = std::tuple<int, long, long>;  // level, row, column

constexpr double kPi = 3.14159265358979323846;
constexpr double kEquator = 40075016.685578488;  // metres

// How far off, in metres, the content of a tile of @p level is from the full
// detail: a fraction of the tile's width, 0 at the finest level.
double GeometricError(int level, int finest) {
  if (level >= finest) return 0.0;
  return kEquator / std::ldexp(1.0, level) / 32.0;
}

json RegionJson(const Region& r) {
  const double k = kPi / 180.0;
  return {{"region", {r.west * k, r.south * k, r.east * k, r.north * k, r.minHeight, r.maxHeight}}};
}

json Translation(const Ecef& t) {
  return {1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, t[0], t[1], t[2], 1.0};
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::stringstream stream(path);
  for (std::string part; std::getline(stream, part, '/');)
    if (!part.empty()) parts.push_back(part);
  return parts;
}

// @p target (relative to the output folder) as seen from the tileset file @p from.
std::string RelativeTo(const std::string& from, const std::string& target) {
  auto a = Split(from), b = Split(target);
  a.pop_back();  // the folder of the tileset file
  std::size_t common = 0;
  while (common < a.size() && common + 1 < b.size() && a[common] == b[common]) ++common;
  std::string path;
  for (std::size_t i = common; i < a.size(); ++i) path += "../";
  for (std::size_t i = common; i < b.size(); ++i) path += b[i] + (i + 1 < b.size() ? "/" : "");
  return path;
}

struct Node {
  const TileEntry* entry = nullptr;
  Region bounds;  // the entry's region grown to hold every descendant
  std::vector<TileId> children;
};

class Forest {
 public:
  std::map<TileId, Node> nodes;
  int finest = 0;

  // Bounds of @p id's subtree, filled in bottom-up.
  const Region& Grow(const TileId& id) {
    Node& node = nodes.at(id);
    node.bounds = node.entry->region;
    for (const TileId& child : node.children) node.bounds = Union(node.bounds, Grow(child));
    return node.bounds;
  }

  json TileJson(const TileId& id, const std::string& file, const Ecef& parentCentre) const {
    const Node& node = nodes.at(id);
    const Ecef& centre = node.entry->centre;
    json tile{{"boundingVolume", RegionJson(node.bounds)},
              {"geometricError", GeometricError(std::get<0>(id), finest)},
              {"refine", "REPLACE"},
              // Transforms accumulate down the tree: each is relative to its parent's.
              {"transform", Translation({centre[0] - parentCentre[0], centre[1] - parentCentre[1],
                                         centre[2] - parentCentre[2]})}};
    if (!node.entry->content.empty()) tile["content"] = {{"uri", RelativeTo(file, node.entry->content)}};
    if (!node.children.empty()) {
      json children = json::array();
      for (const TileId& child : node.children) children.push_back(TileJson(child, file, centre));
      tile["children"] = std::move(children);
    }
    return tile;
  }
};

std::string Name(const TileId& id) {
  return std::to_string(std::get<0>(id)) + "/" + std::to_string(std::get<1>(id)) + "/" +
         std::to_string(std::get<2>(id));
}

json Tileset(json root, double geometricError) {
  return {{"asset", {{"version", "1.1"}, {"generator", "kmztile"}}},
          {"geometricError", geometricError},
          {"root", std::move(root)}};
}

}  // namespace

bool BuildTilesets(const std::vector<TileEntry>& tiles, std::vector<TilesetFile>& files, std::string& error) {
  files.clear();
  if (tiles.empty()) {
    error = "there are no tiles to write a tileset for";
    return false;
  }
  Forest forest;
  int coarsest = tiles.front().level;
  for (const TileEntry& tile : tiles) {
    if (tile.level < 0 || tile.level > 30) {
      error = "tile level " + std::to_string(tile.level) + " is outside 0 to 30";
      return false;
    }
    const TileId id{tile.level, tile.row, tile.column};
    if (!forest.nodes.emplace(id, Node{&tile, tile.region, {}}).second) {
      error = "tile " + Name(id) + " is listed twice";
      return false;
    }
    coarsest = std::min(coarsest, tile.level);
    forest.finest = std::max(forest.finest, tile.level);
  }
  std::vector<TileId> roots;
  for (auto& [id, node] : forest.nodes) {
    if (std::get<0>(id) == coarsest) {
      roots.push_back(id);
      continue;
    }
    const TileId parent{std::get<0>(id) - 1, std::get<1>(id) / 2, std::get<2>(id) / 2};
    auto found = forest.nodes.find(parent);
    if (found == forest.nodes.end()) {
      error = "tile " + Name(id) + " has no parent tile " + Name(parent);
      return false;
    }
    found->second.children.push_back(id);  // the map's order keeps children sorted
  }

  json children = json::array();
  Region all = forest.Grow(roots.front());
  const double coarsestError = GeometricError(coarsest, forest.finest);
  for (const TileId& id : roots) {
    const Region& bounds = forest.Grow(id);
    all = Union(all, bounds);
    const std::string path = Name(id) + ".json";
    files.push_back({path, Tileset(forest.TileJson(id, path, Ecef{0.0, 0.0, 0.0}), coarsestError).dump()});
    children.push_back({{"boundingVolume", RegionJson(bounds)},
                        {"geometricError", coarsestError},
                        {"refine", "REPLACE"},
                        {"content", {{"uri", path}}}});
  }
  // The root draws nothing, so stopping there misses the whole city: its
  // error is at least the city's extent. With less, a client viewing the
  // whole city from a little way off finds the root precise enough and
  // draws no building at all.
  const Ecef low = GeodeticToEcef(all.west, all.south, all.minHeight);
  const Ecef high = GeodeticToEcef(all.east, all.north, all.maxHeight);
  const double extent = std::hypot(high[0] - low[0], high[1] - low[1], high[2] - low[2]);
  const double rootError =
      std::max(extent, coarsestError > 0.0 ? 2.0 * coarsestError : kEquator / std::ldexp(1.0, coarsest) / 16.0);
  json root{{"boundingVolume", RegionJson(all)},
            {"geometricError", rootError},
            {"refine", "REPLACE"},
            {"children", std::move(children)}};
  files.insert(files.begin(), TilesetFile{"tileset.json", Tileset(std::move(root), rootError).dump()});
  return true;
}

}  // namespace kmztile::threedtiles
