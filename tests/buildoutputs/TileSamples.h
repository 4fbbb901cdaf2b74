#pragma once
// Tile records of a small geographic pyramid for the output tests.
#include <cmath>
#include <vector>

#include "build/TileRecord.h"

namespace buildtest {

/** The record of tile (level, row, column) of the geographic quad-tree, with bounds from the tile size. */
inline kmztool::build::TileRecord Tile(long level, long row, long column, long models, std::uint64_t bytes) {
  const double size = 360.0 / std::ldexp(1.0, static_cast<int>(level));
  kmztool::build::TileRecord t;
  t.key = {level, row, column};
  t.west = -180 + column * size;
  t.east = t.west + size;
  t.north = 90 - row * size;
  t.south = t.north - size;
  t.models = models;
  t.bytes = bytes;
  return t;
}

/** Tiles over a city at 116.39E 39.91N: 2 at level 15, 3 at 16, 4 at 18 (level 17 not built). */
inline std::vector<kmztool::build::TileRecord> CityTiles() {
  return {Tile(16, 9118, 53956, 3, 3000), Tile(15, 4559, 26978, 5, 9000), Tile(15, 4559, 26979, 2, 4000),
          Tile(16, 9118, 53957, 2, 2500), Tile(16, 9119, 53956, 2, 2000), Tile(18, 36474, 215824, 1, 700),
          Tile(18, 36474, 215825, 2, 1400), Tile(18, 36475, 215824, 3, 2100), Tile(18, 36476, 215830, 1, 650)};
}

}  // namespace buildtest
