#pragma once
// tileset.json: every tile a build wrote (level, row, column, bounds, model
// count, bytes), totals per level and the run's settings. Shards of one
// build each write their own; MergeTilesets joins them.
#include <iosfwd>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "build/TileRecord.h"

namespace kmztool::build {

/** The content of a tileset.json. */
struct Tileset {
  nlohmann::json settings = nlohmann::json::object();  ///< the run's settings, as the command records them
  std::vector<TileRecord> tiles;                        ///< in any order; written sorted by level, row, column
  /**
   * When not empty, the tiles are listed in these part files instead
   * ({"path", "area": {level, row, column}, "tiles"}): the file keeps the
   * totals of all tiles and an empty tile list.
   */
  std::vector<nlohmann::json> parts;
};

/**
 * Writes @p tileset as JSON: {"format": "kmztile-tileset", "version": 1,
 * "settings", "levels": [{level, tiles, models, bytes}], "tiles": [{level,
 * row, column, path, bounds: {west, south, east, north}, models, bytes}]},
 * one tile per line, tiles sorted, so equal tile sets give equal files.
 */
void WriteTilesetJson(std::ostream& out, const Tileset& tileset);

/** WriteTilesetJson into a string. */
std::string TilesetJson(const Tileset& tileset);

/** Tiles a tileset.json lists itself at most (about 3 MB); larger builds are split. */
inline constexpr std::size_t kTilesPerTilesetFile = 20000;

/**
 * The files of a build's tileset, by path below the output folder: up to
 * @p maxTiles tiles, "tileset.json" alone; beyond, "tileset.json" with the
 * totals and at most 256 parts, each "tileset/L/R/C.json" listing the tiles
 * below one cell L/R/C at or above the coarsest level (as coarse as needed
 * to keep to 256 parts).
 */
std::vector<std::pair<std::string, std::string>> TilesetFiles(const Tileset& tileset, std::size_t maxTiles);

/**
 * Reads a tileset.json back.
 * @return false with a reason in @p error when the text is not a tileset or a
 *         tile lacks a field or has an impossible value (negative level,
 *         row, column, models; bounds not west < east, south < north).
 */
bool ParseTileset(const std::string& text, Tileset& tileset, std::string& error);

/**
 * Joins the tilesets of the shards of one build: the union of their tiles,
 * the settings of the first without its "shard" entry.
 * @return false with a reason in @p error when the same tile appears twice
 *         with different records (two runs that disagree).
 */
bool MergeTilesets(const std::vector<Tileset>& parts, Tileset& merged, std::string& error);

}  // namespace kmztool::build
