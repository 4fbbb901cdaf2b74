#include "build/RootKml.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace kmztool::build {

namespace {

std::string Number(double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  return buf;
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

LodBand LodBandOf(long level, const std::vector<long>& levels, int handoverPixels) {
  LodBand band;
  const auto it = std::lower_bound(levels.begin(), levels.end(), level);
  if (it == levels.end() || *it != level) return band;
  const double top = 2.0 * handoverPixels;
  if (it == levels.begin()) {
    band.minPixels = handoverPixels / 4.0;
  } else {
    const long gap = level - *(it - 1);
    band.minPixels = top / std::ldexp(1.0, static_cast<int>(std::min<long>(gap, 60)));
  }
  band.maxPixels = (it + 1 == levels.end()) ? -1 : top;
  return band;
}

void WriteRootKml(std::ostream& out, const std::vector<TileRecord>& input, const RootKmlOptions& options) {
  std::vector<TileRecord> tiles(input);
  std::sort(tiles.begin(), tiles.end(), [](const TileRecord& a, const TileRecord& b) { return a.key < b.key; });
  std::vector<long> levels;
  for (const TileRecord& t : tiles)
    if (levels.empty() || levels.back() != t.key.level) levels.push_back(t.key.level);

  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n"
      << "  <name>" << XmlEscape(options.name) << "</name>\n";
  if (!tiles.empty()) {
    double west = tiles[0].west, east = tiles[0].east, south = tiles[0].south, north = tiles[0].north;
    for (const TileRecord& t : tiles) {
      west = std::min(west, t.west);
      east = std::max(east, t.east);
      south = std::min(south, t.south);
      north = std::max(north, t.north);
    }
    // A view from which the whole extent fits: about 1.2 times its larger side in metres.
    const double midLat = (south + north) / 2;
    const double side = std::max((east - west) * std::cos(midLat * M_PI / 180.0), north - south) * 111320.0;
    out << "  <LookAt>\n    <longitude>" << Number((west + east) / 2) << "</longitude>\n    <latitude>"
        << Number(midLat) << "</latitude>\n    <altitude>0</altitude>\n    <heading>0</heading>\n"
        << "    <tilt>45</tilt>\n    <range>" << Number(std::max(500.0, side * 1.2)) << "</range>\n  </LookAt>\n";
  }
  size_t i = 0;
  for (long level : levels) {
    const LodBand band = LodBandOf(level, levels, options.handoverPixels);
    out << "  <Folder>\n    <name>Level " << level << "</name>\n";
    for (; i < tiles.size() && tiles[i].key.level == level; ++i) {
      const TileRecord& t = tiles[i];
      out << "    <NetworkLink>\n      <name>" << t.key.level << "/" << t.key.row << "/" << t.key.column
          << "</name>\n      <Region>\n        <LatLonAltBox>\n"
          << "          <north>" << Number(t.north) << "</north>\n"
          << "          <south>" << Number(t.south) << "</south>\n"
          << "          <east>" << Number(t.east) << "</east>\n"
          << "          <west>" << Number(t.west) << "</west>\n"
          << "        </LatLonAltBox>\n        <Lod>\n"
          << "          <minLodPixels>" << Number(band.minPixels) << "</minLodPixels>\n"
          << "          <maxLodPixels>" << Number(band.maxPixels) << "</maxLodPixels>\n"
          << "        </Lod>\n      </Region>\n      <Link>\n        <href>" << TilePath(t.key)
          << "</href>\n        <viewRefreshMode>onRegion</viewRefreshMode>\n      </Link>\n    </NetworkLink>\n";
    }
    out << "  </Folder>\n";
  }
  out << "</Document>\n</kml>\n";
}

std::string RootKml(const std::vector<TileRecord>& tiles, const RootKmlOptions& options) {
  std::ostringstream out;
  WriteRootKml(out, tiles, options);
  return out.str();
}

}  // namespace kmztool::build
