#include "pipeline/Workers.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <signal.h>
#include <string.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <new>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "build/JsonText.h"
#include "build/OutputFiles.h"
#include "build/Progress.h"
#include "core/detail/TileCore.h"
#include "core/detail/TileGlb.h"
#include "pipeline/BuildState.h"
#include "platform/FaultInjection.h"
#include "platform/LastError.h"
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
  // Set when the stage must end early (a worker could not go on, or --strict
  // met a problem): no worker takes another area.
  std::atomic<bool> stop{false};
};

// The counters in an anonymous shared mapping, released on scope exit.
class SharedMapping {
 public:
  /** @throws std::runtime_error when the system gives no shared memory */
  SharedMapping() {
    memory_ = mmap(nullptr, sizeof(SharedCounters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory_ == MAP_FAILED)
      throw std::runtime_error(std::string("cannot map shared memory for the worker processes: ") + std::strerror(errno));
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
                        kmztile::tiles::detail::TextureCache& cache, kmztile::core::AreaModels& area,
                        kmztile::core::TileGlbs* glbs, SharedCounters& counters) {
  const build::TileKey key = KeyOf(t);
  nlohmann::json line = {{"level", t.level}, {"row", t.row}, {"column", t.column}};
  kmztile::core::SourceModels models(catalog, t.models, &area);
  std::string document, kmz;
  kmztile::platform::ClearLastError();
  if (!kmztile::core::BuildTile(models, kmztile::core::TileName(t.level, t.row, t.column),
                                kmztile::core::DetailOfLevel(t.level, &cache), document, kmz,
                                glbs ? glbs->Listener() : kmztile::core::PackedEntryListener{})) {
    const std::string& why = kmztile::platform::LastError();
    line["error"] = why.empty() ? "the tile could not be built (a model document, COLLADA file or texture of it is unreadable)"
                                : why;
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

// A test hook: KMZTILE_TEST_KILL_WORKER_AFTER=K makes the worker process
// that builds the K-th tile of the stage kill itself with SIGKILL right
// after it, as the system's out-of-memory killer would.
long KillAfterTiles(bool forked) {
  const char* text = std::getenv("KMZTILE_TEST_KILL_WORKER_AFTER");
  return forked && text ? std::atol(text) : 0;
}

// One worker: takes areas until none is left, appending a line per tile to
// its manifest. @return empty, or why the worker stopped early (a manifest
// it cannot write: the tile just written is removed again, so that no tile
// stands without its record).
std::string Work(const kmztile::core::SourceCatalog& catalog, const std::vector<PlannedTile>& todo,
                 const std::vector<TileGroup>& groups, const TileStageSettings& s, int job, bool forked,
                 SharedCounters& counters, const std::function<void()>& onTile) {
  const long long cpuStart = ProcessCpuNanos();
  auto& cache = kmztile::tiles::detail::TextureCache::Shared();
  kmztile::core::TileGlbs glbs;
  const auto hitsBefore = cache.Hits(), missesBefore = cache.Misses();
  kmztile::core::AreaModels area;
  // Kept open for the whole stage: a line per tile, each in one write.
  build::AppendFile manifest(ManifestPath(s.out, s.shard, job).string());
  const long killAfter = KillAfterTiles(forked);
  std::string stopped;
  while (stopped.empty() && !counters.stop.load()) {
    const long g = counters.nextGroup++;
    if (g < 0 || static_cast<size_t>(g) >= groups.size()) break;
    for (size_t i = groups[static_cast<size_t>(g)].first; i < groups[static_cast<size_t>(g)].second; ++i) {
      const auto started = std::chrono::steady_clock::now();
      nlohmann::json line = BuildOne(catalog, todo[i], s.out, cache, area, s.threeDTiles ? &glbs : nullptr, counters);
      const bool failed = line.contains("error");
      if (failed) counters.failed++;
      // When it was built: of two records of a tile (in two workers' manifests) the newer counts.
      line["at"] = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::system_clock::now().time_since_epoch()).count();
      // What the library left out of this tile travels to the parent with it.
      for (const auto& p : kmztile::platform::TakeProblems()) line["dropped"].push_back(p.file + ": " + p.reason);
      try {
        // Its messages are for people: bytes of a file name that are not
        // UTF-8 (which JSON cannot hold) are shown as replacement characters.
        manifest.Append(build::JsonText(line) + "\n");
      } catch (const std::exception& e) {
        std::error_code ec;
        if (!failed) std::filesystem::remove(s.out / build::TilePath(KeyOf(todo[i])), ec);
        if (!failed && s.threeDTiles) std::filesystem::remove(s.out / GlbPath(KeyOf(todo[i])), ec);
        stopped = e.what();
        counters.stop = true;
        break;
      }
      if (s.strict && (failed || line.contains("dropped"))) counters.stop = true;
      const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started);
      const long slot = todo[i].level - kmztile::tiles::detail::kCoarsestLevel;
      if (slot >= 0 && slot < kLevels) counters.levelNanos[slot] += nanos.count();
      const long done = ++counters.done;
      if (onTile) onTile();
      if (done == killAfter) ::raise(SIGKILL);
    }
    // An area's textures are not used by the next area's tiles: dropping them
    // keeps memory bounded by one area, and their memory serves the next area.
    // So are its models, deflated and written as placemarks for the archives
    // and converted for the glbs of its four levels.
    cache.Clear();
    area.Clear();
    glbs.Forget();
  }
  try {
    manifest.Close();
  } catch (const std::exception& e) {
    if (stopped.empty()) stopped = e.what();
  }
  const long long cpu = ProcessCpuNanos() - cpuStart;
  counters.cpuNanos += cpu;
  long long busiest = counters.maxWorkerCpuNanos.load();
  while (cpu > busiest && !counters.maxWorkerCpuNanos.compare_exchange_weak(busiest, cpu)) {
  }
  counters.cacheHits += static_cast<long>(cache.Hits() - hitsBefore);
  counters.cacheMisses += static_cast<long>(cache.Misses() - missesBefore);
  return stopped;
}

// fork() through the fault-injection seam; -1 with errno set when no process starts.
pid_t ForkWorker() {
  std::cout.flush();
  std::cerr.flush();
  if (kmztile::platform::InjectedFault(kmztile::platform::FileOp::Fork)) {
    errno = EAGAIN;
    return -1;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  // A worker does not outlive the build: when the build is killed its
  // workers get SIGKILL too (and one whose parent is already gone stops).
  if (pid == 0 && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)) _exit(1);
  return pid;
}

// What became of a worker process that ended, or empty when it finished well.
std::string WorkerEnd(int job, pid_t pid, int status) {
  const std::string who = "worker process " + std::to_string(job + 1) + " (pid " + std::to_string(pid) + ")";
  if (WIFSIGNALED(status))
    return who + " was killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    return who + " stopped with exit status " + std::to_string(WEXITSTATUS(status));
  return "";
}

}  // namespace

bool RunTileStage(const kmztile::core::SourceCatalog& catalog, const std::vector<PlannedTile>& todo,
                  const TileStageSettings& s, std::size_t skipped, TileStageStats& stats, std::string& error) {
  const std::vector<TileGroup> groups = kmztile::core::GroupByAreaHeaviestFirst(todo);
  build::CreateFolders(StateFolder(s.out).string());
  // Decoded textures are megabytes each. Left to its defaults, glibc maps
  // such blocks fresh from the kernel and unmaps them on release, so every
  // decode pays page faults again; kept in the heap, the memory of one
  // area's textures is reused by the next.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // What reading the source and reconciling the output left free goes back
  // to the system first, so that neither this process nor the workers it
  // forks carry it through the tile stage.
  malloc_trim(0);
  SharedMapping counters;
  build::ProgressLine progress(std::cerr, s.progress, todo.size() + skipped);
  if (s.progressJson) progress.SetStyle(build::ProgressLine::Style::Json);
  progress.Advance(skipped);
  std::vector<std::string> problems;
  if (s.jobs == 1) {
    const std::string stopped = Work(catalog, todo, groups, s, 0, false, *counters, [&progress] { progress.Advance(); });
    if (!stopped.empty()) problems.push_back(stopped);
  } else {
    std::map<pid_t, int> children;  // pid -> job
    for (int j = 0; j < s.jobs; ++j) {
      const pid_t pid = ForkWorker();
      if (pid == 0) {
        const std::string stopped = Work(catalog, todo, groups, s, j, true, *counters, {});
        if (stopped.empty()) _exit(0);
        std::cerr << "kmztile build: " << stopped << "\n" << std::flush;
        _exit(1);
      }
      if (pid > 0) {
        children[pid] = j;
        continue;
      }
      // The workers already started stop after their area; no tile is built twice.
      problems.push_back("cannot start worker process " + std::to_string(j + 1) + " of " + std::to_string(s.jobs) +
                         ": " + std::strerror(errno));
      counters->stop = true;
      break;
    }
    size_t reported = 0;
    while (!children.empty()) {
      int status = 0;
      const pid_t done = waitpid(-1, &status, WNOHANG);
      if (done > 0) {
        const auto child = children.find(done);
        if (child == children.end()) continue;
        const std::string end = WorkerEnd(child->second, done, status);
        if (!end.empty()) problems.push_back(end);
        children.erase(child);
        continue;
      }
      if (done < 0 && errno != EINTR) {  // no worker left to wait for: never spin on it
        problems.push_back(std::string("cannot wait for the worker processes: ") + std::strerror(errno));
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
  stats.stoppedByStrict = s.strict && counters->stop.load() && problems.empty();
  for (const auto& p : problems) error += (error.empty() ? "" : "; ") + p;
  return problems.empty();
}

}  // namespace kmztool::pipeline
