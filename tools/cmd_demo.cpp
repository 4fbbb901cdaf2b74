// kmztile demo [OUTDIR]: the whole pipeline on the bundled sample city.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <thread>

#include "BuildPipeline.h"
#include "Command.h"
#include "DataFolders.h"
#include "build/Summary.h"
#include "folders/detail/BuildFolders.h"

namespace fs = std::filesystem;

namespace kmztool {
namespace {

// The sample city: installed data, or beside the sources in a build tree.
std::string FindSampleCity() {
  return FindDataFolder("samples/city", KMZTILE_SAMPLE_DIR, "doc.kml");
}

int RunDemo(const std::string& out) {
  const std::string city = FindSampleCity();
  if (city.empty()) {
    std::cerr << "kmztile demo: the bundled sample city is not installed\n";
    return kFailed;
  }
  const std::string refused =
      kmztile::folders::detail::RefuseBuildFolders(city, out, (fs::path(out) / "work").string());
  if (!refused.empty()) {
    std::cerr << "kmztile demo: " << refused << "\n";
    return kUsage;
  }
  PipelineSettings settings;
  settings.source = city;
  settings.out = out;
  settings.crs = "EPSG:4527";  // half of the sample city is located in CGCS2000 3-degree zone 39
  settings.threeDTiles = true;
  settings.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::cout << "Building the sample city (" << city << ") into " << out << ", levels 15-18, "
            << settings.jobs << " jobs, KMZ and 3D Tiles...\n";
  const auto started = std::chrono::steady_clock::now();
  PipelineResult result;
  std::string error;
  if (!RunPipeline(settings, result, error)) {
    std::cerr << "kmztile demo: " << error << "\n";
    return kFailed;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << build::FormatSummaryTable(build::Summarize(result.tiles, result.models, seconds, result.emptyPerLevel));
  for (const auto& f : result.failedTiles) std::cerr << "kmztile demo: " << f << "\n";
  const fs::path o(out);
  std::cout << "\nOpen " << (o / "root.kml").string()
            << " in a KML client (it streams the tiles by level as you zoom in),\n"
            << "look at " << (o / "overview.svg").string() << " for the tile grid and model counts,\n"
            << "and list one tile with: kmztile read " << (o / "tiles").string() << "/LEVEL/ROW/COL.kmz\n";
  std::error_code ec;
  if (fs::exists(o / "3dtiles" / "tileset.json", ec))
    std::cout << "\nSee the city in a browser (offline; Ctrl-C stops the server):\n  kmztile view " << out << "\n";
  return result.failedTiles.empty() ? kOk : kFailed;
}

const CommandRegistrar kRegisterDemo("demo", [](CLI::App& app, int& exitCode) {
  auto out = std::make_shared<std::string>("kmztile-demo");
  CLI::App* cmd = app.add_subcommand("demo", "Build the bundled sample city and say what to open");
  cmd->add_option("out", *out, "Output folder")->capture_default_str();
  cmd->callback([out, &exitCode] { exitCode = RunDemo(*out); });
});

}  // namespace
}  // namespace kmztool
