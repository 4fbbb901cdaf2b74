#include "tiles/detail/TileOfPoint.h"

#include <climits>
#include <cmath>

namespace kmztile::tiles::detail {
namespace {

// floor(q) as a long; values beyond the range of long saturate.
long FloorToLong(double q) {
  if (q >= 9.2233720368547758e18) return LONG_MAX;
  if (q <= -9.2233720368547758e18) return LONG_MIN;
  return static_cast<long>(std::floor(q));
}

// Index of the cell of @p offset degrees from the origin, at most last.
long CellIndex(double offset, double size, double span) {
  const long last = FloorToLong(std::ceil(span / size)) - 1;
  const long index = FloorToLong(offset / size);
  return index > last ? last : index;
}

}  // namespace

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

double TileSize(double extentWidth, long level) { return extentWidth / PowerOfTwo(level); }

double GeographicTileSize(long level) { return TileSize(360.0, level); }

long ColumnOfLongitude(double longitude, double size) {
  if (std::isnan(longitude) || longitude > 180.0 || !(size > 0.0)) return LONG_MAX;
  if (longitude < -180.0) return LONG_MIN;
  return CellIndex(longitude + 180.0, size, 360.0);
}

std::optional<TileCell> TileOfPoint(double longitude, double latitude, double size) {
  if (!(longitude >= -180.0 && longitude <= 180.0 && latitude >= -90.0 && latitude <= 90.0)) return std::nullopt;
  if (!(size > 0.0)) return std::nullopt;
  return TileCell{CellIndex(90.0 - latitude, size, 180.0), ColumnOfLongitude(longitude, size)};
}

}  // namespace kmztile::tiles::detail
