#pragma once
// What a build keeps in OUT/.kmztile between runs besides its catalog: one
// manifest line per tile a worker built.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "build/Shard.h"
#include "build/TileRecord.h"

namespace kmztool::pipeline {

/** OUT/.kmztile, the folder of the build's own state. */
std::filesystem::path StateFolder(const std::filesystem::path& out);

/** The manifest one worker of one shard appends to. */
std::filesystem::path ManifestPath(const std::filesystem::path& out, const build::Shard& shard, int job);

/** Every manifest line of the output folder, the newest record of a tile winning. @throws std::runtime_error when one cannot be read */
std::map<build::TileKey, nlohmann::json> ReadManifests(const std::filesystem::path& out);

/** The record of a tile on disk: from its manifest line when it matches the file, or read back. */
bool RecordOf(const std::filesystem::path& out, const build::TileKey& key,
              const std::map<build::TileKey, nlohmann::json>& manifests, build::TileRecord& record);

/** The bounds of a tile as the geographic pyramid reports them. */
void TileBounds(const build::TileKey& key, build::TileRecord& record);


}  // namespace kmztool::pipeline
