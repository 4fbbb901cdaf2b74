#pragma once
// The stages of `kmztile build`: catalog, plan, tiles, outputs.
#include <string>
#include <utility>
#include <vector>

#include "build/OverviewSvg.h"
#include "build/Shard.h"
#include "build/TileRecord.h"
#include "tiles/detail/TileNames.h"

namespace kmztool {

/** What a build was asked to do. */
struct PipelineSettings {
  std::string source;
  std::string out;
  std::string crs;
  long minLevel = kmztile::tiles::detail::kCoarsestLevel;
  long maxLevel = kmztile::tiles::detail::kFinestLevel;
  int jobs = 1;
  build::Shard shard;
  /** Also write the 3D Tiles output (OUT/3dtiles); without, a 3D Tiles output of an earlier run is removed. */
  bool threeDTiles = false;
  bool quiet = false;
  /** "auto" (a line when standard error is a terminal), "json" (a JSON line a second) or "none". */
  std::string progress = "auto";
};

/** Why this run built the tiles it built. */
struct RebuildCounts {
  long missing = 0;           ///< not on disk: a first build, or a run stopped before them
  long forChangedModels = 0;  ///< held or now hold a model added, removed, moved or edited
  long forSettings = 0;       ///< every tile, because a setting changed (see everything)
  std::string everything;     ///< "changed settings: crs, levels" when every tile was rebuilt
  long removed = 0;           ///< stale tiles removed that hold no model any more
  long changedModels = 0;     ///< models added, removed, moved or edited since the last run
};

/** What a build did. */
struct PipelineResult {
  RebuildCounts rebuild;
  long models = 0;
  std::vector<build::TileRecord> tiles;               ///< every tile of the run's share on disk
  std::vector<std::pair<long, long>> emptyPerLevel;   ///< level -> tiles of the range without models
  std::vector<std::string> failedTiles;               ///< "tile L/R/C: reason"
  std::vector<std::string> warnings;                  ///< things the user should know (models left out)
  std::vector<std::string> dropped;                   ///< "FILE: reason" of each file left out or altered, once
  /** Wall seconds of each stage this run did, in order: catalog, plan, tiles, outputs. */
  std::vector<std::pair<std::string, double>> stageSeconds;
  /** level -> seconds its tiles took, added up over the workers (worker seconds, not wall time). */
  std::vector<std::pair<long, double>> levelSeconds;
  double tileCpuSeconds = 0;           ///< CPU seconds of the tile work, all workers
  double busiestWorkerCpuSeconds = 0;  ///< CPU seconds of the busiest worker
  long textureCacheHits = 0;    ///< decoded-texture cache hits, all workers
  long textureCacheMisses = 0;  ///< decodes the cache could not serve, all workers
  double glbCpuSeconds = 0;     ///< CPU seconds of the 3D Tiles work in the tile stage, all workers
  long glbTiles = 0;            ///< glb tiles of the run's share on disk (with 3D Tiles)
};

/** Reads "15-18" or "17". @return false with a reason outside 15..18 or malformed. */
bool ParseLevels(const std::string& text, long& minLevel, long& maxLevel, std::string& error);
/**
 * Reads the output formats "kmz" or "kmz,3dtiles" (in any order, each once).
 * @return false with a reason for anything else: 3D Tiles come beside the KMZ tiles only.
 */
bool ParseFormats(const std::string& text, bool& threeDTiles, std::string& error);
/** The formats as ParseFormats reads them: "kmz" or "kmz,3dtiles". */
std::string FormatsText(bool threeDTiles);
/** True for an empty text or a definition PROJ accepts as a coordinate reference system. */
bool ValidateCrs(const std::string& text, std::string& error);

/** Runs the whole build. @return false with a reason when a stage fails (failed tiles are listed instead). */
bool RunPipeline(const PipelineSettings& settings, PipelineResult& result, std::string& error);

/**
 * Rebuilds tileset.json, root.kml and overview.svg of @p out from the tile
 * manifests and tiles on disk (after the shards of a build have all run);
 * with @p threeDTiles also 3dtiles/tileset.json and its external tilesets
 * over the glbs of @p tiles. @return the glb tiles listed in @p glbTiles.
 */
bool WriteBuildOutputs(const std::string& out, std::vector<build::TileRecord>& tiles, bool threeDTiles,
                       long& glbTiles, std::string& error);

}  // namespace kmztool
