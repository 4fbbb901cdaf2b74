#include "BuildPipeline.h"

#include <proj.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <chrono>
#include <functional>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "build/OutputFiles.h"
#include "build/Progress.h"
#include "build/RootKml.h"
#include "build/Tileset.h"
#include "tiles/detail/TextureCache.h"
#include "tiles/detail/TileOfPoint.h"

namespace fs = std::filesystem;
using kmztool::build::TileKey;
using kmztool::build::TileRecord;

namespace kmztool {
namespace {

constexpr const char* kStampFile = ".kmztile-build.json";

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

nlohmann::json ReadStamp(const fs::path& work) {
  std::ifstream in(work / kStampFile);
  if (!in) return nlohmann::json::object();
  try {
    return nlohmann::json::parse(in);
  } catch (const nlohmann::json::exception&) {
    return nlohmann::json::object();
  }
}

void WriteStamp(const fs::path& work, const nlohmann::json& stamp) {
  build::WriteFileAtomically((work / kStampFile).string(), stamp.dump(2) + "\n");
}

// A file name's extension with its dot, lower-cased (".DAE" -> ".dae").
std::string LowerExtension(const fs::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

// Puts the files of `source` below `work`. Packaging only reads the models,
// location texts and textures, and writes nothing but new files and the KML
// template, which it replaces whole (a new file renamed over the old). So
// every file but the KML documents is a hard link to the source file, which
// costs no copying; the KML documents are copied, and any file that cannot
// be linked (another file system, no permission) is copied as well.
bool StageFiles(const fs::path& source, const fs::path& work, std::string& error) {
  std::error_code ec;
  // Folders reached through symbolic links are staged too, as a recursive copy would.
  fs::recursive_directory_iterator it(source, fs::directory_options::follow_directory_symlink, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path target = work / it->path().lexically_relative(source);
    if (it->is_directory(ec)) {
      // An output folder placed inside the source folder is not source.
      if (fs::equivalent(it->path(), work.parent_path(), ec) || fs::equivalent(it->path(), work, ec)) {
        it.disable_recursion_pending();
        continue;
      }
      fs::create_directories(target, ec);
      continue;
    }
    if (!it->is_regular_file(ec)) continue;
    std::error_code linked = std::make_error_code(std::errc::operation_not_permitted);
    if (LowerExtension(it->path()) != ".kml" && !it->is_symlink()) fs::create_hard_link(it->path(), target, linked);
    if (linked) fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
  }
  if (ec) {
    error = "cannot copy " + source.string() + " to " + work.string() + ": " + ec.message();
    return false;
  }
  return true;
}

// Stage 1: a copy of the source folder, which packaging may rewrite freely.
bool Stage(const PipelineSettings& s, const fs::path& work, nlohmann::json& stamp, std::string& error) {
  const std::string source = fs::weakly_canonical(s.source).string();
  if (stamp.value("source", "") == source && stamp.value("crs", "") == s.crs && stamp.value("staged", false))
    return true;
  std::error_code ec;
  fs::remove_all(work, ec);
  fs::create_directories(work, ec);
  if (ec) {
    error = "cannot create " + work.string() + ": " + ec.message();
    return false;
  }
  if (!StageFiles(s.source, work, error)) return false;
  stamp = {{"source", source}, {"crs", s.crs}, {"staged", true}};
  WriteStamp(work, stamp);
  return true;
}

// Stage 2: one package per model plus the coordinates and scope files.
bool Package(CBaseParser& parser, const PipelineSettings& s, const fs::path& work, nlohmann::json& stamp,
             std::wstring& crsText, std::wstring& auxText, std::string& error) {
  const fs::path middle = work / "middle";
  if (stamp.value("packaged", false) && fs::exists(middle / "coords.txt")) return true;
  std::string result;
  std::unique_ptr<wchar_t[]> wide(parser.StringToBSTR(s.crs));
  crsText = wide.get();
  bool ok = false;
  try {
    ok = parser.GenNeededFile(work.string(), crsText.data(), auxText.data(), result);
  } catch (const _com_error& e) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(e.Error()));
    error = std::string("the coordinate-system component failed (") + code + ") while packaging";
    return false;
  }
  if (!ok) {
    error = "no model (.dae) found in " + s.source;
    return false;
  }
  stamp["packaged"] = true;
  stamp["imported"] = false;
  WriteStamp(work, stamp);
  return true;
}

// Stage 3: the level folders; an interrupted import is cleared and redone.
bool Import(CBaseParser& parser, const fs::path& middle, nlohmann::json& stamp, const fs::path& work,
            std::string& error) {
  if (stamp.value("imported", false)) return true;
  std::error_code ec;
  for (int n = 1; n <= 4; ++n) fs::remove_all(middle / std::to_string(n), ec);
  if (!parser.EarlyPrepare("")) {
    error = "import of the packages in " + middle.string() + " failed";
    return false;
  }
  stamp["imported"] = true;
  WriteStamp(work, stamp);
  return true;
}

struct PlannedTile {
  TileKey key;
  TileKey parent;  // the tile of the coarsest level that holds it
  long models = 0;  // model points inside it
};

// The tiles of each level that hold at least one model point (the others are
// empty and need no work), grouped by their coarsest-level ancestor so that
// one worker builds an area at every level while its textures are cached.
std::vector<PlannedTile> PlanTiles(CBaseParser& parser, const PipelineSettings& s,
                                   const std::vector<CoordsModel>& models, PipelineResult& result) {
  double west = 0, east = 0, south = 0, north = 0;
  parser.GetScopeRange(west, east, south, north);
  std::vector<PlannedTile> plan;
  IPyramidPtr pyramid = CreateGeographicPyramid();
  for (long level = s.minLevel; level <= s.maxLevel; ++level) {
    long r0 = 0, c0 = 0, r1 = -1, c1 = -1;
    parser.TileIndex(west, east, south, north, level, pyramid, &r0, &c0, &r1, &c1);
    const double size = kmztile::tiles::detail::GeographicTileSize(level);
    std::map<std::pair<long, long>, long> cells;  // model points per cell
    for (const auto& m : models) {
      // The tile selection's own rule, so that the planned tile is the one that selects the model.
      if (const auto cell = kmztile::tiles::detail::TileOfPoint(m.lon, m.lat, size)) ++cells[{cell->row, cell->column}];
    }
    const long rangeTiles = (r1 - r0 + 1) * (c1 - c0 + 1);
    result.emptyPerLevel.push_back({level, std::max<long>(0, rangeTiles - static_cast<long>(cells.size()))});
    const int shift = static_cast<int>(level - s.minLevel);
    for (const auto& [cell, count] : cells)
      plan.push_back({{level, cell.first, cell.second}, {s.minLevel, cell.first >> shift, cell.second >> shift}, count});
  }
  std::sort(plan.begin(), plan.end(), [](const PlannedTile& a, const PlannedTile& b) {
    if (!(a.parent == b.parent)) return a.parent < b.parent;
    return a.key < b.key;
  });
  return plan;
}

// Where CreateTile leaves a tile's own files: level folder "1" holds level 18.
fs::path LevelFolderTile(const fs::path& middle, const TileKey& key, const char* extension) {
  char name[64];
  std::snprintf(name, sizeof name, "%ld-%ld-%ld%s", key.level, key.row, key.column, extension);
  return middle / std::to_string(kFinestLevel - key.level + 1) / name;
}

fs::path ManifestPath(const fs::path& work, const build::Shard& shard, int job) {
  return work / ("manifest-" + std::to_string(shard.index) + "-of-" + std::to_string(shard.count) + "-job" +
                 std::to_string(job) + ".jsonl");
}

struct SharedCounters {
  std::atomic<long> done{0};
  std::atomic<long> failed{0};
  // Nanoseconds spent on the tiles of each level (index level - 15), added by every worker.
  std::atomic<long long> levelNanos[kFinestLevel - kCoarsestLevel + 1] = {};
  std::atomic<long> cacheHits{0};
  std::atomic<long> cacheMisses{0};
  // The next group of tiles a worker takes: workers pull whole level-15 areas
  // one at a time, so a worker that drew small areas is never left idle.
  std::atomic<long> nextGroup{0};
  // CPU nanoseconds of the tile work: all workers together, and the busiest one.
  std::atomic<long long> cpuNanos{0};
  std::atomic<long long> maxWorkerCpuNanos{0};
};

long long ProcessCpuNanos() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The planned tiles cut into runs of one level-15 area each: [first, last).
using TileGroups = std::vector<std::pair<size_t, size_t>>;

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

// Builds the tiles of one worker and appends a line per tile to its manifest.
void BuildTiles(CBaseParser& parser, const std::vector<PlannedTile>& plan, const TileGroups& groups,
                const fs::path& out, const fs::path& manifestPath, SharedCounters& counters,
                const std::function<void()>& onTile) {
  const long long cpuStart = ProcessCpuNanos();
  IPyramidPtr pyramid = CreateGeographicPyramid();
  auto& cache = kmztile::tiles::detail::TextureCache::Shared();
  const auto hitsBefore = cache.Hits(), missesBefore = cache.Misses();
  std::ofstream manifest(manifestPath, std::ios::app);
  const fs::path middle = out / "work" / "middle";
  for (;;) {
    const long g = counters.nextGroup++;
    if (g < 0 || static_cast<size_t>(g) >= groups.size()) break;
    for (size_t i = groups[static_cast<size_t>(g)].first; i < groups[static_cast<size_t>(g)].second; ++i) {
      const PlannedTile& t = plan[i];
      const auto started = std::chrono::steady_clock::now();
      const fs::path target = out / build::TilePath(t.key);
      nlohmann::json line = {{"level", t.key.level}, {"row", t.key.row}, {"column", t.key.column}};
      std::string kmz;
      if (!parser.CreateTile(pyramid, t.key.level, t.key.row, t.key.column, &kmz)) {
        line["error"] = "the tile could not be built (a package, model or texture of it is unreadable)";
        counters.failed++;
      } else if (!kmz.empty()) {
        try {
          // The level folder already holds these exact bytes: move that file
          // into place (an atomic rename on the same file system) instead of
          // writing them a second time; write them only when the move fails.
          std::error_code mv;
          fs::create_directories(target.parent_path(), mv);
          fs::rename(LevelFolderTile(middle, t.key, ".kmz"), target, mv);
          if (mv || fs::file_size(target, mv) != kmz.size()) build::WriteFileAtomically(target.string(), kmz);
          double w = 0, so = 0, e = 0, n = 0;
          VARIANT_BOOL valid = VARIANT_FALSE;
          pyramid->GetTileBounds(t.key.level, t.key.row, t.key.column, &w, &so, &e, &n, &valid);
          line.update({{"models", parser.GetLastTileModelCount()}, {"bytes", kmz.size()},
                       {"west", w}, {"south", so}, {"east", e}, {"north", n}});
        } catch (const std::exception& ex) {
          line["error"] = ex.what();
          counters.failed++;
        }
      } else {
        line["models"] = 0;
      }
      manifest << line.dump() << "\n" << std::flush;
      if (t.key.level >= kCoarsestLevel && t.key.level <= kFinestLevel)
        counters.levelNanos[t.key.level - kCoarsestLevel] +=
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started).count();
      counters.done++;
      if (onTile) onTile();
    }
    // A model lies in one area only: no later area needs these decodes, and
    // their memory serves the next area's (the heap keeps it, see RunWorkers).
    cache.Clear();
  }
  const long long cpu = ProcessCpuNanos() - cpuStart;
  counters.cpuNanos += cpu;
  long long busiest = counters.maxWorkerCpuNanos.load();
  while (cpu > busiest && !counters.maxWorkerCpuNanos.compare_exchange_weak(busiest, cpu)) {
  }
  counters.cacheHits += static_cast<long>(cache.Hits() - hitsBefore);
  counters.cacheMisses += static_cast<long>(cache.Misses() - missesBefore);
}

// Every manifest line of the output folder, last record of a tile winning.
std::map<TileKey, nlohmann::json> ReadManifests(const fs::path& work) {
  std::map<TileKey, nlohmann::json> records;
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(work, ec))
    if (e.path().filename().string().rfind("manifest-", 0) == 0) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::ifstream in(f);
    std::string line;
    while (std::getline(in, line)) {
      try {
        const auto j = nlohmann::json::parse(line);
        records[{j.at("level").get<long>(), j.at("row").get<long>(), j.at("column").get<long>()}] = j;
      } catch (const nlohmann::json::exception&) {
        // A line cut short by an interrupted run: the tile is recounted below.
      }
    }
  }
  return records;
}

// The record of a tile on disk: from its manifest line, or read back.
bool RecordOf(const fs::path& out, const TileKey& key, const std::map<TileKey, nlohmann::json>& manifests,
              TileRecord& record) {
  const fs::path path = out / build::TilePath(key);
  std::error_code ec;
  const auto bytes = fs::file_size(path, ec);
  if (ec) return false;
  record.key = key;
  record.bytes = bytes;
  const auto it = manifests.find(key);
  if (it != manifests.end() && it->second.contains("models") && it->second.value("bytes", 0ull) == bytes &&
      it->second.contains("west")) {
    record.models = it->second.at("models").get<long>();
    record.west = it->second.at("west").get<double>();
    record.south = it->second.at("south").get<double>();
    record.east = it->second.at("east").get<double>();
    record.north = it->second.at("north").get<double>();
    return true;
  }
  std::map<std::string, std::vector<std::string>> textures;
  std::map<std::string, LonLatID> locations;
  long* handle = nullptr;
  if (!CBaseParser::ReadKmzToListEx(path.string(), textures, locations, handle)) return false;
  std::string unused;
  CBaseParser::ReadOneKmzData(handle, unused, unused, true);
  record.models = static_cast<long>(locations.size());
  VARIANT_BOOL valid = VARIANT_FALSE;
  CreateGeographicPyramid()->GetTileBounds(key.level, key.row, key.column, &record.west, &record.south,
                                           &record.east, &record.north, &valid);
  return true;
}

// Runs the planned tiles over `jobs` processes and waits for them.
bool RunWorkers(CBaseParser& parser, const std::vector<PlannedTile>& plan, const PipelineSettings& s,
                const fs::path& out, size_t skipped, PipelineResult& result, std::string& error) {
  // Cut by coarsest-level area so each worker keeps whole areas (and their decoded textures).
  TileGroups groups;
  std::vector<long> weights;  // model points of each area over all its levels
  for (size_t i = 0; i < plan.size(); ++i) {
    if (i == 0 || !(plan[i].parent == plan[i - 1].parent)) groups.push_back({i, i}), weights.push_back(0);
    groups.back().second = i + 1;
    weights.back() += plan[i].models;
  }
  // The heaviest areas are handed out first, so the last area taken is a
  // light one and the workers finish together (tiles and bytes do not
  // depend on which worker builds an area).
  std::vector<size_t> order(groups.size());
  for (size_t g = 0; g < order.size(); ++g) order[g] = g;
  std::stable_sort(order.begin(), order.end(), [&weights](size_t a, size_t b) { return weights[a] > weights[b]; });
  TileGroups heaviestFirst;
  for (size_t g : order) heaviestFirst.push_back(groups[g]);
  groups.swap(heaviestFirst);
  // Decoded textures are megabytes each. Left to its defaults, glibc maps
  // such blocks fresh from the kernel and unmaps them on release, so every
  // decode pays page faults again; kept in the heap, the memory of one
  // area's textures is reused by the next.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  void* mem = mmap(nullptr, sizeof(SharedCounters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  auto* counters = new (mem) SharedCounters();
  const fs::path work = out / "work";
  build::ProgressLine progress(std::cerr, !s.quiet && build::StderrIsTerminal(), plan.size() + skipped);
  progress.Advance(skipped);
  bool workersOk = true;
  if (s.jobs == 1) {
    BuildTiles(parser, plan, groups, out, ManifestPath(work, s.shard, 0), *counters,
               [&progress] { progress.Advance(); });
  } else {
    std::vector<pid_t> children;
    for (int j = 0; j < s.jobs; ++j) {
      std::cout.flush();
      std::cerr.flush();
      const pid_t pid = fork();
      if (pid == 0) {
        BuildTiles(parser, plan, groups, out, ManifestPath(work, s.shard, j), *counters, {});
        std::cout.flush();
        _exit(0);
      }
      if (pid > 0) children.push_back(pid);
    }
    size_t reported = 0;
    size_t running = children.size();
    while (running > 0) {
      int status = 0;
      const pid_t done = waitpid(-1, &status, WNOHANG);
      if (done > 0) {
        --running;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) workersOk = false;
        continue;
      }
      const auto now = static_cast<size_t>(counters->done.load());
      if (now > reported) progress.Advance(now - reported), reported = now;
      usleep(100000);
    }
    const auto now = static_cast<size_t>(counters->done.load());
    if (now > reported) progress.Advance(now - reported);
  }
  progress.Finish();
  // The level folders' own copies of the tiles are not needed once written
  // out. They are removed here, after the last tile, rather than one by one:
  // on ext4 without a journal every file created within a minute or so of a
  // deletion pays a scan past the recently freed inodes, and the tile stage
  // creates two files per tile (measured: about 1 % of its CPU).
  const fs::path middle = work / "middle";
  for (const PlannedTile& t : plan) {
    std::error_code ec;
    fs::remove(LevelFolderTile(middle, t.key, ".kml"), ec);
    fs::remove(LevelFolderTile(middle, t.key, ".kmz"), ec);
  }
  for (long level = s.minLevel; level <= s.maxLevel; ++level)
    result.levelSeconds.push_back({level, static_cast<double>(counters->levelNanos[level - kCoarsestLevel].load()) / 1e9});
  result.tileCpuSeconds = static_cast<double>(counters->cpuNanos.load()) / 1e9;
  result.busiestWorkerCpuSeconds = static_cast<double>(counters->maxWorkerCpuNanos.load()) / 1e9;
  result.textureCacheHits = counters->cacheHits.load();
  result.textureCacheMisses = counters->cacheMisses.load();
  counters->~SharedCounters();
  munmap(mem, sizeof(SharedCounters));
  if (!workersOk) error = "a worker process died; run the same command again to build the missing tiles";
  return workersOk;
}

}  // namespace

bool ParseLevels(const std::string& text, long& minLevel, long& maxLevel, std::string& error) {
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
    error = "--levels " + text + ": the level folders hold levels 15 to 18 only";
    return false;
  }
  minLevel = a;
  maxLevel = b;
  return true;
}

bool ValidateCrs(const std::string& text, std::string& error) {
  if (text.empty()) return true;
  PJ_CONTEXT* ctx = proj_context_create();
  proj_log_level(ctx, PJ_LOG_NONE);
  PJ* crs = proj_create(ctx, text.c_str());
  const bool ok = crs && proj_is_crs(crs);
  if (crs) proj_destroy(crs);
  proj_context_destroy(ctx);
  if (!ok) error = "--crs '" + text + "' is not a coordinate reference system PROJ knows (try EPSG:4527)";
  return ok;
}

bool ReadCoordsFile(const std::string& path, std::vector<CoordsModel>& models) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  if (!std::getline(in, line)) return false;
  const long n = std::atol(line.c_str());
  models.clear();
  for (long i = 0; i < n; ++i) {
    CoordsModel m;
    std::string lon, lat;
    if (!std::getline(in, m.package) || !std::getline(in, lon) || !std::getline(in, lat)) break;
    m.package = Trim(m.package);
    m.lon = std::atof(lon.c_str());
    m.lat = std::atof(lat.c_str());
    models.push_back(m);
  }
  return true;
}

// An exclusive lock on the output folder while it is staged, packaged and
// imported, so that the shards of one build started together do that work
// once: the first does it, the others wait and then find it done.
class OutputLock {
 public:
  explicit OutputLock(const fs::path& out)
      : fd_(::open((out / ".kmztile.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~OutputLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

 private:
  int fd_;
};

bool RunPipeline(const PipelineSettings& s, PipelineResult& result, std::string& error) {
  const fs::path out(s.out);
  const fs::path work = out / "work";
  std::error_code ec;
  fs::create_directories(out, ec);
  if (ec) {
    error = "cannot create the output folder " + s.out + ": " + ec.message();
    return false;
  }
  auto lock = std::make_unique<OutputLock>(out);
  StageClock clock;
  nlohmann::json stamp = ReadStamp(work);
  if (!Stage(s, work, stamp, error)) return false;
  result.stageSeconds.push_back({"stage", clock.Lap()});

  CBaseParser parser;
  std::wstring crsText, auxText;
  if (!Package(parser, s, work, stamp, crsText, auxText, error)) return false;
  result.stageSeconds.push_back({"package", clock.Lap()});
  const fs::path middle = work / "middle";
  parser.SetRequireFile(middle.string(), (middle / "scope.txt").string(), (middle / "coords.txt").string());

  std::vector<CoordsModel> models;
  if (!ReadCoordsFile((middle / "coords.txt").string(), models)) {
    error = "cannot read " + (middle / "coords.txt").string();
    return false;
  }
  for (const auto& m : models) {
    if (!(m.lon >= -180 && m.lon <= 180 && m.lat >= -90 && m.lat <= 90)) {
      char where[96];
      std::snprintf(where, sizeof where, "%.3f, %.3f", m.lon, m.lat);
      error = "model " + m.package + " is located at " + where +
              ", which is no longitude/latitude: give the grid's coordinate system with --crs (e.g. EPSG:4527)";
      stamp["packaged"] = false;
      WriteStamp(work, stamp);
      return false;
    }
  }
  result.models = static_cast<long>(models.size());
  // Packaging leaves out a model whose location or package is unusable.
  long sources = 0;
  for (const auto& e : fs::directory_iterator(work, ec)) {
    if (LowerExtension(e.path()) == ".dae" && e.is_regular_file()) ++sources;
  }
  if (sources > result.models)
    result.warnings.push_back(std::to_string(sources - result.models) + " of " + std::to_string(sources) +
                              " models were left out while packaging (unusable location or files); run `kmztile check " +
                              s.source + "` for the reasons");
  if (!Import(parser, middle, stamp, work, error)) return false;
  lock.reset();
  result.stageSeconds.push_back({"import", clock.Lap()});

  std::vector<PlannedTile> plan = PlanTiles(parser, s, models, result);
  std::vector<PlannedTile> todo;
  size_t skipped = 0;
  for (const auto& t : plan) {
    if (build::ShardOf(t.parent, s.shard.count) != s.shard.index) continue;
    if (fs::exists(out / build::TilePath(t.key))) {
      ++skipped;
      continue;
    }
    todo.push_back(t);
  }
  result.stageSeconds.push_back({"plan", clock.Lap()});
  if (!RunWorkers(parser, todo, s, out, skipped, result, error)) return false;
  result.stageSeconds.push_back({"tiles", clock.Lap()});

  const auto manifests = ReadManifests(work);
  for (const auto& t : plan) {
    if (build::ShardOf(t.parent, s.shard.count) != s.shard.index) continue;
    TileRecord record;
    if (RecordOf(out, t.key, manifests, record)) {
      result.tiles.push_back(record);
      continue;
    }
    const auto it = manifests.find(t.key);
    if (it != manifests.end() && it->second.contains("error"))
      result.failedTiles.push_back("tile " + build::TilePath(t.key) + ": " + it->second.at("error").get<std::string>());
  }
  if (s.shard.count == 1) {
    std::vector<TileRecord> tiles = result.tiles;
    if (!WriteBuildOutputs(s.out, tiles, error)) return false;
  } else {
    build::Tileset part;
    part.settings = {{"levels", {s.minLevel, s.maxLevel}}, {"crs", s.crs},
                     {"shard", std::to_string(s.shard.index) + "/" + std::to_string(s.shard.count)}};
    part.tiles = result.tiles;
    build::WriteFileAtomically((out / ("tileset-shard-" + std::to_string(s.shard.index) + "-of-" +
                                       std::to_string(s.shard.count) + ".json")).string(),
                               build::TilesetJson(part));
  }
  result.stageSeconds.push_back({"outputs", clock.Lap()});
  return true;
}

bool WriteBuildOutputs(const std::string& outText, std::vector<TileRecord>& tiles, std::string& error) {
  const fs::path out(outText);
  const fs::path middle = out / "work" / "middle";
  std::vector<CoordsModel> models;
  ReadCoordsFile((middle / "coords.txt").string(), models);
  const nlohmann::json stamp = ReadStamp(out / "work");
  build::Tileset tileset;
  std::set<long> levels;
  for (const auto& t : tiles) levels.insert(t.key.level);
  tileset.settings = {{"source", stamp.value("source", "")}, {"crs", stamp.value("crs", "")},
                      {"levels", std::vector<long>(levels.begin(), levels.end())},
                      {"models", models.size()}, {"generator", "kmztile 0.1.0"}};
  tileset.tiles = tiles;
  std::vector<build::ModelPoint> points;
  points.reserve(models.size());
  for (const auto& m : models) points.push_back({m.lon, m.lat});
  try {
    build::WriteFileAtomically((out / "tileset.json").string(), build::TilesetJson(tileset));
    build::WriteFileAtomically((out / "root.kml").string(), build::RootKml(tiles, build::RootKmlOptions{}));
    build::WriteFileAtomically((out / "overview.svg").string(),
                               build::OverviewSvg(tiles, points, build::OverviewOptions{}));
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace kmztool
