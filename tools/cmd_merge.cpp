// kmztile merge OUTDIR: joins the shard tilesets of a build into tileset.json,
// root.kml and overview.svg once every shard has run.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "BuildPipeline.h"
#include "Command.h"
#include "build/Tileset.h"

namespace fs = std::filesystem;

namespace kmztool {
namespace {

int RunMerge(const std::string& out) {
  std::vector<build::Tileset> parts;
  std::error_code ec;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(out, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("tileset-shard-", 0) == 0 && e.path().extension() == ".json") files.push_back(e.path());
  }
  if (ec || files.empty()) {
    std::cerr << "kmztile merge: no tileset-shard-*.json in " << out << " (run `kmztile build ... --shard K/N` first)\n";
    return kFailed;
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::ifstream in(f);
    std::stringstream text;
    text << in.rdbuf();
    build::Tileset part;
    std::string error;
    if (!build::ParseTileset(text.str(), part, error)) {
      std::cerr << "kmztile merge: " << f.string() << ": " << error << "\n";
      return kFailed;
    }
    parts.push_back(std::move(part));
  }
  // The shards of one build write the same formats; the 3D Tiles tilesets
  // are joined from the glb records the shards left in the manifests.
  const auto formatsOf = [](const build::Tileset& part) {
    return part.settings.is_object() ? part.settings.value("formats", "kmz") : std::string("kmz");
  };
  const std::string formats = formatsOf(parts.front());
  for (const auto& part : parts)
    if (formatsOf(part) != formats) {
      std::cerr << "kmztile merge: the shards were built with different --format (" << formats << ", "
                << formatsOf(part) << "); build every shard with the same formats\n";
      return kFailed;
    }
  bool threeDTiles = false;
  build::Tileset merged;
  std::string error;
  long glbTiles = 0;
  if (!ParseFormats(formats, threeDTiles, error) || !build::MergeTilesets(parts, merged, error) ||
      !WriteBuildOutputs(out, merged.tiles, threeDTiles, glbTiles, error)) {
    std::cerr << "kmztile merge: " << error << "\n";
    return kFailed;
  }
  std::cout << "merged " << files.size() << " shards: " << merged.tiles.size() << " tiles; wrote "
            << (fs::path(out) / "tileset.json").string() << ", root.kml and overview.svg\n";
  if (threeDTiles)
    std::cout << "3D Tiles: " << glbTiles << " glb tile(s) in " << (fs::path(out) / "3dtiles" / "tileset.json").string()
              << "\n";
  return kOk;
}

const CommandRegistrar kRegisterMerge("merge", [](CLI::App& app, int& exitCode) {
  auto out = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand("merge", "Join the shards of a build into tileset.json, root.kml and overview.svg");
  cmd->add_option("out", *out, "Output folder the shards were built into")->required();
  cmd->callback([out, &exitCode] { exitCode = RunMerge(*out); });
});

}  // namespace
}  // namespace kmztool
