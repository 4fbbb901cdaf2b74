#pragma once
// The plan of a build: which tiles of which levels hold which models, in
// the order the tiles are built. A model is in the tile TileOfPoint names,
// the very tile whose selection picks it.
#include <cstddef>
#include <utility>
#include <vector>

namespace kmztile::core {

/** A point of a model: longitude and latitude as the coordinates list holds them. */
struct PlanPoint {
  double longitude = 0;
  double latitude = 0;
};

/** One tile with models. */
struct PlannedTile {
  long level = 0;
  long row = 0;
  long column = 0;
  /** The tile of the plan's coarsest level that holds it (its area). */
  long areaRow = 0;
  long areaColumn = 0;
  /** Positions of its models in the point list, ascending (the coordinates list's order). */
  std::vector<std::size_t> models;
};

/**
 * The tile of @p areaLevel (at or above @p level) that holds tile
 * @p level / @p row / @p column: the pyramid is a quad-tree, each tile's
 * parent is the tile of half its row and column one level up.
 */
std::pair<long, long> AreaOf(long level, long row, long column, long areaLevel);

/**
 * The tiles of levels @p minLevel to @p maxLevel that hold at least one of
 * @p points (points outside -180..180 by -90..90 are in none), ordered by
 * area, then level, row and column.
 */
std::vector<PlannedTile> PlanTiles(const std::vector<PlanPoint>& points, long minLevel, long maxLevel);

/** A run [first, last) of planned tiles sharing one area. */
using TileGroup = std::pair<std::size_t, std::size_t>;

/**
 * The plan cut into its areas, the areas with the most model placements
 * first (ties keep plan order): handed out in this order, the last area any
 * worker takes is a light one and workers finish together.
 */
std::vector<TileGroup> GroupByAreaHeaviestFirst(const std::vector<PlannedTile>& plan);

}  // namespace kmztile::core
