// The 3D Tiles output folder of a build: one glb per tile as the tile is
// made, the tilesets once every tile is known.
#include <cmath>
#include <sstream>

#include "platform/FileSystem.h"
#include "threedtiles/ThreeDTiles.h"

namespace kmztile::threedtiles {

ThreeDTilesSink::ThreeDTilesSink(std::string folder) : folder_(std::move(folder)) {
  while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

bool ThreeDTilesSink::AddModel(const std::string& id, const std::string& dae, const TextureLookup& lookup,
                               const Placement& placement, std::string& error) {
  const double values[] = {placement.longitude, placement.latitude, placement.altitude, placement.heading,
                           placement.tilt,      placement.roll,     placement.scaleX,   placement.scaleY,
                           placement.scaleZ};
  for (double value : values)
    if (!std::isfinite(value)) {
      error = "model " + id + ": its location, orientation or scale is not a finite number";
      return false;
    }
  if (std::abs(placement.latitude) > 90.0) {
    error = "model " + id + ": latitude " + std::to_string(placement.latitude) + " is outside -90 to 90";
    return false;
  }
  auto model = std::make_shared<ConvertedModel>();
  if (!ConvertCollada(dae, lookup, *model, error)) {
    error = "model " + id + ": " + error;
    return false;
  }
  PlacedModel placed = PlaceModel(std::move(model), placement);
  // A huge scale or altitude puts vertices where the glb's single-precision
  // offsets overflow; no building reaches 100,000 km from the Earth's centre.
  constexpr double kFarthest = 1e8;
  for (const auto& positions : placed.positions)
    for (std::size_t i = 0; i + 2 < positions.size(); i += 3)
      if (!(std::hypot(positions[i], positions[i + 1], positions[i + 2]) <= kFarthest)) {
        error = "model " + id + ": with its scale and altitude it reaches farther than " +
                std::to_string(static_cast<long>(kFarthest / 1000)) + " km from the Earth's centre";
        return false;
      }
  regions_[id] = RegionOf(placed);
  models_[id] = std::move(placed);
  return true;
}

void ThreeDTilesSink::ReleaseModel(const std::string& id) {
  models_.erase(id);
  regions_.erase(id);
}

void ThreeDTilesSink::ReleaseModels() {
  models_.clear();
  regions_.clear();
}

namespace {

// Creates @p folder and the folders of the file @p relative below it.
bool MakeFolders(const std::string& folder, const std::string& relative, std::string& error) {
  std::string path = folder;
  std::stringstream steps(relative);
  std::vector<std::string> parts;
  for (std::string part; std::getline(steps, part, '/');) parts.push_back(part);
  parts.pop_back();  // the file itself
  if (!platform::IsDirectory(path) && !platform::MakeDirectory(path)) {
    error = "cannot create the folder " + path;
    return false;
  }
  for (const std::string& part : parts) {
    path += "/" + part;
    if (!platform::IsDirectory(path) && !platform::MakeDirectory(path)) {
      error = "cannot create the folder " + path;
      return false;
    }
  }
  return true;
}

}  // namespace

std::string ContentPath(int level, long row, long column) {
  return std::to_string(level) + "/" + std::to_string(row) + "/" + std::to_string(column) + ".glb";
}

bool ThreeDTilesSink::MakeTile(int level, long row, long column, const Region& cell,
                               const std::vector<std::string>& ids, const TileTextures& textures, TileEntry& entry,
                               std::string& glb, std::string& error) const {
  const std::string name = std::to_string(level) + "/" + std::to_string(row) + "/" + std::to_string(column);
  entry = TileEntry{level, row, column, cell, ContentPath(level, row, column)};
  bool first = true;
  std::vector<const PlacedModel*> models;
  for (const std::string& id : ids) {
    auto found = models_.find(id);
    if (found == models_.end()) {
      error = "tile " + name + ": model " + id + " was not added";
      return false;
    }
    models.push_back(&found->second);
    const Region& region = regions_.at(id);
    if (first) {  // the cell's own heights say nothing; the models' do
      entry.region.minHeight = region.minHeight;
      entry.region.maxHeight = region.maxHeight;
    }
    entry.region = Union(entry.region, region);
    first = false;
  }
  entry.centre = TileCentre(entry.region);
  if (!WriteTileGlb(models, textures, entry.centre, glb, error)) {
    error = "tile " + name + ": " + error;
    return false;
  }
  return true;
}

bool ThreeDTilesSink::WriteTile(int level, long row, long column, const Region& cell,
                                const std::vector<std::string>& ids, const TileTextures& textures,
                                std::string& error) {
  TileEntry entry;
  std::string glb;
  if (!MakeTile(level, row, column, cell, ids, textures, entry, glb, error)) return false;
  if (!MakeFolders(folder_, entry.content, error)) return false;
  const std::string path = folder_ + "/" + entry.content;
  if (!platform::WriteFileAtomically(path, glb)) {
    error = "cannot write " + path;
    return false;
  }
  tiles_.push_back(std::move(entry));
  return true;
}

bool ThreeDTilesSink::Finish(std::string& error) { return WriteTilesets(folder_, tiles_, error); }

bool WriteTilesets(const std::string& folder, const std::vector<TileEntry>& tiles, std::string& error) {
  std::vector<TilesetFile> files;
  if (!BuildTilesets(tiles, files, error)) return false;
  for (const TilesetFile& file : files) {
    if (!MakeFolders(folder, file.path, error)) return false;
    const std::string path = folder + "/" + file.path;
    if (!platform::WriteFileAtomically(path, file.json)) {
      error = "cannot write " + path;
      return false;
    }
  }
  return true;
}

}  // namespace kmztile::threedtiles
