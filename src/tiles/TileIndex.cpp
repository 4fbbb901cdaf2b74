// Rows and columns of one pyramid level that cover a rectangle.
#include <climits>
#include <cmath>

#include "BaseParser.h"
#include "tiles/detail/TileOfPoint.h"

namespace {

// Truncation toward zero; values beyond the range of long (or not a number,
// from a degenerate pyramid) saturate instead of being undefined.
long TruncateToLong(double q) {
  if (std::isnan(q)) return 0;
  if (q >= 9.2233720368547758e18) return LONG_MAX;
  if (q <= -9.2233720368547758e18) return LONG_MIN;
  return static_cast<long>(q);
}

}  // namespace

void CBaseParser::TileIndex(double west, double east, double south, double north, long level, IPyramidPtr pyramid,
                            long* firstRow, long* firstColumn, long* lastRow, long* lastColumn) {
  double extentWest = 0, extentSouth = 0, extentEast = 0, extentNorth = 0;
  pyramid->GetPyramidExtent(&extentWest, &extentSouth, &extentEast, &extentNorth);  // raises E_POINTER when null
  const double tileSize = kmztile::tiles::detail::TileSize(extentEast - extentWest, level);
  *firstRow = TruncateToLong((90.0 - north) / tileSize);
  *lastRow = TruncateToLong((90.0 - south) / tileSize);
  *firstColumn = TruncateToLong((west + 180.0) / tileSize);
  *lastColumn = TruncateToLong((east + 180.0) / tileSize);
}
