// kmztile package SRCDIR [--crs DEF] [--json]: packages a source folder of
// loose COLLADA models (N.dae, N.txt, N/ textures, doc.kml template) into
// SRCDIR/middle with the coordinates and scope files.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "Command.h"
#include "ProblemReport.h"
#include "build/JsonText.h"
#include "placement/detail/LocationText.h"
#include "placement/detail/TemplateCheck.h"
#include "platform/detail/ProjDefinition.h"
#include "tiles/detail/CoordinatesFile.h"

namespace {

struct PackageOptions {
  std::string folder;
  std::string crs;
  bool json = false;
};

// The result folder as the library names it (F + "\middle"), spelled for this system.
std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

int RunPackage(const PackageOptions& opt) {
  if (!opt.crs.empty() && !kmztile::platform::detail::IsCrsDefinition(opt.crs)) {
    std::cerr << "kmztile package: --crs \"" << opt.crs
              << "\" is not a coordinate reference system PROJ can read (use EPSG:nnnn, WKT or a PROJ string)\n";
    return kmztool::kUsage;
  }
  // Each model's document is the one before it written again: a template
  // that does not survive that would pack the first model and lose the rest.
  const std::string templatePath = opt.folder + "\\doc.kml";
  const std::string unusable = kmztile::placement::detail::CheckTemplateFile(templatePath, false);
  if (!unusable.empty()) {
    std::cerr << "kmztile package: " << Native(templatePath) << ": " << unusable << "; nothing was packaged\n";
    return kmztool::kFailed;
  }
  CBaseParser parser;
  const std::unique_ptr<wchar_t[]> crs(parser.StringToBSTR(opt.crs));
  const std::unique_ptr<wchar_t[]> aux(parser.StringToBSTR(""));
  std::string result;
  bool found = false;
  std::size_t problems = 0;
  try {
    found = parser.GenNeededFile(opt.folder, crs.get(), aux.get(), result);
    problems = kmztool::PrintRecordedProblems("package");
  } catch (const _com_error& e) {
    kmztool::PrintRecordedProblems("package");
    std::cerr << "kmztile package: the coordinate-system component failed (HRESULT 0x" << std::hex
              << static_cast<std::uint32_t>(e.Error()) << std::dec << ") while packaging " << opt.folder << "\n";
    return kmztool::kFailed;
  }
  if (!found) {
    std::cerr << "kmztile package: nothing was packaged: " << opt.folder
              << " holds no model file (*.dae), or its package folder middle is unusable (see above)\n";
    return kmztool::kFailed;
  }
  // The two files read back by the library's own readers.
  const auto coords = kmztile::tiles::detail::LoadCoordinates(result + "\\coords.txt");
  const long models = coords ? static_cast<long>(coords->models.size()) : 0;
  // Grid coordinates read without --crs are packed as they stand: such a
  // package places its model nowhere on Earth, and no tile would hold it.
  if (coords) {
    for (const auto& m : coords->models) {
      const std::string notLonLat = kmztile::placement::detail::WhyNotLonLat(m.longitude, m.latitude);
      if (notLonLat.empty()) continue;
      const bool kmz = m.name.size() > 4 && m.name.compare(m.name.size() - 4, 4, ".kmz") == 0;
      const std::string name = kmz ? m.name.substr(0, m.name.size() - 4) : m.name;
      std::cerr << "kmztile package: model " << Native(opt.folder + "\\" + name + ".txt") << " " << notLonLat << "\n";
      ++problems;
    }
  }
  parser.SetRequireFile(result, result + "\\scope.txt", result + "\\coords.txt");
  double extent[4] = {0, 0, 0, 0};  // west, south, east, north
  parser.GetScopeRange(extent[0], extent[2], extent[1], extent[3]);
  if (opt.json) {
    nlohmann::json out;
    out["models"] = models;
    out["problems"] = problems;
    out["folder"] = Native(result);
    out["extent"] = {{"west", extent[0]}, {"south", extent[1]}, {"east", extent[2]}, {"north", extent[3]}};
    std::cout << kmztool::build::JsonText(out, 2) << "\n";
  } else {
    std::cout << "models packaged: " << models << "\n"
              << "folder: " << Native(result) << "\n";
    char line[160];
    std::snprintf(line, sizeof line, "extent: west %.6f south %.6f east %.6f north %.6f", extent[0], extent[1],
                  extent[2], extent[3]);
    std::cout << line << "\n";
  }
  // The other packages are written, but the run did not do all that was
  // asked: each model or texture left out or altered was named above.
  return problems > 0 ? kmztool::kFailed : kmztool::kOk;
}

const kmztool::CommandRegistrar kRegisterPackage("package", [](CLI::App& app, int& exitCode) {
  auto opt = std::make_shared<PackageOptions>();
  CLI::App* cmd = app.add_subcommand("package", "Package a folder of loose COLLADA models into KMZs with coords.txt "
                                                "and scope.txt under SRCDIR/middle");
  cmd->add_option("srcdir", opt->folder, "Source folder: N.dae, N.txt (x and y lines), N/ textures, doc.kml")
      ->required();
  cmd->add_option("--crs", opt->crs,
                  "Coordinate system of grid locations (EPSG:nnnn, WKT or PROJ string); Gauss-Kruger grids are "
                  "converted to lon/lat");
  cmd->add_flag("--json", opt->json, "Print JSON for machines");
  cmd->callback([opt, &exitCode] { exitCode = RunPackage(*opt); });
});

}  // namespace
