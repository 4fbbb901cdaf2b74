#include "build/RootKml.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace kmztool::build {

std::string KmlNumber(double value) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  return buf;
}

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

std::string LookAtAll(const std::vector<TileRecord>& tiles) {
  if (tiles.empty()) return "";
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
  std::ostringstream out;
  out << "  <LookAt>\n    <longitude>" << KmlNumber((west + east) / 2) << "</longitude>\n    <latitude>"
      << KmlNumber(midLat) << "</latitude>\n    <altitude>0</altitude>\n    <heading>0</heading>\n"
      << "    <tilt>45</tilt>\n    <range>" << KmlNumber(std::max(500.0, side * 1.2)) << "</range>\n  </LookAt>\n";
  return out.str();
}

}  // namespace kmztool::build
