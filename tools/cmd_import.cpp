// kmztile import WORKDIR [--scope FILE] [--coords FILE] [--json]: imports the
// KMZ packages of a working folder into its level folders and reports what
// each level folder holds and the extent of the models.
#include <filesystem>
#include <iostream>
#include <optional>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "Command.h"
#include "ProblemReport.h"
#include "build/JsonText.h"
#include "tiles/detail/TileNames.h"

namespace {

namespace fs = std::filesystem;

struct ImportOptions {
  std::string workdir;
  std::string scope;
  std::string coords;
  bool json = false;
};

struct LevelCounts {
  int kml = 0;
  int dae = 0;
};

struct Extent {
  double west = 0, east = 0, south = 0, north = 0;
};

constexpr int kLevelFolders = kmztile::tiles::detail::kLevelFolderCount;
// Level folder n of a working folder, named by the library's rule.
fs::path LevelFolderOf(const fs::path& workdir, int n) {
  return kmztile::tiles::detail::LevelFolder((workdir / "").string(), n);
}

constexpr long kMaxLevel = kmztile::tiles::detail::kFinestLevel;

bool HasExtension(const fs::path& p, const char* ext) { return p.extension() == ext; }

// The package copies in one level folder; a missing folder counts nothing.
LevelCounts CountCopies(const fs::path& folder) {
  LevelCounts counts;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    if (HasExtension(it->path(), ".kml")) ++counts.kml;
    if (HasExtension(it->path(), ".dae")) ++counts.dae;
  }
  return counts;
}

// An explicit file, or the default name in the working folder when it exists.
std::string ChooseFile(const std::string& given, const fs::path& workdir, const char* defaultName) {
  if (!given.empty()) return given;
  std::error_code ec;
  const fs::path candidate = workdir / defaultName;
  return fs::is_regular_file(candidate, ec) ? candidate.string() : std::string();
}

int RunImport(const ImportOptions& opt) {
  const fs::path workdir(opt.workdir);
  std::error_code ec;
  if (!fs::is_directory(workdir, ec)) {
    std::cerr << "kmztile import: " << opt.workdir << " is not a folder\n";
    return kmztool::kFailed;
  }
  const std::string scope = ChooseFile(opt.scope, workdir, "scope.txt");
  const std::string coords = ChooseFile(opt.coords, workdir, "coords.txt");
  // Any existing level folder makes the import skip (it marks an earlier run).
  bool existed = false;
  for (int n = 1; n <= kLevelFolders; ++n) existed = existed || fs::is_directory(LevelFolderOf(workdir, n), ec);

  CBaseParser parser;
  parser.SetRequireFile(opt.workdir, scope, coords);
  const bool imported = parser.EarlyPrepare("");
  kmztool::PrintRecordedProblems("import");
  if (!imported) {
    std::cerr << "kmztile import: cannot import " << opt.workdir
              << ": no .kmz package there, or a package could not be opened or copied"
                 " (its KML or model is missing, damaged, or a level folder is not writable)\n";
    return kmztool::kFailed;
  }

  LevelCounts levels[kLevelFolders];
  for (int n = 1; n <= kLevelFolders; ++n) levels[n - 1] = CountCopies(LevelFolderOf(workdir, n));

  std::optional<Extent> scopeExtent;
  if (!scope.empty()) {
    Extent e;
    if (!parser.GetScopeRange(e.west, e.east, e.south, e.north)) {
      std::cerr << "kmztile import: cannot open the scope file " << scope << "\n";
      return kmztool::kFailed;
    }
    scopeExtent = e;
  }
  std::optional<Extent> modelExtent;
  if (!coords.empty()) {
    Extent e;
    if (!parser.GetAllModelRange("", &e.south, &e.west, &e.north, &e.east)) {
      std::cerr << "kmztile import: cannot open the coordinates file " << coords << "\n";
      return kmztool::kFailed;
    }
    modelExtent = e;
  }

  auto extentJson = [](const Extent& e) {
    return nlohmann::json{{"west", e.west}, {"east", e.east}, {"south", e.south}, {"north", e.north}};
  };
  if (opt.json) {
    nlohmann::json out;
    out["workdir"] = opt.workdir;
    out["skipped"] = existed;
    out["levels"] = nlohmann::json::array();
    for (int n = 1; n <= kLevelFolders; ++n)
      out["levels"].push_back({{"folder", std::to_string(n)},
                               {"level", kMaxLevel - n + 1},
                               {"kml", levels[n - 1].kml},
                               {"dae", levels[n - 1].dae}});
    if (scopeExtent) out["scope"] = extentJson(*scopeExtent);
    if (modelExtent) out["models"] = extentJson(*modelExtent);
    std::cout << kmztool::build::JsonText(out, 2) << "\n";
    return kmztool::kOk;
  }
  if (existed) std::cout << "level folders already present: import skipped\n";
  std::cout << "folder\tlevel\tkml\tdae\n";
  for (int n = 1; n <= kLevelFolders; ++n)
    std::cout << n << "\t" << kMaxLevel - n + 1 << "\t" << levels[n - 1].kml << "\t" << levels[n - 1].dae << "\n";
  auto printExtent = [](const char* label, const Extent& e) {
    char line[256];
    std::snprintf(line, sizeof line, "west %.6f east %.6f south %.6f north %.6f", e.west, e.east, e.south, e.north);
    std::cout << label << ": " << line << "\n";
  };
  if (scopeExtent) printExtent("scope", *scopeExtent);
  if (modelExtent) printExtent("models", *modelExtent);
  return kmztool::kOk;
}

const kmztool::CommandRegistrar kRegisterImport("import", [](CLI::App& app, int& exitCode) {
  auto opt = std::make_shared<ImportOptions>();
  CLI::App* cmd = app.add_subcommand("import", "Copy every package's KML and model into the level folders 1 to 4");
  cmd->add_option("workdir", opt->workdir, "Working folder holding the .kmz packages")->required();
  cmd->add_option("--scope", opt->scope, "Scope file (default: WORKDIR/scope.txt when present)");
  cmd->add_option("--coords", opt->coords, "Coordinates file (default: WORKDIR/coords.txt when present)");
  cmd->add_flag("--json", opt->json, "Print JSON for machines");
  cmd->callback([opt, &exitCode] { exitCode = RunImport(*opt); });
});

}  // namespace
