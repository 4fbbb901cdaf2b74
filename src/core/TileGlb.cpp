// The glb of a tile: the models of its archive, converted once per model,
// with the textures the archive holds.
#include "core/detail/TileGlb.h"

#include <strings.h>

#include "kmztile/Pyramid.h"
#include "core/detail/ModelDocument.h"
#include "placement/detail/ColladaUri.h"
#include "platform/Problems.h"

namespace kmztile::core {

PackedEntryListener TileGlbs::Listener() {
  packed_.clear();
  textures_.clear();
  return [this](std::size_t model, ModelEntry& entry, const std::string& archiveName, bool packed) {
    if (packed_.size() <= model) packed_.resize(model + 1);
    PackedModel& m = packed_[model];
    if (entry.collada) {
      m.colladaName = entry.name;
      m.colladaWhere = entry.where.empty() ? entry.name : entry.where;
      m.collada = std::move(entry.data);
      return;
    }
    m.archiveNames[entry.name] = archiveName;
    if (packed) textures_[archiveName] = std::move(entry.data);
  };
}

// The texture entry an image reference of the model's COLLADA names, as a KML
// client finds it in the archive: resolved against the COLLADA's folder in the
// package. A name that differs in letter case only is taken too (the source
// folders come from systems that ignore case). "" for none: the material
// keeps its colour.
std::string TileGlbs::TextureKey(const PackedModel& model, const std::string& reference) const {
  const std::string::size_type slash = model.colladaName.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : model.colladaName.substr(0, slash);
  const auto resolved = placement::detail::ResolveColladaUri(reference, folder);
  if (resolved.kind != placement::detail::UriKind::kLocalFile) return {};
  const auto exact = model.archiveNames.find(resolved.path);
  if (exact != model.archiveNames.end()) return exact->second;
  for (const auto& [name, archiveName] : model.archiveNames)
    if (strcasecmp(name.c_str(), resolved.path.c_str()) == 0) return archiveName;
  return {};
}

bool TileGlbs::Build(TileModels& models, long level, long row, long column, std::string& glb,
                     threedtiles::TileEntry& entry, std::string& error) {
  const std::string tile = TileName(level, row, column);
  if (packed_.size() != models.Count()) {
    error = "tile " + tile + ": its archive was not packed for its glb";
    return false;
  }
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < models.Count(); ++i) {
    const std::string& id = models.Package(i);
    if (unconvertible_.count(id)) continue;
    if (sink_.HasModel(id)) {
      ids.push_back(id);
      continue;
    }
    std::string document;
    threedtiles::Placement placement;
    if (!models.Document(i, document) || !ReadModelPlacement(document, placement)) {
      error = "model " + id + ": its document has no placemark with a Model and a Location";
      return false;
    }
    const PackedModel& packed = packed_[i];
    const auto lookup = [&](const std::string& reference) { return TextureKey(packed, reference); };
    // A model assimp cannot read stays in the KMZ tiles (a KML client may
    // read it); the glb tiles leave it out, and say so once.
    std::string why;
    if (!sink_.AddModel(id, packed.collada, lookup, placement, why)) {
      platform::ReportProblem(packed.colladaWhere, "the 3D Tiles output leaves the model out: " + why);
      unconvertible_.insert(id);
      continue;
    }
    ids.push_back(id);
  }
  threedtiles::Region cell;
  VARIANT_BOOL valid = VARIANT_FALSE;
  CreateGeographicPyramid()->GetTileBounds(level, row, column, &cell.west, &cell.south, &cell.east, &cell.north,
                                           &valid);
  if (!valid) {
    error = "tile " + tile + " is outside the pyramid";
    return false;
  }
  const bool made = sink_.MakeTile(static_cast<int>(level), row, column, cell, ids, textures_, entry, glb, error);
  packed_.clear();
  textures_.clear();
  return made;
}

}  // namespace kmztile::core
