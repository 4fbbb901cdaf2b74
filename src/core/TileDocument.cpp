// The tile document: the first model's document, its "Model" placemark
// replaced by one normalised placemark per model.
#include "core/detail/ModelDocument.h"
#include "core/detail/TileCore.h"
#include "kml/dom.h"
#include "kml/engine.h"
#include "parser/ModelElements.h"
#include "platform/LastError.h"
#include "platform/Locale.h"
#include "tiles/detail/TileNames.h"

namespace kmztile::core {
namespace {

using tiles::detail::BaseNameOf;
using tiles::detail::InsertBaseName;

// The new placemark of one model, built from the source placemark (the
// folder's second feature). Absent Orientation and Scale take KML's
// defaults; a missing placemark, Model, Location or Link fails.
kmldom::PlacemarkPtr BuildTilePlacemark(const kmldom::FolderPtr& source, const std::string& baseName) {
  const kmldom::PlacemarkPtr placemark = ModelPlacemark(source);
  const kmldom::ModelPtr model = kml::ModelOf(placemark);
  kml::ModelValues values;
  if (!model || !kml::ReadModelValues(model, values)) return nullptr;
  if (!values.hasLocation || !values.hasLink) return nullptr;
  values.href = InsertBaseName(values.href, baseName);

  kmldom::PlacemarkPtr tilePlacemark = kmldom::KmlFactory::GetFactory()->CreatePlacemark();
  tilePlacemark->set_name(baseName);
  tilePlacemark->set_id(baseName);
  tilePlacemark->set_description(placemark->get_description());
  tilePlacemark->set_geometry(kml::BuildModel(values));
  return tilePlacemark;
}

// Records why the tile document cannot be made (see platform/LastError.h).
bool Fail(std::string reason) {
  platform::SetLastError(std::move(reason));
  return false;
}

// Removes the folder's first direct feature named "Model", if any.
void RemoveFirstModelPlacemark(const kmldom::FolderPtr& folder) {
  for (size_t i = 0; i < folder->get_feature_array_size(); ++i) {
    const kmldom::FeaturePtr& feature = folder->get_feature_array_at(i);
    if (feature->has_name() && feature->get_name() == "Model") {
      folder->DeleteFeatureAt(i);
      return;
    }
  }
}

}  // namespace

bool CombineTileDocument(TileModels& models, const std::string& tileName, std::string& document) {
  if (tileName.empty() || models.Count() == 0) return Fail("the tile has no name or no model");
  platform::InstallUserDefaultLocale();
  std::string text;
  kmldom::KmlPtr tileRoot;
  kmldom::FolderPtr tileFolder;
  // A model's document that cannot be read has recorded why itself.
  if (models.Package(0).empty()) return Fail("a model of the tile has no name");
  if (!models.Document(0, text)) return false;
  if (!ParseModelDocument(text, tileRoot, tileFolder))
    return Fail("model " + models.Package(0) + ": its document is not KML with a Folder");

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
  if (!file->SerializeToString(&serialized)) return Fail("the tile document cannot be written as KML");
  document.swap(serialized);
  return true;
}

}  // namespace kmztile::core
