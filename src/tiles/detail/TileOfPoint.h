#pragma once
// The one rule that puts a point into a tile. Tiles are square cells of the
// geographic grid, rows counted southwards from latitude 90 and columns
// eastwards from longitude -180. A cell owns its west and north edges and
// leaves its east and south edges to its neighbours:
//     west <= longitude < east,   south < latitude <= north
// so every point on the globe lies in exactly one tile of a level. Points on
// the outer edge (longitude 180, latitude -90) belong to the last column or
// row. Tile selection and the build's plan both ask this rule.
#include <optional>

namespace kmztile::tiles::detail {

/** A tile's row and column within its level. */
struct TileCell {
  long row = 0;
  long column = 0;
  bool operator==(const TileCell& o) const { return row == o.row && column == o.column; }
  bool operator!=(const TileCell& o) const { return !(*this == o); }
};

/** 2^level exactly (a negative level gives the reciprocal). */
double PowerOfTwo(long level);

/** The side in degrees of a tile of @p level in a pyramid @p extentWidth degrees wide. */
double TileSize(double extentWidth, long level);

/** The side of a tile of @p level in the geographic pyramid (360 / 2^level). */
double GeographicTileSize(long level);

/**
 * The tile column of a longitude for tiles of @p size degrees, clamped into
 * the last column at longitude 180. Longitudes west of -180 give a column
 * below every tile's and longitudes east of 180 (or NaN) one above; the
 * result never decreases as the longitude grows.
 */
long ColumnOfLongitude(double longitude, double size);

/** The tile holding a point; std::nullopt outside -180..180 by -90..90 or for NaN. */
std::optional<TileCell> TileOfPoint(double longitude, double latitude, double size);

}  // namespace kmztile::tiles::detail
