// kmztile package SRCDIR [--crs DEF] [--json]: packages a source folder of
// loose COLLADA models (N.dae, N.txt, N/ textures, doc.kml template) into
// SRCDIR/middle with the coordinates and scope files.
#include <proj.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "Command.h"
#include "ProblemReport.h"

namespace {

struct PackageOptions {
  std::string folder;
  std::string crs;
  bool json = false;
};

// True when PROJ reads @p definition as a coordinate reference system (a
// PROJ string also with "+type=crs" added, as the conversion does).
bool IsCrsDefinition(const std::string& definition) {
  std::unique_ptr<PJ_CONTEXT, PJ_CONTEXT* (*)(PJ_CONTEXT*)> ctx(proj_context_create(), proj_context_destroy);
  proj_log_level(ctx.get(), PJ_LOG_NONE);
  for (const std::string& text : {definition, definition + " +type=crs"}) {
    std::unique_ptr<PJ, PJ* (*)(PJ*)> crs(proj_create(ctx.get(), text.c_str()), proj_destroy);
    if (crs && proj_is_crs(crs.get())) return true;
    if (definition.find("+proj=") == std::string::npos) break;
  }
  return false;
}

// The result folder as the library names it (F + "\middle"), spelled for this system.
std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// Lines of a small text file, without their CR LF.
std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

int RunPackage(const PackageOptions& opt) {
  if (!opt.crs.empty() && !IsCrsDefinition(opt.crs)) {
    std::cerr << "kmztile package: --crs \"" << opt.crs
              << "\" is not a coordinate reference system PROJ can read (use EPSG:nnnn, WKT or a PROJ string)\n";
    return kmztool::kUsage;
  }
  CBaseParser parser;
  const std::unique_ptr<wchar_t[]> crs(parser.StringToBSTR(opt.crs));
  const std::unique_ptr<wchar_t[]> aux(parser.StringToBSTR(""));
  std::string result;
  bool found = false;
  try {
    found = parser.GenNeededFile(opt.folder, crs.get(), aux.get(), result);
    kmztool::PrintRecordedProblems("package");
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
  const std::vector<std::string> coords = ReadLines(Native(result) + "/coords.txt");
  const std::vector<std::string> scope = ReadLines(Native(result) + "/scope.txt");
  const long models = coords.empty() ? 0 : std::atol(coords[0].c_str());
  double extent[4] = {0, 0, 0, 0};  // west, south, east, north
  for (size_t i = 0; i < 4 && i < scope.size(); ++i) extent[i] = std::atof(scope[i].c_str());
  if (opt.json) {
    nlohmann::json out;
    out["models"] = models;
    out["folder"] = Native(result);
    out["extent"] = {{"west", extent[0]}, {"south", extent[1]}, {"east", extent[2]}, {"north", extent[3]}};
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << "models packaged: " << models << "\n"
              << "folder: " << Native(result) << "\n";
    char line[160];
    std::snprintf(line, sizeof line, "extent: west %.6f south %.6f east %.6f north %.6f", extent[0], extent[1],
                  extent[2], extent[3]);
    std::cout << line << "\n";
  }
  return kmztool::kOk;
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
