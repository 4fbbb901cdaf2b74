// The tile document: the first model's document, its "Model" placemark
// replaced by one normalised placemark per model.
#include "core/detail/ModelDocument.h"
#include "core/detail/TileCore.h"
#include "kml/dom.h"
#include "kml/engine.h"
#include "parser/ModelElements.h"
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
  if (tileName.empty() || models.Count() == 0) return false;
  platform::InstallUserDefaultLocale();
  std::string text;
  kmldom::KmlPtr tileRoot;
  kmldom::FolderPtr tileFolder;
  if (models.Package(0).empty() || !models.Document(0, text) || !ParseModelDocument(text, tileRoot, tileFolder))
    return false;

  for (size_t i = 0; i < models.Count(); ++i) {
    const std::string& package = models.Package(i);
    if (package.empty()) return false;
    // The first model's source placemark is read from the tile document
    // itself: nothing has been removed from or added to it yet.
    kmldom::KmlPtr root;
    kmldom::FolderPtr source = tileFolder;
    if (i > 0 && (!models.Document(i, text) || !ParseModelDocument(text, root, source))) return false;
    const kmldom::PlacemarkPtr placemark = BuildTilePlacemark(source, BaseNameOf(package));
    if (!placemark) return false;
    RemoveFirstModelPlacemark(tileFolder);
    tileFolder->add_feature(placemark);
  }

  // The import refuses documents with duplicate ids (the same model twice,
  // or a model named like an element of the first document).
  const kmlengine::KmlFilePtr file = kmlengine::KmlFile::CreateFromImport(tileRoot);
  if (!file) return false;
  std::string serialized;
  if (!file->SerializeToString(&serialized)) return false;
  document.swap(serialized);
  return true;
}

}  // namespace kmztile::core
