#pragma once
// The closing summary of a build: a table for people, JSON for machines.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "build/TileRecord.h"

namespace kmztool::build {

/** Totals of one level. */
struct LevelSummary {
  long level = 0;
  long tiles = 0;           ///< tiles written (or found written by an earlier run)
  long emptyTiles = 0;      ///< tiles of the range without models (nothing written)
  long models = 0;          ///< models placed in this level's tiles
  std::uint64_t bytes = 0;  ///< size of this level's tile KMZs
  std::uint64_t minBytes = 0;     ///< smallest tile (0 without tiles)
  std::uint64_t medianBytes = 0;  ///< the middle tile by size (the lower of two)
  std::uint64_t maxBytes = 0;     ///< largest tile
};

/** Totals of a run. */
struct BuildSummary {
  long models = 0;                  ///< models imported
  std::vector<LevelSummary> levels; ///< sorted by level
  double seconds = 0;               ///< wall-clock time of the run
  std::vector<TileRecord> largest;  ///< the ten largest tiles, largest first
};

/**
 * Per-level totals of @p tiles; @p emptyPerLevel (level -> count, may be
 * empty) adds the tiles that held no model.
 */
BuildSummary Summarize(const std::vector<TileRecord>& tiles, long models, double seconds,
                       const std::vector<std::pair<long, long>>& emptyPerLevel = {});

/** "512 B", "3.4 KiB", "12.0 MiB", "1.50 GiB". */
std::string FormatBytes(std::uint64_t bytes);

/**
 * The table: one row per level (level, tiles, empty, models, bytes), a total
 * row, then "N models in S s (R models/s)" and the largest tiles with their
 * paths. A run of no measurable time shows no rate instead of dividing by zero.
 */
std::string FormatSummaryTable(const BuildSummary& summary);

/**
 * {"models", "seconds", "models_per_second" (null without time), "tiles",
 * "bytes", "levels": [{..., "bytes_min", "bytes_median", "bytes_max"}],
 * "largest": [{"path", "bytes", "models"}]}.
 */
nlohmann::json SummaryJson(const BuildSummary& summary);

}  // namespace kmztool::build
