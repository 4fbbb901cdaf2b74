// The tile document: the first model's document, its "Model" placemark
// replaced by one normalised placemark per model.
//
// A model's placemark reads the same in every tile that holds it, so the
// document is put together as text: the first document is parsed, stripped
// and serialised with one stand-in placemark, whose line is then replaced by
// the models' placemark lines. A source that builds many tiles keeps both
// the placemarks and these starts between tiles. What the text way does not
// take falls back to building the whole document as elements, which is also
// the reference it is tested against.
#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "core/detail/ModelDocument.h"
#include "core/detail/TileCore.h"
#include "core/detail/TilePlacemark.h"
#include "core/detail/TileStarts.h"
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

// The direct features of @p folder named "Model".
std::size_t CountModelFeatures(const kmldom::FolderPtr& folder) {
  std::size_t count = 0;
  for (size_t i = 0; i < folder->get_feature_array_size(); ++i) {
    const kmldom::FeaturePtr& feature = folder->get_feature_array_at(i);
    if (feature->has_name() && feature->get_name() == "Model") ++count;
  }
  return count;
}

// The start of a tile document whose first model is models' first and
// whose @p count models replace the first document's features named
// "Model": kept by the source when it keeps starts. Null when it cannot be
// made (the whole way then finds why); @p replaced is how many of those
// features the models take out.
const TileStart* StartOf(TileModels& models, std::size_t count, TileStart& made, std::size_t& replaced) {
  const std::string& first = models.Package(0);
  TileStarts* starts = models.Starts();
  const std::optional<std::size_t> known = starts ? starts->ModelFeatures(first) : std::nullopt;
  if (known) {
    replaced = std::min(count, *known);
    if (const TileStart* kept = starts->Find(first, replaced)) return kept;
  }
  kmldom::KmlPtr root;
  kmldom::FolderPtr folder;
  if (!ParseFirstDocument(models, root, folder)) return nullptr;
  const std::size_t features = CountModelFeatures(folder);
  replaced = std::min(count, features);
  for (std::size_t r = 0; r < replaced; ++r) RemoveFirstModelPlacemark(folder);
  folder->add_feature(Slot());
  made.file.reset(kmlengine::KmlFile::CreateFromImport(root));
  const platform::KmlNumbers numbers;
  if (!made.file || !made.file->SerializeToString(&made.text)) return nullptr;
  if (!starts) return &made;
  starts->KeepModelFeatures(first, features);
  return &starts->Keep(first, replaced, std::move(made));
}

// The document put together as text; false when this way does not apply
// (a failure among them: the whole way then finds and records it).
bool CombineAsText(TileModels& models, std::string& document) {
  static const std::string slotText = [] {
    std::string text;
    return PlacemarkTileText(Slot(), text) ? text : std::string();
  }();
  if (slotText.empty() || models.Package(0).empty()) return false;
  TileStart made;
  std::size_t replaced = 0;
  const TileStart* start = StartOf(models, models.Count(), made, replaced);
  if (!start) return false;

  // Each model takes the place of the folder's first feature named "Model":
  // one of the first document's while any is left, or else a placemark
  // added before it (a model whose base name is "Model").
  struct Added {
    std::string id, text;
  };
  std::vector<Added> added;
  for (size_t i = 0; i < models.Count(); ++i) {
    Added next{TilePlacemarkId(BaseNameOf(models.Package(i))), {}};
    if (!models.PlacemarkText(i, next.text)) return false;
    if (i >= replaced) {
      const auto named = std::find_if(added.begin(), added.end(), [](const Added& a) { return a.id == "Model"; });
      if (named != added.end()) added.erase(named);
    }
    added.push_back(std::move(next));
  }

  // Ids are unique in the document: among the placemarks, and against the
  // rest of the document, which the import checked on its own. They are
  // compared as the whole way's import compares them, escaped.
  std::set<std::string> ids;
  for (const Added& a : added)
    if (a.id == kSlotId || !ids.insert(a.id).second || start->file->GetObjectById(a.id)) return false;
  const std::string& serialized = start->text;
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
    if (!placemark)
      return Fail("model " + package + ": its document lacks the Model placemark with a location and a link");
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
