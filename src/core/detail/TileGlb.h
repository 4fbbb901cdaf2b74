#pragma once
// The 3D Tiles content of a tile built by the tile core: one binary glTF
// holding the tile's models with the very textures its KMZ archive holds,
// reduced once for both. A model is converted from its COLLADA and placed
// once, the first time a tile holds it, and reused by its tiles of the other
// levels until the caller forgets it.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/detail/TileCore.h"
#include "threedtiles/ThreeDTiles.h"

namespace kmztile::core {

/** Makes the glb of each tile whose archive was packed with its listener. Not thread-safe. */
class TileGlbs {
 public:
  /** The listener to give PackTileArchive (or BuildTile) for the tile whose glb Build makes next. */
  PackedEntryListener Listener();

  /**
   * The glb of tile @p level / @p row / @p column, holding @p models (the
   * models of the archive packed last with Listener()), and the tile's
   * entry for its tileset. A model not held yet is converted from the
   * COLLADA the archive took, its image references resolved to the
   * archive's texture entries, and placed where its document's placemark
   * says. A model whose COLLADA cannot be converted is left out of the
   * glb and recorded as a problem naming its file (once until Forget).
   * @return false with a reason naming the model or the tile.
   */
  bool Build(TileModels& models, long level, long row, long column, std::string& glb,
             threedtiles::TileEntry& entry, std::string& error);

  /**
   * Forgets the models converted so far. A model is in one tile of each
   * level, all in one area of the coarsest level: a builder that takes the
   * tiles area by area forgets after each area and holds one area's models.
   */
  void Forget() {
    sink_.ReleaseModels();
    unconvertible_.clear();
  }

 private:
  /** What the archive took of one model. */
  struct PackedModel {
    std::string colladaName;  ///< its path in the package ("models/N.dae")
    std::string colladaWhere;  ///< its file as the user knows it
    std::string collada;
    /** Every texture entry of the model, packed or not: package path -> archive name. */
    std::map<std::string, std::string> archiveNames;
  };
  std::string TextureKey(const PackedModel& model, const std::string& reference) const;

  std::vector<PackedModel> packed_;
  threedtiles::TileTextures textures_;  ///< archive name -> bytes, of the textures packed
  threedtiles::ThreeDTilesSink sink_{std::string()};
  std::set<std::string> unconvertible_;  ///< models left out, already reported
};

}  // namespace kmztile::core
