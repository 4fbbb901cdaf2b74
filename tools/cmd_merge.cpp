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
  build::Tileset merged;
  std::string error;
  if (!build::MergeTilesets(parts, merged, error) || !WriteBuildOutputs(out, merged.tiles, error)) {
    std::cerr << "kmztile merge: " << error << "\n";
    return kFailed;
  }
  std::cout << "merged " << files.size() << " shards: " << merged.tiles.size() << " tiles; wrote "
            << (fs::path(out) / "tileset.json").string() << ", root.kml and overview.svg\n";
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
