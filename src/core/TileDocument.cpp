// The tile document: the first model's document, its "Model" placemark
// replaced by one normalised placemark per model.
//
// A model's placemark reads the same in every tile that holds it, so the
// document is put together as text: the first document is parsed, stripped
// and serialised with one stand-in placemark, whose line is then replaced by
// the models' placemark lines (kept between tiles by the source). What the
// text way does not take falls back to building the whole document as
// elements, which is also the reference it is tested against.
#include <algorithm>
#include <set>
#include <vector>

#include "core/detail/ModelDocument.h"
#include "core/detail/TileCore.h"
#include "core/detail/TilePlacemark.h"
#include "kml/dom.h"
#include "kml/engine.h"
#include "platform/LastError.h"
#include "platform/Locale.h"
#include "tiles/detail/TileNames.h"

namespace kmztile::core {
namespace {

using tiles::detail::BaseNameOf;

// Records why the tile document cannot be made (see platform/LastError.h).
bool Fail(std::string reason) {
  platform::SetLastError(std::move(reason));
  return false;
}

// Removes the folder's first direct feature named "Model"; false when there is none.
bool RemoveFirstModelPlacemark(const kmldom::FolderPtr& folder) {
  for (size_t i = 0; i < folder->get_feature_array_size(); ++i) {
    const kmldom::FeaturePtr& feature = folder->get_feature_array_at(i);
    if (feature->has_name() && feature->get_name() == "Model") {
      folder->DeleteFeatureAt(i);
      return true;
    }
  }
  return false;
}

// The first model's document, parsed: the tile document starts from it.
bool ParseFirstDocument(TileModels& models, kmldom::KmlPtr& root, kmldom::FolderPtr& folder) {
  if (models.Package(0).empty()) return Fail("a model of the tile has no name");
  std::string text;
  // A model's document that cannot be read has recorded why itself.
  if (!models.Document(0, text)) return false;
  if (!ParseModelDocument(text, root, folder))
    return Fail("model " + models.Package(0) + ": its document is not KML with a Folder");
  return true;
}

// The stand-in placemark's id; no base name of a model looks like it.
const char kSlotId[] = "kmztile:tile-placemarks:slot";

kmldom::PlacemarkPtr Slot() {
  const kmldom::PlacemarkPtr slot = kmldom::KmlFactory::GetFactory()->CreatePlacemark();
  slot->set_id(kSlotId);
  return slot;
}

// The document put together as text; false when this way does not apply
// (a failure among them: the whole way then finds and records it).
bool CombineAsText(TileModels& models, std::string& document) {
  static const std::string slotText = [] {
    std::string text;
    return PlacemarkTileText(Slot(), text) ? text : std::string();
  }();
  if (slotText.empty()) return false;
  kmldom::KmlPtr tileRoot;
  kmldom::FolderPtr tileFolder;
  if (!ParseFirstDocument(models, tileRoot, tileFolder)) return false;

  // Each model takes the place of the folder's first feature named "Model":
  // one of the first document's, or else a placemark added before it (a
  // model whose base name is "Model").
  struct Added {
    std::string id, text;
  };
  std::vector<Added> added;
  for (size_t i = 0; i < models.Count(); ++i) {
    Added next{BaseNameOf(models.Package(i)), {}};
    if (!models.PlacemarkText(i, next.text)) return false;
    if (!RemoveFirstModelPlacemark(tileFolder)) {
      const auto named = std::find_if(added.begin(), added.end(), [](const Added& a) { return a.id == "Model"; });
      if (named != added.end()) added.erase(named);
    }
    added.push_back(std::move(next));
  }

  // Ids are unique in the document: among the placemarks, and against the
  // rest of the document, which the import checks on its own.
  std::set<std::string> ids;
  for (const Added& a : added)
    if (a.id == kSlotId || !ids.insert(a.id).second) return false;
  tileFolder->add_feature(Slot());
  const kmlengine::KmlFilePtr file = kmlengine::KmlFile::CreateFromImport(tileRoot);
  if (!file) return false;
  for (const Added& a : added)
    if (file->GetObjectById(a.id)) return false;
  std::string serialized;
  const platform::KmlNumbers numbers;
  if (!file->SerializeToString(&serialized)) return false;
  const size_t at = serialized.find(slotText);
  if (at == std::string::npos || serialized.find(slotText, at + 1) != std::string::npos) return false;

  std::string combined;
  size_t size = serialized.size();
  for (const Added& a : added) size += a.text.size();
  combined.reserve(size);
  combined.append(serialized, 0, at);
  for (const Added& a : added) combined += a.text;
  combined.append(serialized, at + slotText.size(), std::string::npos);
  document.swap(combined);
  return true;
}

}  // namespace

bool CombineTileDocument(TileModels& models, const std::string& tileName, std::string& document) {
  if (tileName.empty() || models.Count() == 0) return Fail("the tile has no name or no model");
  platform::InstallUserDefaultLocale();
  return CombineAsText(models, document) || CombineTileDocumentWhole(models, tileName, document);
}

bool CombineTileDocumentWhole(TileModels& models, const std::string& tileName, std::string& document) {
  if (tileName.empty() || models.Count() == 0) return Fail("the tile has no name or no model");
  platform::InstallUserDefaultLocale();
  kmldom::KmlPtr tileRoot;
  kmldom::FolderPtr tileFolder;
  if (!ParseFirstDocument(models, tileRoot, tileFolder)) return false;

  std::string text;
  for (size_t i = 0; i < models.Count(); ++i) {
    const std::string& package = models.Package(i);
    if (package.empty()) return Fail("a model of the tile has no name");
    // The first model's source placemark is read from the tile document
    // itself: nothing has been removed from or added to it yet.
    kmldom::KmlPtr root;
    kmldom::FolderPtr source = tileFolder;
    if (i > 0 && !models.Document(i, text)) return false;
    if (i > 0 && !ParseModelDocument(text, root, source))
      return Fail("model " + package + ": its document is not KML with a Folder");
    const kmldom::PlacemarkPtr placemark = BuildTilePlacemark(source, BaseNameOf(package));
    if (!placemark) return Fail("model " + package + ": its document lacks the Model placemark with a location and a link");
    RemoveFirstModelPlacemark(tileFolder);
    tileFolder->add_feature(placemark);
  }

  // The import refuses documents with duplicate ids (the same model twice,
  // or a model named like an element of the first document).
  const kmlengine::KmlFilePtr file = kmlengine::KmlFile::CreateFromImport(tileRoot);
  if (!file) return Fail("two models of the tile share an id (the same model twice, or a model named like an element)");
  std::string serialized;
  const platform::KmlNumbers numbers;
  if (!file->SerializeToString(&serialized)) return Fail("the tile document cannot be written as KML");
  document.swap(serialized);
  return true;
}

}  // namespace kmztile::core
