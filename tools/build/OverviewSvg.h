#pragma once
// overview.svg: one panel per level showing that level's tile grid over the
// build's extent, every written tile shaded by its model count (with the
// count written in it when there is room), and the model points.
#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "build/TileRecord.h"

namespace kmztool::build {

/** A model's position in degrees. */
struct ModelPoint {
  double lon = 0;
  double lat = 0;
};

/** Drawing limits that keep the picture small for country-sized builds. */
struct OverviewOptions {
  int panelWidth = 420;          ///< pixels per panel
  int columns = 2;               ///< panels per row
  std::size_t maxPoints = 5000;  ///< points drawn per panel; more are thinned evenly
  long maxGridLines = 200;       ///< grid lines per direction; above it only written tiles are outlined
};

/**
 * Writes the SVG. The extent is that of all tiles and points; each panel
 * keeps the extent's ground aspect (longitudes shortened by the cosine of
 * the middle latitude).
 */
void WriteOverviewSvg(std::ostream& out, const std::vector<TileRecord>& tiles, const std::vector<ModelPoint>& points,
                      const OverviewOptions& options);

/** WriteOverviewSvg into a string. */
std::string OverviewSvg(const std::vector<TileRecord>& tiles, const std::vector<ModelPoint>& points,
                        const OverviewOptions& options);

}  // namespace kmztool::build
