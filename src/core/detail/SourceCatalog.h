#pragma once
// A source folder read the way packaging reads it, without writing anything:
// every model's position (grid locations converted once), the template as
// rewritten for it, its COLLADA file and its textures. The build command
// plans and builds its tiles from this catalog; the packages GenNeededFile
// would write hold exactly these documents and files.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/detail/TileCore.h"
#include "core/detail/TileStarts.h"
#include "platform/SimilarTexts.h"

class CBaseParser;

namespace kmztile::core {

/** One model of a source folder, as packaging would place and pack it. */
struct SourceModel {
  std::string name;         ///< the file stem N
  std::string package;      ///< "N.kmz", the name the coordinates list gives it
  double longitude = 0;     ///< as the coordinates list holds it (six decimals)
  double latitude = 0;
  std::string packedDocument;  ///< the template rewritten for this model, held by the catalog's documents
  std::string colladaPath;  ///< the COLLADA file packaging takes
  std::vector<std::string> textures;  ///< file names in N/, in package order
};

/** The models of a source folder in packaging order. */
struct SourceCatalog {
  std::string folder;
  std::vector<SourceModel> models;
  /** Content hash of the template doc.kml as read ("" without one). */
  std::string templateHash;
  /** COLLADA files found; those that are not in models were left out (no usable location or files). */
  std::size_t listed = 0;
  /**
   * The models' documents, each the template rewritten for one model and so
   * nearly the same: held compressed against the first (about 50 bytes a
   * model instead of a kilobyte).
   */
  platform::SimilarTexts documents;
  /** The document of @p model. @return false when its compressed copy is damaged. */
  bool Document(const SourceModel& model, std::string& text) const { return documents.Unpack(model.packedDocument, text); }
};

/**
 * Reads source folder @p folder with grid locations in coordinate system
 * @p crs (empty: lon/lat only). Models packaging would leave out are left
 * out here too. @return false with @p error when the coordinate-system
 * component fails; an empty catalog is not an error.
 */
bool CatalogSource(CBaseParser& parser, const std::string& folder, const std::wstring& crs, SourceCatalog& catalog,
                   std::string& error);

/** A texture file's size and modification time as the area first found them. */
struct TextureStat {
  bool found = false;
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;
};

/**
 * What the tiles of one area share about their models, made at a model's
 * first tile and reused at its others (a model is in one tile per level),
 * keyed by catalog position: each COLLADA file deflated, each tile
 * placemark's text, each texture file's identity (so a texture is read as
 * one version through all the area's levels). Whoever builds tiles area by
 * area clears it between areas to bound its memory.
 */
struct AreaModels {
  std::unordered_map<std::size_t, std::shared_ptr<const platform::DeflatedText>> colladas;
  std::unordered_map<std::size_t, std::string> placemarks;
  std::unordered_map<std::size_t, std::vector<TextureStat>> textures;
  /** The starts of tile documents, by first model. */
  TileStarts starts;
  void Clear() {
    colladas.clear();
    placemarks.clear();
    textures.clear();
    starts.Clear();
  }
};

/** The models of one tile, straight from a source folder through its catalog. */
class SourceModels final : public TileModels {
 public:
  /**
   * @p indices are positions in the catalog, in tile order; @p area, when
   * given, keeps what the model's other tiles reuse.
   */
  SourceModels(const SourceCatalog& catalog, std::vector<std::size_t> indices, AreaModels* area = nullptr);

  std::size_t Count() const override { return indices_.size(); }
  const std::string& Package(std::size_t i) const override { return Model(i).package; }
  bool Document(std::size_t i, std::string& text) override;
  bool Entries(std::size_t i, std::vector<ModelEntry>& entries) override;
  bool PlacemarkText(std::size_t i, std::string& text) override;
  TileStarts* Starts() override { return area_ ? &area_->starts : nullptr; }

 private:
  const SourceModel& Model(std::size_t i) const { return catalog_.models[indices_[i]]; }
  const SourceCatalog& catalog_;
  std::vector<std::size_t> indices_;
  AreaModels* area_;
};

}  // namespace kmztile::core
