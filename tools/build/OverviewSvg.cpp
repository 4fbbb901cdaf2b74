#include "build/OverviewSvg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <sstream>

namespace kmztool::build {

namespace {

constexpr int kMargin = 16;
constexpr int kTitle = 22;

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

/** Maps degrees to pixels of one panel. */
struct Frame {
  double west, south, east, north;
  double x0, y0, width, height;
  double X(double lon) const { return x0 + (lon - west) / (east - west) * width; }
  double Y(double lat) const { return y0 + (north - lat) / (north - south) * height; }
};

}  // namespace

void WriteOverviewSvg(std::ostream& out, const std::vector<TileRecord>& tiles, const std::vector<ModelPoint>& points,
                      const OverviewOptions& options) {
  std::map<long, std::vector<const TileRecord*>> byLevel;
  double west = 180, east = -180, south = 90, north = -90;
  for (const TileRecord& t : tiles) {
    byLevel[t.key.level].push_back(&t);
    west = std::min(west, t.west);
    east = std::max(east, t.east);
    south = std::min(south, t.south);
    north = std::max(north, t.north);
  }
  for (const ModelPoint& p : points) {
    west = std::min(west, p.lon);
    east = std::max(east, p.lon);
    south = std::min(south, p.lat);
    north = std::max(north, p.lat);
  }
  if (!(west < east)) {
    west -= 0.0005;
    east = west + 0.001;
  }
  if (!(south < north)) {
    south -= 0.0005;
    north = south + 0.001;
  }
  const double groundAspect =
      (north - south) / ((east - west) * std::max(0.01, std::cos((south + north) / 2 * M_PI / 180.0)));
  const double panelW = std::max(100, options.panelWidth);
  const double panelH = std::clamp(panelW * groundAspect, 40.0, panelW * 4);
  const int columns = std::max(1, options.columns);
  const int panels = std::max<int>(1, static_cast<int>(byLevel.size()));
  const int rows = (panels + columns - 1) / columns;
  const int used = std::min(columns, panels);
  const double totalW = kMargin + used * (panelW + kMargin);
  const double totalH = kMargin + rows * (kTitle + panelH + kMargin);
  const size_t step = std::max<size_t>(1, (points.size() + std::max<size_t>(options.maxPoints, 1) - 1) /
                                              std::max<size_t>(options.maxPoints, 1));

  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\""
      << Num(totalW) << "\" height=\"" << Num(totalH) << "\" viewBox=\"0 0 " << Num(totalW) << " " << Num(totalH)
      << "\" font-family=\"sans-serif\">\n<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  int index = 0;
  for (const auto& [level, levelTiles] : byLevel) {
    const int col = index % columns, row = index / columns;
    ++index;
    Frame f{west, south, east, north, kMargin + col * (panelW + kMargin),
            kMargin + row * (kTitle + panelH + kMargin) + kTitle, panelW, panelH};
    long models = 0, most = 1;
    for (const TileRecord* t : levelTiles) {
      models += t->models;
      most = std::max(most, t->models);
    }
    out << "<g class=\"level\" data-level=\"" << level << "\">\n<text x=\"" << Num(f.x0) << "\" y=\"" << Num(f.y0 - 6)
        << "\" font-size=\"13\">Level " << level << ": " << levelTiles.size() << " tiles, " << models
        << " models</text>\n<rect x=\"" << Num(f.x0) << "\" y=\"" << Num(f.y0) << "\" width=\"" << Num(f.width)
        << "\" height=\"" << Num(f.height) << "\" fill=\"#f4f4f0\" stroke=\"#999\"/>\n";
    // Grid lines of this level over the extent, when there are not too many.
    const double size = levelTiles.front()->east - levelTiles.front()->west;
    if (size > 0) {
      const double firstCol = std::ceil((west + 180) / size), lastCol = std::floor((east + 180) / size);
      const double firstRow = std::ceil((90 - north) / size), lastRow = std::floor((90 - south) / size);
      if (lastCol - firstCol < options.maxGridLines && lastRow - firstRow < options.maxGridLines) {
        out << "<g stroke=\"#d0d0c8\" stroke-width=\"0.5\">\n";
        for (double c = firstCol; c <= lastCol; ++c) {
          const double x = f.X(c * size - 180);
          out << "<line x1=\"" << Num(x) << "\" y1=\"" << Num(f.y0) << "\" x2=\"" << Num(x) << "\" y2=\""
              << Num(f.y0 + f.height) << "\"/>\n";
        }
        for (double r = firstRow; r <= lastRow; ++r) {
          const double y = f.Y(90 - r * size);
          out << "<line x1=\"" << Num(f.x0) << "\" y1=\"" << Num(y) << "\" x2=\"" << Num(f.x0 + f.width)
              << "\" y2=\"" << Num(y) << "\"/>\n";
        }
        out << "</g>\n";
      }
    }
    for (const TileRecord* t : levelTiles) {
      const double x = f.X(t->west), y = f.Y(t->north);
      const double w = f.X(t->east) - x, h = f.Y(t->south) - y;
      const double share = static_cast<double>(t->models) / most;
      char fill[16];
      std::snprintf(fill, sizeof fill, "#%02x%02x%02x", static_cast<int>(255 - 150 * share),
                    static_cast<int>(235 - 120 * share), static_cast<int>(180 - 140 * share));
      out << "<rect class=\"tile\" x=\"" << Num(x) << "\" y=\"" << Num(y) << "\" width=\"" << Num(w)
          << "\" height=\"" << Num(h) << "\" fill=\"" << fill << "\" stroke=\"#8a7040\" stroke-width=\"0.6\"><title>"
          << TilePath(t->key) << ": " << t->models << " models, " << t->bytes << " bytes</title></rect>\n";
      if (w >= 16 && h >= 11) {
        const double font = std::min(12.0, h * 0.6);
        out << "<text class=\"count\" x=\"" << Num(x + w / 2) << "\" y=\"" << Num(y + h / 2 + font * 0.35)
            << "\" font-size=\"" << Num(font) << "\" text-anchor=\"middle\" fill=\"#402810\">" << t->models
            << "</text>\n";
      }
    }
    out << "<g fill=\"#1050c0\" fill-opacity=\"0.8\">\n";
    for (size_t i = 0; i < points.size(); i += step)
      out << "<circle cx=\"" << Num(f.X(points[i].lon)) << "\" cy=\"" << Num(f.Y(points[i].lat)) << "\" r=\"1.3\"/>\n";
    out << "</g>\n</g>\n";
  }
  out << "</svg>\n";
}

std::string OverviewSvg(const std::vector<TileRecord>& tiles, const std::vector<ModelPoint>& points,
                        const OverviewOptions& options) {
  std::ostringstream out;
  WriteOverviewSvg(out, tiles, points, options);
  return out.str();
}

}  // namespace kmztool::build
