// kmztile merge OUTDIR: joins the shards of a build into tileset.json,
// root.kml and overview.svg once every shard has finished. Until then it
// names the shards that have not, and exits 1 without writing anything.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>

#include "BuildPipeline.h"
#include "Command.h"
#include "build/ShardRecords.h"
#include "build/Tileset.h"
#include "pipeline/BuildCatalog.h"
#include "platform/FileSystem.h"
#include "pipeline/BuildState.h"

namespace fs = std::filesystem;

namespace kmztool {
namespace {

// The shard records in OUT, by file name.
bool ReadShardRecords(const fs::path& out, std::map<std::string, std::string>& records, std::string& error) {
  std::error_code ec;
  for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
    build::Shard shard;
    const std::string name = it->path().filename().string();
    if (!build::ParseShardRecordName(name, shard)) continue;
    // Read without blocking: a FIFO or a device under a record's name is
    // refused at once instead of waiting for a writer that never comes.
    std::string text;
    errno = 0;
    if (!kmztile::platform::ReadWholeFile(it->path().string(), text)) {
      error = it->path().string() + ": cannot be read (" +
              (errno != 0 ? std::strerror(errno) : "not a regular file") + ")";
      return false;
    }
    records[name] = std::move(text);
  }
  if (ec) {
    error = out.string() + ": cannot list the folder: " + ec.message();
    return false;
  }
  return true;
}

int RunMerge(const std::string& outText) {
  const fs::path out(outText);
  pipeline::BuildCatalog catalog;
  if (!pipeline::ReadCatalog(out, catalog, false)) {
    std::cerr << "kmztile merge: " << (pipeline::StateFolder(out) / "catalog.jsonl").string()
              << " is missing or unreadable: " << outText << " is not the output folder of a build\n";
    return kFailed;
  }
  std::map<std::string, std::string> records;
  build::Tileset merged;
  std::string error;
  if (!ReadShardRecords(out, records, error) ||
      !build::JoinShardRecords(records, pipeline::SourceState(catalog), merged, error)) {
    std::cerr << "kmztile merge: " << outText << ": " << error << "\n";
    return kFailed;
  }
  // Every shard built the same formats (the records' settings agree); with
  // 3D Tiles the tilesets are joined from the glb records of the manifests.
  const std::string formats =
      merged.settings.is_object() ? merged.settings.value("formats", std::string("kmz")) : std::string("kmz");
  bool threeDTiles = false;
  long glbTiles = 0;
  if (!ParseFormats(formats, threeDTiles, error) ||
      !WriteBuildOutputs(outText, merged.tiles, threeDTiles, glbTiles, error)) {
    std::cerr << "kmztile merge: " << error << "\n";
    return kFailed;
  }
  std::cout << "merged " << records.size() << " shards: " << merged.tiles.size() << " tiles; wrote "
            << (out / "tileset.json").string() << ", root.kml and overview.svg\n";
  if (threeDTiles)
    std::cout << "3D Tiles: " << glbTiles << " glb tile(s) in " << (out / "3dtiles" / "tileset.json").string() << "\n";
  return kOk;
}

const CommandRegistrar kRegisterMerge("merge", [](CLI::App& app, int& exitCode) {
  auto out = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand(
      "merge", "Join the shards of a build into tileset.json, root.kml and overview.svg once all have finished");
  cmd->add_option("out", *out, "Output folder the shards were built into")->required();
  cmd->callback([out, &exitCode] { exitCode = RunMerge(*out); });
});

}  // namespace
}  // namespace kmztool
