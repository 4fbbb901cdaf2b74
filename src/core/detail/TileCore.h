#pragma once
// The tile core: the models of one tile in, the tile's KML document and KMZ
// archive out, in memory. Both ways of building tiles use it: CreateTile
// gathers the models from the level folders of an imported working folder,
// and the build command gathers them straight from a source folder. Neither
// the document nor the archive depends on where the models came from.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ZipWriter.h"
#include "tiles/detail/TextureCache.h"

namespace kmztile::core {

class TileStarts;

/** One file of a model as its package holds it, in package order. */
struct ModelEntry {
  /** Path inside the package ("models/N/wall.jpg", "models/N.dae"). */
  std::string name;
  /** The bytes (for a COLLADA entry, the model's COLLADA file). */
  std::string data;
  /** A COLLADA entry passes unchanged; every other entry is a texture, reduced to the level. */
  bool collada = false;
  /** Identity of a texture's decode for the decoded-texture cache; unused when not cacheable. */
  tiles::detail::TextureKey source;
  bool cacheable = false;
  /** The file as the user should see it named when it is left out (a path of this system). */
  std::string where;
  /** A COLLADA entry already deflated, packed instead of data (which may then be empty); null: data is packed. */
  std::shared_ptr<const platform::DeflatedText> deflated;
  /**
   * When set, data is empty until needed and this reads it: a texture whose
   * decode is already cached is not read again. false: the file cannot be
   * read (the reader has reported it) and the entry is left out.
   */
  std::function<bool(std::string& data)> read;
};

/** The models of one tile, handed out one at a time in tile order. */
class TileModels {
 public:
  virtual ~TileModels() = default;
  virtual std::size_t Count() const = 0;
  /** The model's package name as the coordinates list names it ("N.kmz"). */
  virtual const std::string& Package(std::size_t i) const = 0;
  /** The model's KML document (a Folder whose second feature is its placemark). */
  virtual bool Document(std::size_t i, std::string& text) = 0;
  /** The model's files but its KML documents, in package order. @return false when one cannot be read. */
  virtual bool Entries(std::size_t i, std::vector<ModelEntry>& entries) = 0;
  /**
   * The model's placemark as every tile document holds it (lines and
   * indentation; see core/detail/TilePlacemark.h), made from Document(i).
   * A source that builds several tiles from the same models may keep it.
   * @return false, the reason recorded, when the document cannot be read
   * or lacks its placemark.
   */
  virtual bool PlacemarkText(std::size_t i, std::string& text);
  /** Where starts of tile documents are kept between tiles (see TileStarts.h); null: not kept. */
  virtual TileStarts* Starts() { return nullptr; }
};

/** How textures are reduced at a level. */
struct LevelDetail {
  /** The level's folder number: 1 for the finest level, one more per level up; 0 keeps textures whole. */
  int levelFolder = 1;
  /** Each level folder divides texture sizes by this base once more. */
  int textureBase = 2;
  /** Where decoded textures are kept between tiles; null decodes every time. */
  tiles::detail::TextureCache* cache = nullptr;
};

/**
 * The tile document: the first model's document with its "Model" placemark
 * replaced by one normalised placemark per model (named and identified by
 * the model's base name, its link moved into the model's own folder).
 * @return false when a model has no name, a document cannot be read or
 * lacks its placemark, or two models share an id.
 */
bool CombineTileDocument(TileModels& models, const std::string& tileName, std::string& document);

/**
 * CombineTileDocument done on the whole parsed document, every model's
 * document parsed again: the reference the faster way is held to, and what
 * it falls back to for documents it does not take (it then also gives the
 * reason of a failure).
 */
bool CombineTileDocumentWhole(TileModels& models, const std::string& tileName, std::string& document);

/**
 * Told of every entry of model @p model as the tile archive takes it, in
 * package order: with @p packed, the entry is in the archive under
 * @p archiveName holding entry.data (a texture as reduced for the level);
 * without, it is left out at this level. The archive has its own copy, so
 * the listener may take entry.data. Other outputs of the tile get the very
 * bytes of the KMZ this way, and textures are reduced once for all of them.
 */
using PackedEntryListener =
    std::function<void(std::size_t model, ModelEntry& entry, const std::string& archiveName, bool packed)>;

/**
 * The tile archive: @p document as tileName.kml, then every model's entries
 * under their renamed paths, textures reduced to the level (textures that
 * become too small are left out; so are textures that do not decode, each
 * recorded as a problem). @p listener, when given, is told of every entry.
 */
bool PackTileArchive(TileModels& models, const std::string& tileName, const std::string& document,
                     const LevelDetail& detail, std::string& archive, const PackedEntryListener& listener = {});

/** Both steps: the document and the archive of one tile. */
bool BuildTile(TileModels& models, const std::string& tileName, const LevelDetail& detail, std::string& document,
               std::string& archive, const PackedEntryListener& listener = {});

/** The texture detail of @p level in the level-folder scheme (finest level 18, base 2). */
LevelDetail DetailOfLevel(long level, tiles::detail::TextureCache* cache);

/** The name of a tile's files: "LEVEL-ROW-COLUMN". */
std::string TileName(long level, long row, long column);

}  // namespace kmztile::core
