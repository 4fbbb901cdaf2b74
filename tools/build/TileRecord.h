#pragma once
// One written tile of a build and the place it is written to.
#include <cstdint>
#include <string>
#include <tuple>

namespace kmztool::build {

/** The identity of a pyramid tile. */
struct TileKey {
  long level = 0;
  long row = 0;
  long column = 0;

  /** Orders by level, then row, then column. */
  bool operator<(const TileKey& other) const {
    return std::tie(level, row, column) < std::tie(other.level, other.row, other.column);
  }
  /** Same level, row and column. */
  bool operator==(const TileKey& other) const {
    return level == other.level && row == other.row && column == other.column;
  }
};

/** A tile written by a build: where it is, how many models it holds, how big it is. */
struct TileRecord {
  TileKey key;
  double west = 0;   ///< bounds in degrees, as the pyramid reports them
  double south = 0;
  double east = 0;
  double north = 0;
  long models = 0;           ///< models placed in the tile
  std::uint64_t bytes = 0;   ///< size of the tile KMZ

  /** Equal in every field. */
  bool operator==(const TileRecord& other) const {
    return key == other.key && west == other.west && south == other.south && east == other.east &&
           north == other.north && models == other.models && bytes == other.bytes;
  }
};

/** The tile's path below the output folder: "tiles/LEVEL/ROW/COLUMN.kmz". */
std::string TilePath(const TileKey& key);

}  // namespace kmztool::build
