#pragma once
// The tile stage of a build: the planned tiles built straight from the
// source catalog by one process or by N forked worker processes (the library
// is single-threaded), each tile written to OUT/tiles (and its glb to
// OUT/3dtiles) under a temporary name and renamed, one manifest line per tile.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "build/Shard.h"
#include "core/detail/SourceCatalog.h"
#include "core/detail/TilePlan.h"
#include "tiles/detail/TileNames.h"

namespace kmztool::pipeline {

/** What the tile stage measured. */
struct TileStageStats {
  std::vector<std::pair<long, double>> levelSeconds;  ///< level -> worker seconds its tiles took
  double cpuSeconds = 0;                              ///< CPU seconds of all workers
  double busiestWorkerCpuSeconds = 0;
  long cacheHits = 0;
  long cacheMisses = 0;
  double glbCpuSeconds = 0;  ///< CPU seconds of the 3D Tiles work (conversion, glb, writing), all workers
};

/** How the tile stage runs. */
struct TileStageSettings {
  std::filesystem::path out;
  build::Shard shard;
  int jobs = 1;
  long minLevel = kmztile::tiles::detail::kCoarsestLevel;
  long maxLevel = kmztile::tiles::detail::kFinestLevel;
  bool progress = false;      ///< progress on standard error
  bool progressJson = false;  ///< as one JSON line per second instead of a line redrawn in place
  bool threeDTiles = false;   ///< also write each tile's glb (its KMZ is written only when missing)
};

/**
 * Builds @p todo (a part of a plan, in plan order) from @p catalog; @p skipped
 * tiles of the same run already exist and count as done for the progress line.
 * @return false with @p error when a worker process died (tiles that failed are
 * recorded in the manifests instead).
 */
bool RunTileStage(const kmztile::core::SourceCatalog& catalog, const std::vector<kmztile::core::PlannedTile>& todo,
                  const TileStageSettings& settings, std::size_t skipped, TileStageStats& stats, std::string& error);

}  // namespace kmztool::pipeline
