#include "pipeline/Workers.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <iostream>
#include <new>

#include <nlohmann/json.hpp>

#include "build/OutputFiles.h"
#include "build/Progress.h"
#include "core/detail/TileCore.h"
#include "core/detail/TileGlb.h"
#include "pipeline/BuildState.h"
#include "platform/Problems.h"
#include "tiles/detail/TextureCache.h"
#include "tiles/detail/TileNames.h"

namespace fs = std::filesystem;
using kmztile::core::PlannedTile;
using kmztile::core::TileGroup;

namespace kmztool::pipeline {
namespace {

constexpr long kLevels = kmztile::tiles::detail::kLevelFolderCount;

// Counters in memory shared by all worker processes.
struct SharedCounters {
  std::atomic<long> done{0};
  std::atomic<long> failed{0};
  // Nanoseconds spent on the tiles of each level (index level - coarsest level), added by every worker.
  std::atomic<long long> levelNanos[kLevels] = {};
  std::atomic<long> cacheHits{0};
  std::atomic<long> cacheMisses{0};
  // The next group of tiles a worker takes: workers pull whole areas one at
  // a time, so a worker that drew small areas is never left idle.
  std::atomic<long> nextGroup{0};
  // CPU nanoseconds of the tile work: all workers together, and the busiest one.
  std::atomic<long long> cpuNanos{0};
  std::atomic<long long> maxWorkerCpuNanos{0};
  std::atomic<long long> glbCpuNanos{0};
};

// The counters in an anonymous shared mapping, released on scope exit.
class SharedMapping {
 public:
  SharedMapping() {
    memory_ = mmap(nullptr, sizeof(SharedCounters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory_ == MAP_FAILED) throw std::bad_alloc();
    counters_ = new (memory_) SharedCounters();
  }
  ~SharedMapping() {
    counters_->~SharedCounters();
    munmap(memory_, sizeof(SharedCounters));
  }
  SharedMapping(const SharedMapping&) = delete;
  SharedMapping& operator=(const SharedMapping&) = delete;
  SharedCounters& operator*() { return *counters_; }
  SharedCounters* operator->() { return counters_; }

 private:
  void* memory_;
  SharedCounters* counters_;
};

long long ProcessCpuNanos() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

build::TileKey KeyOf(const PlannedTile& t) { return {t.level, t.row, t.column}; }

// Builds and writes one tile; the manifest line says what happened. With
// @p glbs, the tile's glb is made from the same packing and written too; its
// KMZ, when already on disk (a glb missing beside it), is kept as it is.
nlohmann::json BuildOne(const kmztile::core::SourceCatalog& catalog, const PlannedTile& t, const fs::path& out,
                        kmztile::tiles::detail::TextureCache& cache, kmztile::core::TileGlbs* glbs,
                        SharedCounters& counters) {
  const build::TileKey key = KeyOf(t);
  nlohmann::json line = {{"level", t.level}, {"row", t.row}, {"column", t.column}};
  kmztile::core::SourceModels models(catalog, t.models);
  std::string document, kmz;
  if (!kmztile::core::BuildTile(models, kmztile::core::TileName(t.level, t.row, t.column),
                                kmztile::core::DetailOfLevel(t.level, &cache), document, kmz,
                                glbs ? glbs->Listener() : kmztile::core::PackedEntryListener{})) {
    line["error"] = "the tile could not be built (a model document, COLLADA file or texture of it is unreadable)";
    return line;
  }
  try {
    const std::string kmzPath = (out / build::TilePath(key)).string();
    std::error_code ec;
    if (!glbs || !fs::exists(kmzPath, ec)) build::WriteFileAtomically(kmzPath, kmz);
    line.update({{"models", t.models.size()}, {"bytes", kmz.size()}});
    if (glbs) {
      const long long started = ProcessCpuNanos();
      kmztile::threedtiles::TileEntry entry;
      std::string glb, error;
      if (glbs->Build(models, t.level, t.row, t.column, glb, entry, error)) {
        build::WriteFileAtomically((out / GlbPath(key)).string(), glb);
        line["glb"] = GlbRecord(entry, glb.size());
      } else {
        line["glb_error"] = error;
      }
      counters.glbCpuNanos += ProcessCpuNanos() - started;
    }
  } catch (const std::exception& ex) {
    line["error"] = ex.what();
  }
  return line;
}

// One worker: takes areas until none is left, appending a line per tile to its manifest.
void Work(const kmztile::core::SourceCatalog& catalog, const std::vector<PlannedTile>& todo,
          const std::vector<TileGroup>& groups, const TileStageSettings& s, int job, SharedCounters& counters,
          const std::function<void()>& onTile) {
  const long long cpuStart = ProcessCpuNanos();
  auto& cache = kmztile::tiles::detail::TextureCache::Shared();
  kmztile::core::TileGlbs glbs;
  const auto hitsBefore = cache.Hits(), missesBefore = cache.Misses();
  std::ofstream manifest(ManifestPath(s.out, s.shard, job), std::ios::app);
  for (;;) {
    const long g = counters.nextGroup++;
    if (g < 0 || static_cast<size_t>(g) >= groups.size()) break;
    for (size_t i = groups[static_cast<size_t>(g)].first; i < groups[static_cast<size_t>(g)].second; ++i) {
      const auto started = std::chrono::steady_clock::now();
      nlohmann::json line = BuildOne(catalog, todo[i], s.out, cache, s.threeDTiles ? &glbs : nullptr, counters);
      if (line.contains("error")) counters.failed++;
      // What the library left out of this tile travels to the parent with it.
      for (const auto& p : kmztile::platform::TakeProblems()) line["dropped"].push_back(p.file + ": " + p.reason);
      manifest << line.dump() << "\n" << std::flush;
      const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started);
      const long slot = todo[i].level - kmztile::tiles::detail::kCoarsestLevel;
      if (slot >= 0 && slot < kLevels) counters.levelNanos[slot] += nanos.count();
      counters.done++;
      if (onTile) onTile();
    }
    // An area's textures are not used by the next area's tiles: dropping them
    // keeps memory bounded by one area, and their memory serves the next area.
    // So are its models, converted for the glbs of its four levels.
    cache.Clear();
    glbs.Forget();
  }
  const long long cpu = ProcessCpuNanos() - cpuStart;
  counters.cpuNanos += cpu;
  long long busiest = counters.maxWorkerCpuNanos.load();
  while (cpu > busiest && !counters.maxWorkerCpuNanos.compare_exchange_weak(busiest, cpu)) {
  }
  counters.cacheHits += static_cast<long>(cache.Hits() - hitsBefore);
  counters.cacheMisses += static_cast<long>(cache.Misses() - missesBefore);
}

}  // namespace

bool RunTileStage(const kmztile::core::SourceCatalog& catalog, const std::vector<PlannedTile>& todo,
                  const TileStageSettings& s, std::size_t skipped, TileStageStats& stats, std::string& error) {
  const std::vector<TileGroup> groups = kmztile::core::GroupByAreaHeaviestFirst(todo);
  std::error_code ec;
  fs::create_directories(StateFolder(s.out), ec);
  // Decoded textures are megabytes each. Left to its defaults, glibc maps
  // such blocks fresh from the kernel and unmaps them on release, so every
  // decode pays page faults again; kept in the heap, the memory of one
  // area's textures is reused by the next.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  SharedMapping counters;
  build::ProgressLine progress(std::cerr, s.progress, todo.size() + skipped);
  if (s.progressJson) progress.SetStyle(build::ProgressLine::Style::Json);
  progress.Advance(skipped);
  bool workersOk = true;
  if (s.jobs == 1) {
    Work(catalog, todo, groups, s, 0, *counters, [&progress] { progress.Advance(); });
  } else {
    std::vector<pid_t> children;
    for (int j = 0; j < s.jobs; ++j) {
      std::cout.flush();
      std::cerr.flush();
      const pid_t pid = fork();
      if (pid == 0) {
        Work(catalog, todo, groups, s, j, *counters, {});
        _exit(0);
      }
      if (pid > 0) children.push_back(pid);
      else workersOk = false;
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
      if (done < 0 && errno != EINTR) {  // no worker left to wait for: never spin on it
        workersOk = false;
        break;
      }
      const auto now = static_cast<size_t>(counters->done.load());
      if (now > reported) progress.Advance(now - reported), reported = now;
      usleep(100000);
    }
    const auto now = static_cast<size_t>(counters->done.load());
    if (now > reported) progress.Advance(now - reported);
  }
  progress.Finish();
  for (long level = s.minLevel; level <= s.maxLevel; ++level) {
    const long slot = level - kmztile::tiles::detail::kCoarsestLevel;
    stats.levelSeconds.push_back({level, static_cast<double>(counters->levelNanos[slot].load()) / 1e9});
  }
  stats.cpuSeconds = static_cast<double>(counters->cpuNanos.load()) / 1e9;
  stats.busiestWorkerCpuSeconds = static_cast<double>(counters->maxWorkerCpuNanos.load()) / 1e9;
  stats.cacheHits = counters->cacheHits.load();
  stats.cacheMisses = counters->cacheMisses.load();
  stats.glbCpuSeconds = static_cast<double>(counters->glbCpuNanos.load()) / 1e9;
  if (!workersOk) error = "a worker process died; run the same command again to build the missing tiles";
  return workersOk;
}

}  // namespace kmztool::pipeline
