// Rows and columns of one pyramid level that cover a rectangle.
#include <climits>
#include <cmath>

#include "BaseParser.h"

namespace {

// 2^level by repeated squaring; a negative level gives the reciprocal.
double PowerOfTwo(long level) {
  const bool negative = level < 0;
  unsigned long e = negative ? 0ul - static_cast<unsigned long>(level) : static_cast<unsigned long>(level);
  double result = 1.0, base = 2.0;
  while (e) {
    if (e & 1u) result *= base;
    base *= base;
    e >>= 1;
  }
  return negative ? 1.0 / result : result;
}

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
  const double tileSize = (extentEast - extentWest) / PowerOfTwo(level);
  *firstRow = TruncateToLong((90.0 - north) / tileSize);
  *lastRow = TruncateToLong((90.0 - south) / tileSize);
  *firstColumn = TruncateToLong((west + 180.0) / tileSize);
  *lastColumn = TruncateToLong((east + 180.0) / tileSize);
}
