// kmztile build SRCDIR OUTDIR: a whole city from loose models to a tile pyramid.
//
// The source folder is read once (never written), every tile of every
// requested level that holds models is built in memory and written to
// OUTDIR/tiles/L/R/C.kmz (with --format kmz,3dtiles also as a glb to
// OUTDIR/3dtiles/L/R/C.glb), then the index files. Tiles already written by an
// earlier run are kept, so an interrupted build resumes where it stopped.
// The library is single-threaded by design, so --jobs N forks N workers.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "BuildPipeline.h"
#include "Command.h"
#include "build/JsonText.h"
#include "build/OutputFiles.h"
#include "build/OverviewSvg.h"
#include "build/Progress.h"
#include "build/RootKml.h"
#include "build/Shard.h"
#include "build/ShardEnvironment.h"
#include "build/Summary.h"
#include "build/Tileset.h"
#include "folders/detail/BuildFolders.h"
#include "placement/detail/SourceCheck.h"

namespace fs = std::filesystem;
using namespace kmztool::build;
using kmztile::placement::detail::ProblemSeverity;
using kmztile::placement::detail::SourceCheckReport;

namespace kmztool {
namespace {

struct BuildOptions {
  std::string source;
  std::string out;
  std::string levels =
      std::to_string(kmztile::tiles::detail::kCoarsestLevel) + "-" + std::to_string(kmztile::tiles::detail::kFinestLevel);
  std::string crs;
  int jobs = 1;
  std::string shard;
  unsigned shards = 0;  ///< --shards N with --shard auto; 0 when not given
  std::string format = "kmz";
  bool json = false;
  bool quiet = false;
  bool strict = false;
  std::string progress = "auto";
};

// A build that does not run: the reason on standard error and, with --json,
// as a JSON object on standard output, so that scripts always get JSON.
int Refuse(const BuildOptions& opt, int code, const std::string& reason) {
  std::cerr << "kmztile build: " << reason << "\n";
  if (opt.json)
    std::cout << build::JsonText({{"error", reason}, {"exit_code", code}}, 2)
              << "\n";
  return code;
}

// The model (N of N.dae) a problem of the source check concerns: its model
// file, location text or anything in its texture folder. Empty for a
// problem of the folder as a whole (the template, no model at all).
std::string ModelOfProblem(const SourceCheckReport& check, const std::string& file) {
  const fs::path folder = (fs::path(check.folder) / "x").lexically_normal().parent_path();
  const fs::path f = fs::path(file).lexically_normal();
  for (const auto& m : check.models) {
    if (m.name.empty()) continue;
    if (f == folder / m.modelFile || f == folder / (m.name + ".txt")) return m.name;
    const fs::path textures = folder / m.name;
    if (f == textures || f.parent_path() == textures) return m.name;
  }
  return "";
}

// Which tiles this run built, and why.
std::string RebuildLine(const RebuildCounts& r) {
  const long built = r.missing + r.forChangedModels + r.forSettings;
  std::string line = "built " + std::to_string(built) + " tile(s)";
  if (!r.everything.empty()) return line + ", all of them after " + r.everything + "\n";
  line += ": " + std::to_string(r.missing) + " missing, " + std::to_string(r.forChangedModels) + " for " +
          std::to_string(r.changedModels) + " model(s) added, removed, moved or edited";
  if (r.removed > 0) line += "; " + std::to_string(r.removed) + " tile(s) without models removed";
  return line + "\n";
}

int RunBuild(const BuildOptions& opt) {
  const auto started = std::chrono::steady_clock::now();
  PipelineSettings settings;
  std::string error;
  if (!ParseLevels(opt.levels, settings.minLevel, settings.maxLevel, error) ||
      !ParseFormats(opt.format, settings.threeDTiles, error) || !ValidateCrs(opt.crs, error)) {
    return Refuse(opt, kUsage, error);
  }
  if (!fs::is_directory(opt.source))
    return Refuse(opt, kUsage, "source folder " + opt.source + " does not exist or is not a folder");
  if (opt.jobs < 1 || opt.jobs > 256) return Refuse(opt, kUsage, "--jobs must be between 1 and 256");
  Shard shard;
  if (opt.shards != 0 && opt.shard != "auto")
    return Refuse(opt, kUsage, "--shards goes with --shard auto (--shard K/N names the count itself)");
  if (opt.shard == "auto") {
    if (!ShardFromEnvironment([](const char* name) { return std::getenv(name); }, opt.shards, shard, error))
      return Refuse(opt, kUsage, error);
  } else if (!opt.shard.empty() && !ParseShard(opt.shard, shard, error)) {
    return Refuse(opt, kUsage, "--shard: " + error);
  }
  // Refused before anything is touched: an output folder that holds the
  // source, which the build would empty and rewrite (it has no other working area).
  const std::string refused = kmztile::folders::detail::RefuseBuildFolders(opt.source, opt.out, opt.out);
  if (!refused.empty()) return Refuse(opt, kUsage, refused);
  // The same checks as `kmztile check`, every problem named. A model with
  // an error (no usable location, a model file that is no COLLADA, a missing
  // texture) is left out and the rest is built; an error of the folder as a
  // whole (an unusable template) stops the build before it starts, and so
  // does any problem under --strict.
  build::StageLine line(std::cerr, opt.progress == "auto" && !opt.quiet && !opt.json && build::StderrIsTerminal());
  line.Show("checking " + opt.source);
  const SourceCheckReport check = kmztile::placement::detail::CheckSourceFolder(opt.source, opt.jobs);
  line.Clear();
  std::set<std::string> toldFiles;        // files the check named
  std::vector<std::string> checkLeftOut;  // what the check says the tiles will lack
  std::size_t folderErrors = 0;
  for (const auto& p : check.problems) {
    const bool error = p.severity == ProblemSeverity::kError;
    if (opt.strict && (error || p.leftOut))
      return Refuse(opt, kFailed, p.file + ": " + p.reason + " (--strict: nothing was built)");
    std::cerr << "kmztile build: " << (error ? "error: " : "warning: ") << p.file << ": " << p.reason << "\n";
    toldFiles.insert(p.file);
    if (p.leftOut) checkLeftOut.push_back(p.file + ": " + p.reason);
    if (!error) continue;
    const std::string model = ModelOfProblem(check, p.file);
    if (model.empty()) ++folderErrors;
    else if (settings.leftOut.insert(model).second)
      checkLeftOut.push_back(p.file + ": " + p.reason + "; model " + model + " is left out");
  }
  if (folderErrors > 0)
    return Refuse(opt, kFailed, opt.source + ": " + std::to_string(folderErrors) +
                                    " error(s) of the source folder itself; nothing was built");
  settings.source = opt.source;
  settings.out = opt.out;
  settings.crs = opt.crs;
  settings.jobs = opt.jobs;
  settings.shard = shard;
  settings.quiet = opt.quiet || opt.json;
  settings.progress = opt.progress;
  settings.strict = opt.strict;

  PipelineResult result;
  result.dropped = checkLeftOut;
  if (!RunPipeline(settings, result, error)) {
    // The tiles' lines say "see above" of a stage that ended early: its cause comes first.
    if (!result.stageError.empty()) std::cerr << "kmztile build: " << result.stageError << "\n";
    for (const auto& f : result.failedTiles) std::cerr << "kmztile build: " << f << "\n";
    return Refuse(opt, kFailed, error);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const BuildSummary summary = Summarize(result.tiles, result.models, seconds, result.emptyPerLevel);
  if (opt.json) {
    nlohmann::json j = SummaryJson(summary);
    j["out"] = opt.out;
    j["formats"] = FormatsText(settings.threeDTiles);
    if (settings.threeDTiles) j["glb_tiles"] = result.glbTiles;
    j["failed_tiles"] = result.failedTiles.size();
    j["failures"] = result.failedTiles;
    if (!result.stageError.empty()) j["error"] = result.stageError;
    j["warnings"] = result.warnings;
    j["dropped"] = result.dropped;
    const RebuildCounts& r = result.rebuild;
    j["rebuilt"] = {{"missing", r.missing}, {"changed_models", r.forChangedModels}, {"settings", r.forSettings},
                    {"settings_changed", r.everything}, {"models_changed", r.changedModels}, {"removed", r.removed}};
    // Per-stage wall seconds; "levels" holds the worker seconds of each level's tiles.
    nlohmann::json stages = nlohmann::json::object();
    for (const auto& [name, secs] : result.stageSeconds) stages[name] = secs;
    nlohmann::json levels = nlohmann::json::object();
    for (const auto& [level, secs] : result.levelSeconds) levels[std::to_string(level)] = secs;
    stages["levels"] = levels;
    stages["tiles_cpu"] = result.tileCpuSeconds;
    stages["tiles_cpu_busiest_worker"] = result.busiestWorkerCpuSeconds;
    // The part of tiles_cpu the 3D Tiles took (models converted, glbs made and written).
    if (settings.threeDTiles) stages["glb_cpu"] = result.glbCpuSeconds;
    j["stages"] = stages;
    j["texture_cache"] = {{"hits", result.textureCacheHits}, {"misses", result.textureCacheMisses}};
    std::cout << build::JsonText(j, 2) << "\n";
  } else if (!opt.quiet) {
    std::cout << FormatSummaryTable(summary) << RebuildLine(result.rebuild);
    if (shard.count == 1)
      std::cout << "Open " << (fs::path(opt.out) / "root.kml").string() << " in a KML client, or look at "
                << (fs::path(opt.out) / "overview.svg").string() << "\n";
    if (shard.count == 1 && settings.threeDTiles)
      std::cout << "3D Tiles: " << result.glbTiles << " glb tile(s); open "
                << (fs::path(opt.out) / "3dtiles" / "tileset.json").string() << " in a 3D Tiles viewer\n";
  }
  for (const auto& w : result.warnings) std::cerr << "kmztile build: warning: " << w << "\n";
  if (!result.stageError.empty()) std::cerr << "kmztile build: " << result.stageError << "\n";
  for (const auto& f : result.failedTiles) std::cerr << "kmztile build: " << f << "\n";
  // A model or texture left out or altered fails the run, each one named
  // (files the check named already are not repeated).
  for (const auto& d : result.dropped)
    if (!toldFiles.count(d.substr(0, d.find(": ")))) std::cerr << "kmztile build: left out: " << d << "\n";
  std::set<std::string> droppedFiles;
  for (const auto& d : result.dropped) droppedFiles.insert(d.substr(0, d.find(": ")));
  if (!droppedFiles.empty())
    std::cerr << "kmztile build: " << droppedFiles.size() << " file(s) were left out or altered\n";
  return result.failedTiles.empty() && result.dropped.empty() && result.stageError.empty() ? kOk : kFailed;
}

const CommandRegistrar kRegisterBuild("build", [](CLI::App& app, int& exitCode) {
  auto opt = std::make_shared<BuildOptions>();
  CLI::App* cmd = app.add_subcommand("build", "Build a tile pyramid from a source folder of loose models");
  cmd->add_option("source", opt->source, "Source folder: N.dae, N.txt, N/ textures and the template doc.kml")->required();
  cmd->add_option("out", opt->out, "Output folder (tiles/, tileset.json, root.kml, overview.svg; 3dtiles/)")->required();
  cmd->add_option("--levels", opt->levels, "Levels to build, within 15-18 (e.g. 15-18, 17, 16-17)")->capture_default_str();
  cmd->add_option("--crs", opt->crs, "Definition of the grid coordinate system of grid locations (e.g. EPSG:4527)");
  cmd->add_option("--jobs", opt->jobs, "Worker processes for the tile stage")->capture_default_str();
  cmd->add_option("--shard", opt->shard,
                  "Build only share K of N of the tiles (K/N, 1 <= K <= N; or auto: from a Slurm job array or a "
                  "Kubernetes Indexed Job); merge afterwards");
  cmd->add_option("--shards", opt->shards, "With --shard auto in a Kubernetes Indexed Job: the number of shards")
      ->check(CLI::Range(1u, kMaxShards));
  cmd->add_option("--format", opt->format,
                  "Output formats: kmz (KMZ tiles) or kmz,3dtiles (also a glb per tile and 3dtiles/tileset.json)")
      ->capture_default_str();
  cmd->add_flag("--json", opt->json, "Print the summary as JSON");
  cmd->add_flag("--quiet", opt->quiet, "Print nothing but errors");
  cmd->add_flag("--strict", opt->strict,
                "Stop at the first problem (a model, location text or texture that is unusable or left out, a tile "
                "that fails) instead of building everything else");
  cmd->add_option("--progress", opt->progress,
                  "Progress on standard error: auto (on a terminal, the stage, then tiles done with rate and time left "
                  "in a line redrawn in place), json (one JSON line a second for the tiles) or none")
      ->check(CLI::IsMember({"auto", "json", "none"}))
      ->capture_default_str();
  cmd->callback([opt, &exitCode] { exitCode = RunBuild(*opt); });
});

}  // namespace
}  // namespace kmztool
