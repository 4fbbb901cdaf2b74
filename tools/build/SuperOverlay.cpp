#include "build/SuperOverlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

namespace kmztool::build {
namespace {

std::string KeyPath(const TileKey& key) {
  return std::to_string(key.level) + "/" + std::to_string(key.row) + "/" + std::to_string(key.column);
}

// The box of a tile of the geographic pyramid (also of levels no tile was built at).
void BoxOf(const TileKey& key, OverlayLink& link) {
  const double size = 360.0 / std::ldexp(1.0, static_cast<int>(key.level));
  link.west = -180.0 + static_cast<double>(key.column) * size;
  link.east = link.west + size;
  link.north = 90.0 - static_cast<double>(key.row) * size;
  link.south = link.north - size;
}

// A link to the index file of @p key, from a file @p up folders below the output folder.
OverlayLink IndexLink(const TileKey& key, double minPixels, const std::string& up) {
  OverlayLink link;
  link.name = KeyPath(key);
  BoxOf(key, link);
  link.lod = {minPixels, -1};
  link.href = up + "index/" + KeyPath(key) + ".kml";
  return link;
}

bool Holds(const std::vector<TileRecord>& tiles, const TileKey& key) {
  const auto it = std::lower_bound(tiles.begin(), tiles.end(), key,
                                   [](const TileRecord& t, const TileKey& k) { return t.key < k; });
  return it != tiles.end() && it->key == key;
}

// Each tile below the coarsest level under its nearest built ancestor (its
// parent at the next coarser built level in any real build, where every
// model is in a tile of every level); tiles without one go to @p orphans.
std::vector<std::pair<TileKey, TileKey>> ParentLinks(const std::vector<TileRecord>& tiles,
                                                     const std::vector<long>& levels, std::vector<TileKey>& orphans) {
  std::vector<std::pair<TileKey, TileKey>> links;
  for (const TileRecord& t : tiles) {
    if (t.key.level == levels.front()) continue;
    bool found = false;
    for (auto level = std::lower_bound(levels.begin(), levels.end(), t.key.level); level != levels.begin() && !found;) {
      --level;
      const int shift = static_cast<int>(t.key.level - *level);
      const TileKey ancestor{*level, t.key.row >> shift, t.key.column >> shift};
      if (Holds(tiles, ancestor)) links.push_back({ancestor, t.key}), found = true;
    }
    if (!found) orphans.push_back(t.key);
  }
  std::sort(links.begin(), links.end(), [](const auto& a, const auto& b) {
    return a.first < b.first || (a.first == b.first && a.second < b.second);
  });
  return links;
}

}  // namespace

void ForEachOverlayFile(const std::vector<TileRecord>& input, const RootKmlOptions& options, std::size_t maxRootLinks,
                        const std::function<void(const OverlayFile&)>& visit) {
  std::vector<TileRecord> tiles(input);
  std::sort(tiles.begin(), tiles.end(), [](const TileRecord& a, const TileRecord& b) { return a.key < b.key; });
  std::vector<long> levels;
  for (const TileRecord& t : tiles)
    if (levels.empty() || levels.back() != t.key.level) levels.push_back(t.key.level);
  OverlayFile root{"root.kml", {}};
  if (tiles.empty()) return visit(root);
  const long top = levels.front();
  const double topMin = LodBandOf(top, levels, options.handoverPixels).minPixels;

  // The coarsest tiles, grouped under coarser cells until the root holds few enough.
  std::vector<TileKey> layer;
  for (const TileRecord& t : tiles)
    if (t.key.level == top) layer.push_back(t.key);
  std::vector<std::vector<TileKey>> groups{layer};  // groups[d]: cells d levels above the coarsest
  while (groups.back().size() > std::max<std::size_t>(maxRootLinks, 1) && top - static_cast<long>(groups.size()) >= 0) {
    std::set<TileKey> up;
    for (const TileKey& k : groups.back()) up.insert({k.level - 1, k.row >> 1, k.column >> 1});
    groups.emplace_back(up.begin(), up.end());
  }
  // A link to a cell d levels above the coarsest loads when its tiles would show.
  const auto minPixelsAt = [&](long level) { return topMin * std::ldexp(1.0, static_cast<int>(top - level)); };
  for (const TileKey& k : groups.back()) root.links.push_back(IndexLink(k, minPixelsAt(k.level), ""));
  std::vector<TileKey> orphans;
  const auto parents = ParentLinks(tiles, levels, orphans);
  for (const TileKey& k : orphans)
    root.links.push_back(IndexLink(k, LodBandOf(k.level, levels, options.handoverPixels).minPixels, ""));
  visit(root);
  for (std::size_t d = groups.size() - 1; d > 0; --d) {
    const std::vector<TileKey>& children = groups[d - 1];
    for (const TileKey& g : groups[d]) {
      OverlayFile file{"index/" + KeyPath(g) + ".kml", {}};
      auto it = std::lower_bound(children.begin(), children.end(), TileKey{g.level + 1, g.row << 1, g.column << 1});
      for (; it != children.end() && it->row <= (g.row << 1) + 1; ++it)
        if (it->column >> 1 == g.column) file.links.push_back(IndexLink(*it, minPixelsAt(it->level), "../../../"));
      visit(file);
    }
  }

  // Every tile: itself within its band, then its children.
  for (const TileRecord& t : tiles) {
    OverlayFile file{"index/" + KeyPath(t.key) + ".kml", {}};
    OverlayLink self;
    self.name = KeyPath(t.key);
    self.west = t.west, self.south = t.south, self.east = t.east, self.north = t.north;
    self.lod = LodBandOf(t.key.level, levels, options.handoverPixels);
    self.href = "../../../" + TilePath(t.key);
    file.links.push_back(self);
    auto child = std::lower_bound(parents.begin(), parents.end(), t.key,
                                  [](const auto& link, const TileKey& k) { return link.first < k; });
    for (; child != parents.end() && child->first == t.key; ++child)
      file.links.push_back(IndexLink(child->second, LodBandOf(child->second.level, levels, options.handoverPixels).minPixels,
                                     "../../../"));
    visit(file);
  }
}

std::string OverlayFileText(const OverlayFile& file, const std::vector<TileRecord>& tiles, const RootKmlOptions& options) {
  std::ostringstream out;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n"
      << "  <name>" << XmlEscape(file.path == "root.kml" ? options.name : file.path) << "</name>\n";
  if (file.path == "root.kml" && !tiles.empty()) out << LookAtAll(tiles);
  for (const OverlayLink& l : file.links) {
    out << "  <NetworkLink>\n    <name>" << XmlEscape(l.name) << "</name>\n    <Region>\n      <LatLonAltBox>\n"
        << "        <north>" << KmlNumber(l.north) << "</north>\n"
        << "        <south>" << KmlNumber(l.south) << "</south>\n"
        << "        <east>" << KmlNumber(l.east) << "</east>\n"
        << "        <west>" << KmlNumber(l.west) << "</west>\n"
        << "      </LatLonAltBox>\n      <Lod>\n"
        << "        <minLodPixels>" << KmlNumber(l.lod.minPixels) << "</minLodPixels>\n"
        << "        <maxLodPixels>" << KmlNumber(l.lod.maxPixels) << "</maxLodPixels>\n"
        << "      </Lod>\n    </Region>\n    <Link>\n      <href>" << XmlEscape(l.href)
        << "</href>\n      <viewRefreshMode>onRegion</viewRefreshMode>\n    </Link>\n  </NetworkLink>\n";
  }
  out << "</Document>\n</kml>\n";
  return out.str();
}

}  // namespace kmztool::build
