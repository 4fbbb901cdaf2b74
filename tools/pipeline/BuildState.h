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
#include "threedtiles/ThreeDTiles.h"

namespace kmztool::pipeline {

/** The folder of the 3D Tiles output below the output folder. */
inline constexpr const char* kThreeDTilesFolder = "3dtiles";

/** A tile's glb below the output folder: "3dtiles/LEVEL/ROW/COLUMN.glb", as the 3D Tiles output names it. */
std::string GlbPath(const build::TileKey& key);

/** OUT/.kmztile, the folder of the build's own state. */
std::filesystem::path StateFolder(const std::filesystem::path& out);

/** The manifest one worker of one shard appends to. */
std::filesystem::path ManifestPath(const std::filesystem::path& out, const build::Shard& shard, int job);

/** Every manifest line of the output folder, the last record of a tile winning. */
std::map<build::TileKey, nlohmann::json> ReadManifests(const std::filesystem::path& out);

/** The record of a tile on disk: from its manifest line when it matches the file, or read back. */
bool RecordOf(const std::filesystem::path& out, const build::TileKey& key,
              const std::map<build::TileKey, nlohmann::json>& manifests, build::TileRecord& record);

/** The manifest record of a tile's glb: its size and its tileset entry (every double kept exactly). */
nlohmann::json GlbRecord(const kmztile::threedtiles::TileEntry& entry, std::uint64_t bytes);

/**
 * The tileset entry of a tile's glb on disk, from its manifest line. @return
 * false when the glb is missing, the line has no glb record or a damaged
 * one, or the file's size differs from the record (the tile is built again).
 */
bool GlbEntryOf(const std::filesystem::path& out, const build::TileKey& key,
                const std::map<build::TileKey, nlohmann::json>& manifests, kmztile::threedtiles::TileEntry& entry);

/** The bounds of a tile as the geographic pyramid reports them. */
void TileBounds(const build::TileKey& key, build::TileRecord& record);


}  // namespace kmztool::pipeline
