// kmztile build: the source folder is read once into a catalog in memory,
// the tiles that hold models are planned, built by the tile core straight
// from the source files and written to OUT/tiles; then the index files.
#include "BuildPipeline.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "build/OutputFiles.h"
#include "build/Progress.h"
#include "build/ShardRecords.h"
#include "build/Tileset.h"
#include "core/detail/SourceCatalog.h"
#include "core/detail/TilePlan.h"
#include "pipeline/BuildCatalog.h"
#include "pipeline/BuildState.h"
#include "pipeline/OutputLock.h"
#include "pipeline/Workers.h"
#include "placement/detail/LocationText.h"
#include "platform/LastError.h"
#include "platform/Problems.h"
#include "platform/detail/ProjDefinition.h"
#include "tiles/detail/TileNames.h"

namespace fs = std::filesystem;
using kmztool::build::TileKey;
using kmztool::build::TileRecord;

namespace kmztool {
namespace {

// Wall seconds since the last call; the clock of the per-stage figures.
class StageClock {
 public:
  double Lap() {
    const auto now = std::chrono::steady_clock::now();
    const double s = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    return s;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

TileKey KeyOf(const kmztile::core::PlannedTile& t) { return {t.level, t.row, t.column}; }

// Adds a file the library left out or altered to the run's list, once.
void NoteDropped(const std::string& what, PipelineResult& result) {
  if (std::find(result.dropped.begin(), result.dropped.end(), what) == result.dropped.end())
    result.dropped.push_back(what);
}
void NoteDropped(const std::vector<kmztile::platform::Problem>& problems, PipelineResult& result) {
  for (const auto& p : problems) NoteDropped(p.file + ": " + p.reason, result);
}

// Whether @p file (as problems name it) is the location text, the model file
// or a texture of a model the source check left out.
bool OfLeftOutModel(const std::string& file, const PipelineSettings& s) {
  const fs::path path = fs::path(file).lexically_normal();
  const fs::path folder = (fs::path(s.source) / "").lexically_normal().parent_path();
  if (path.parent_path() == folder) return s.leftOut.count(path.stem().string()) > 0;
  const fs::path relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != ".." && s.leftOut.count(relative.begin()->string()) > 0;
}

// Whether this run's shard builds a tile.
bool InShare(const PipelineSettings& s, const kmztile::core::PlannedTile& t) {
  return build::ShardOfTile(KeyOf(t), s.shard.count) == s.shard.index;
}

// Stage 1: the source folder read as packaging reads it.
bool Catalog(const PipelineSettings& s, kmztile::core::SourceCatalog& catalog, PipelineResult& result,
             std::string& error) {
  CBaseParser parser;
  std::unique_ptr<wchar_t[]> wide(parser.StringToBSTR(s.crs));
  const std::wstring crs = wide ? wide.get() : L"";
  const bool read = kmztile::core::CatalogSource(parser, s.source, crs, catalog, error);
  // The check has named the models it leaves out, with the reason; what
  // packaging would have said of their files (a location read as 0, say)
  // is about a model no tile will hold.
  std::vector<kmztile::platform::Problem> problems = kmztile::platform::TakeProblems();
  problems.erase(std::remove_if(problems.begin(), problems.end(),
                                [&s](const kmztile::platform::Problem& p) { return OfLeftOutModel(p.file, s); }),
                 problems.end());
  NoteDropped(problems, result);
  if (!read) return false;
  // Models the source check found unusable are left out (already named);
  // packaging may have left some of them out already.
  catalog.models.erase(std::remove_if(catalog.models.begin(), catalog.models.end(),
                                      [&s](const auto& m) { return s.leftOut.count(m.name) > 0; }),
                       catalog.models.end());
  const std::size_t excluded = std::min(s.leftOut.size(), catalog.listed - catalog.models.size());
  if (catalog.listed == 0) {
    error = "no model (.dae) found in " + s.source;
    return false;
  }
  for (const auto& m : catalog.models) {
    const std::string notLonLat = kmztile::placement::detail::WhyNotLonLat(m.longitude, m.latitude);
    if (!notLonLat.empty()) {
      error = "model " + (fs::path(s.source) / (m.name + ".txt")).string() + " " + notLonLat;
      return false;
    }
  }
  result.models = static_cast<long>(catalog.models.size());
  if (catalog.listed > catalog.models.size() + excluded)
    result.warnings.push_back(std::to_string(catalog.listed - catalog.models.size() - excluded) + " of " +
                              std::to_string(catalog.listed) +
                              " models were left out while packaging (unusable location or files); run `kmztile check " +
                              s.source + "` for the reasons");
  return true;
}

// Tiles of each level's range that hold no model, for the summary.
void CountEmptyTiles(const PipelineSettings& s, const std::vector<kmztile::core::PlanPoint>& points,
                     const std::vector<kmztile::core::PlannedTile>& plan, PipelineResult& result) {
  if (points.empty()) return;
  double west = 180, east = -180, south = 90, north = -90;
  for (const auto& p : points) {
    west = std::min(west, p.longitude), east = std::max(east, p.longitude);
    south = std::min(south, p.latitude), north = std::max(north, p.latitude);
  }
  CBaseParser parser;
  IPyramidPtr pyramid = CreateGeographicPyramid();
  for (long level = s.minLevel; level <= s.maxLevel; ++level) {
    long r0 = 0, c0 = 0, r1 = -1, c1 = -1;
    parser.TileIndex(west, east, south, north, level, pyramid, &r0, &c0, &r1, &c1);
    const long planned = static_cast<long>(
        std::count_if(plan.begin(), plan.end(), [level](const auto& t) { return t.level == level; }));
    result.emptyPerLevel.push_back({level, std::max<long>(0, (r1 - r0 + 1) * (c1 - c0 + 1) - planned)});
  }
}

// True when no process @p pid runs any more: none exists, or it is a zombie
// (a killed worker whose parent died first waits there until something reaps it).
bool ProcessGone(long pid) {
  if (pid <= 0) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');  // the name in parentheses may hold anything
  return close != std::string::npos && close + 2 < text.size() && (text[close + 2] == 'Z' || text[close + 2] == 'X');
}

// Removes the temporary files of tile writes a stopped run left behind
// ("C.kmz.PID.partial", "C.glb.PID.partial"): those of a process that no
// longer runs here (when this run is the only shard), and any older than ten
// minutes, which no running write can own (a tile is written in milliseconds).
void RemoveAbandonedWrites(const fs::path& out, bool onlyShard) {
  const auto now = fs::file_time_type::clock::now();
  for (const fs::path& folder : {out / "tiles", out / pipeline::kThreeDTilesFolder}) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.size() < 8 || name.compare(name.size() - 8, 8, ".partial") != 0) continue;
      const std::string stem = name.substr(0, name.size() - 8);
      const long pid = std::atol(stem.substr(stem.rfind('.') + 1).c_str());
      const bool dead = onlyShard && ProcessGone(pid);
      std::error_code age;
      const bool old = now - fs::last_write_time(it->path(), age) > std::chrono::minutes(10) && !age;
      std::error_code removed;
      if (dead || old) fs::remove(it->path(), removed);
    }
  }
}

// Removes the shard records a run makes untrue: its own (written again once
// its share is built), those of a split into another number of shards, and
// every one when all tiles are built anew.
void ForgetShardRecords(const fs::path& out, const build::Shard& shard, bool all) {
  std::error_code ec;
  for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
    build::Shard recorded;
    if (!build::ParseShardRecordName(it->path().filename().string(), recorded)) continue;
    std::error_code removed;
    if (all || recorded.count != shard.count || recorded.index == shard.index) fs::remove(it->path(), removed);
  }
}

// Brings OUT in line with the source as it is now: against the last run's
// catalog, tiles of models added, removed, moved or edited are removed (to be
// built again, or gone for good when they hold no model any more); after a
// change of settings every tile goes. Then the new catalog is written, before
// any tile is built, so that a run stopped now resumes with the new state.
// @throws std::runtime_error naming the file that cannot be changed
void Reconcile(const PipelineSettings& s, const kmztile::core::SourceCatalog& source, const fs::path& out,
               std::set<TileKey>& stale, std::set<TileKey>& removed, std::string& state, PipelineResult& result) {
  pipeline::OutputLock lock(out);  // shards started together reconcile once
  RemoveAbandonedWrites(out, s.shard.count == 1);
  pipeline::BuildCatalog before;
  const bool hadCatalog = pipeline::ReadCatalog(out, before);
  const nlohmann::json settings = {
      {"source", fs::weakly_canonical(s.source).string()}, {"crs", s.crs}, {"levels", {s.minLevel, s.maxLevel}}};
  const pipeline::BuildCatalog now = pipeline::MakeCatalog(source, settings, before.files, s.jobs);
  const pipeline::CatalogChange change = pipeline::Compare(before, now, s.minLevel, s.maxLevel);
  ForgetShardRecords(out, s.shard, change.everything);
  // A 3D Tiles output is there only while builds ask for it; otherwise it
  // would fall behind the source unseen.
  if (change.everything || !s.threeDTiles) build::RemoveTree((out / pipeline::kThreeDTilesFolder).string());
  if (change.everything) {
    result.rebuild.everything = hadCatalog ? "changed settings: " + change.reason : "";
    build::RemoveTree((out / "tiles").string());
    build::RemoveTree(pipeline::StateFolder(out).string());
  } else {
    result.rebuild.changedModels = change.changedModels;
    // A stale tile may be one no model holds any more, in a folder the
    // planned tiles do not use: its folders are looked at too.
    std::vector<std::string> files;
    for (const TileKey& key : change.stale) files.insert(files.end(), {build::TilePath(key), pipeline::GlbPath(key)});
    build::RefuseLinkedFolders(out.string(), files);
    for (const TileKey& key : change.stale) {
      if (build::RemoveOneFile((out / build::TilePath(key)).string())) removed.insert(key);
      build::RemoveOneFile((out / pipeline::GlbPath(key)).string());
    }
    stale = change.stale;
  }
  state = pipeline::SourceState(now);
  pipeline::WriteCatalog(out, now);
}

// Whether the last run's record of a tile says it lacks a file: such a tile
// is built again on every run, so that it is whole once its sources are
// fixed (or a passing read error is gone) and its problems are named again.
bool LacksFiles(const std::map<TileKey, nlohmann::json>& manifests, const TileKey& key) {
  const auto it = manifests.find(key);
  return it != manifests.end() && it->second.contains("dropped");
}

// The planned tiles of this run's share that are not on disk after the tile
// stage and that no manifest line explains, named with why: a worker stopped
// before them. A long list is cut short with the count of the rest.
void NoteUnbuilt(const std::vector<TileKey>& unbuilt, const std::string& why, PipelineResult& result) {
  constexpr std::size_t kNamed = 20;
  for (std::size_t i = 0; i < unbuilt.size() && i < kNamed; ++i)
    result.failedTiles.push_back("tile " + build::TilePath(unbuilt[i]) + ": not built: " + why);
  if (unbuilt.size() > kNamed)
    result.failedTiles.push_back("... and " + std::to_string(unbuilt.size() - kNamed) + " more tile(s) not built");
}

}  // namespace

bool ParseLevels(const std::string& text, long& minLevel, long& maxLevel, std::string& error) {
  using kmztile::tiles::detail::kCoarsestLevel;
  using kmztile::tiles::detail::kFinestLevel;
  long a = 0, b = 0;
  char dash = 0, extra = 0;
  const int n = std::sscanf(text.c_str(), "%ld%c%ld%c", &a, &dash, &b, &extra);
  if (n == 1) {
    b = a;
  } else if (n != 3 || dash != '-') {
    error = "--levels takes LEVEL or FIRST-LAST, e.g. 15-18 (got '" + text + "')";
    return false;
  }
  if (a > b) std::swap(a, b);
  if (a < kCoarsestLevel || b > kFinestLevel) {
    error = "--levels " + text + ": the level folders hold levels " + std::to_string(kCoarsestLevel) + " to " +
            std::to_string(kFinestLevel) + " only";
    return false;
  }
  minLevel = a;
  maxLevel = b;
  return true;
}

bool ParseFormats(const std::string& text, bool& threeDTiles, std::string& error) {
  std::set<std::string> formats;
  for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
    end = text.find(',', start);
    const std::string format = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (format != "kmz" && format != "3dtiles") {
      error = "--format '" + text + "': '" + format + "' is no format; the formats are kmz and 3dtiles (e.g. --format kmz,3dtiles)";
      return false;
    }
    if (!formats.insert(format).second) {
      error = "--format names " + format + " twice";
      return false;
    }
  }
  if (!formats.count("kmz")) {
    error = "--format " + text + ": the 3D Tiles are written beside the KMZ tiles (use --format kmz,3dtiles)";
    return false;
  }
  threeDTiles = formats.count("3dtiles") != 0;
  return true;
}

std::string FormatsText(bool threeDTiles) { return threeDTiles ? "kmz,3dtiles" : "kmz"; }

bool ValidateCrs(const std::string& text, std::string& error) {
  if (text.empty() || kmztile::platform::detail::IsCrsDefinition(text)) return true;
  error = "--crs '" + text + "' is not a coordinate reference system PROJ can read (use EPSG:nnnn, WKT or a PROJ string)";
  return false;
}

namespace {

// The stages; a file of the output folder that cannot be read or written throws.
bool RunStages(const PipelineSettings& s, PipelineResult& result, std::string& error) {
  const fs::path out(s.out);
  build::CreateFolders(s.out);
  StageClock clock;
  build::StageLine line(std::cerr, s.progress == "auto" && !s.quiet && build::StderrIsTerminal());
  line.Show("reading the models of " + s.source);
  kmztile::core::SourceCatalog catalog;
  if (!Catalog(s, catalog, result, error)) return false;
  if (s.strict && !result.dropped.empty()) {
    error = result.dropped.front() + " (--strict: no tile was built)";
    return false;
  }
  result.stageSeconds.push_back({"catalog", clock.Lap()});

  line.Show("comparing " + std::to_string(catalog.models.size()) + " models with the last build");
  std::vector<kmztile::core::PlanPoint> points;
  points.reserve(catalog.models.size());
  for (const auto& m : catalog.models) points.push_back({m.longitude, m.latitude});
  const std::vector<kmztile::core::PlannedTile> plan = kmztile::core::PlanTiles(points, s.minLevel, s.maxLevel);
  CountEmptyTiles(s, points, plan, result);

  // Tiles are only in the build's own folders, never through a link out of
  // the output folder: none is removed or written there.
  {
    std::vector<std::string> written;
    for (const auto& t : plan) {
      if (!InShare(s, t)) continue;
      written.push_back(build::TilePath(KeyOf(t)));
      if (s.threeDTiles) written.push_back(pipeline::GlbPath(KeyOf(t)));
    }
    build::RefuseLinkedFolders(s.out, written);
  }

  std::set<TileKey> stale, removed;
  std::string state;
  Reconcile(s, catalog, out, stale, removed, state, result);
  auto before = pipeline::ReadManifests(out);
  // Stale tiles that no planned tile replaces held only models that are gone.
  for (const auto& t : plan) removed.erase(KeyOf(t));
  result.rebuild.removed = static_cast<long>(removed.size());
  std::vector<kmztile::core::PlannedTile> todo;
  size_t skipped = 0;
  // A tile is built when its KMZ is missing, or with 3D Tiles its glb or the
  // glb's manifest record (a glb without one is built again), or when its
  // last record says it lacks a file.
  for (const auto& t : plan) {
    if (!InShare(s, t)) continue;
    const std::string path = (out / build::TilePath(KeyOf(t))).string();
    kmztile::threedtiles::TileEntry glb;
    const bool kmzThere = fs::exists(path);
    if (kmzThere && LacksFiles(before, KeyOf(t))) {
      // Gone before it is built again: a rebuild that fails leaves no stale tile to count as built.
      build::RemoveOneFile(path);
      if (s.threeDTiles) build::RemoveOneFile((out / pipeline::GlbPath(KeyOf(t))).string());
    } else if (kmzThere && (!s.threeDTiles || pipeline::GlbEntryOf(out, KeyOf(t), before, glb))) {
      ++skipped;
      continue;
    }
    todo.push_back(t);
    if (!result.rebuild.everything.empty()) ++result.rebuild.forSettings;
    else if (stale.count(KeyOf(t))) ++result.rebuild.forChangedModels;
    else ++result.rebuild.missing;
  }
  // What is no longer needed goes before the workers copy the process: the
  // last run's records of a city's tiles take a hundred megabytes.
  decltype(before)().swap(before);
  result.stageSeconds.push_back({"plan", clock.Lap()});

  pipeline::TileStageSettings stage{out, s.shard, s.jobs, s.minLevel, s.maxLevel,
                                    s.progress == "json" || (s.progress == "auto" && !s.quiet && build::StderrIsTerminal()),
                                    s.progress == "json", s.threeDTiles, s.strict};
  pipeline::TileStageStats stats;
  std::string stageError;
  line.Clear();
  const bool workersOk = pipeline::RunTileStage(catalog, todo, stage, skipped, stats, stageError);
  result.levelSeconds = stats.levelSeconds;
  result.tileCpuSeconds = stats.cpuSeconds;
  result.busiestWorkerCpuSeconds = stats.busiestWorkerCpuSeconds;
  result.textureCacheHits = stats.cacheHits;
  result.textureCacheMisses = stats.cacheMisses;
  result.glbCpuSeconds = stats.glbCpuSeconds;
  if (!workersOk) result.stageError = stageError;
  result.stageSeconds.push_back({"tiles", clock.Lap()});

  decltype(todo)().swap(todo);
  line.Show("writing the index files");
  auto manifests = pipeline::ReadManifests(out);
  std::vector<TileKey> unbuilt;
  for (const auto& t : plan) {
    if (!InShare(s, t)) continue;
    const auto line = manifests.find(KeyOf(t));
    if (line != manifests.end() && line->second.contains("dropped"))
      for (const auto& d : line->second.at("dropped")) NoteDropped(d.get<std::string>(), result);
    TileRecord record;
    if (pipeline::RecordOf(out, KeyOf(t), manifests, record)) {
      result.tiles.push_back(record);
      kmztile::threedtiles::TileEntry glb;
      if (s.threeDTiles && !pipeline::GlbEntryOf(out, KeyOf(t), manifests, glb))
        result.failedTiles.push_back("tile " + pipeline::GlbPath(KeyOf(t)) + ": " +
                                     (line != manifests.end() && line->second.contains("glb_error")
                                          ? line->second.at("glb_error").get<std::string>()
                                          : std::string("it was not written")));
      continue;
    }
    const auto it = manifests.find(KeyOf(t));
    const std::string name = "tile " + build::TilePath(KeyOf(t)) + ": ";
    if (it != manifests.end() && it->second.contains("error"))
      result.failedTiles.push_back(name + it->second.at("error").get<std::string>());
    else if (fs::exists(out / build::TilePath(KeyOf(t))))
      result.failedTiles.push_back(name + "cannot be read back: " + kmztile::platform::LastError());
    else
      unbuilt.push_back(KeyOf(t));
  }
  if (!unbuilt.empty())
    NoteUnbuilt(unbuilt,
                !workersOk ? "the tile stage stopped early (see above)"
                : stats.stoppedByStrict ? "--strict stopped the build at the first problem"
                                        : "the tile is not on disk",
                result);
  // The records and the plan are in result now; the outputs need the room.
  decltype(manifests)().swap(manifests);
  std::sort(result.tiles.begin(), result.tiles.end(),
            [](const TileRecord& a, const TileRecord& b) { return a.key < b.key; });
  if (s.shard.count == 1) {
    std::vector<TileRecord> tiles = result.tiles;
    if (!WriteBuildOutputs(s.out, tiles, s.threeDTiles, result.glbTiles, error)) return false;
  } else if (result.failedTiles.empty()) {
    // The shard's record that it has built its whole share, for `merge`.
    build::Tileset part;
    part.settings = {{"levels", {s.minLevel, s.maxLevel}}, {"crs", s.crs}, {"formats", FormatsText(s.threeDTiles)}};
    part.tiles = result.tiles;
    build::WriteFileAtomically((out / build::ShardRecordName(s.shard)).string(),
                               build::ShardRecordText(part, s.shard, state));
  }
  result.stageSeconds.push_back({"outputs", clock.Lap()});
  return true;
}

}  // namespace

bool RunPipeline(const PipelineSettings& s, PipelineResult& result, std::string& error) {
  try {
    return RunStages(s, result, error);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

}  // namespace kmztool
