// KML combination: the tile document is the first model's document, its
// "Model" placemarks replaced by one normalised placemark per model.
#include "BaseParser.h"
#include "kml/dom.h"
#include "kml/engine.h"
#include "parser/ModelElements.h"
#include "platform/FileSystem.h"
#include "platform/KmlFiles.h"
#include "platform/Locale.h"
#include "tiles/detail/TileNames.h"

namespace {

using namespace kmztile::tiles::detail;

// Parses a model document and returns its root and its Folder; false when
// the file cannot be read, is not KML or its root feature is not a Folder.
bool ReadModelDocument(const std::string& path, kmldom::KmlPtr& root, kmldom::FolderPtr& folder) {
  std::string text;
  if (!kmztile::platform::KmlReadFileToString(path, &text)) return false;
  root = kmldom::AsKml(kmldom::Parse(text, nullptr));
  if (!root || !root->has_feature()) return false;
  folder = kmldom::AsFolder(root->get_feature());
  return static_cast<bool>(folder);
}

// The new placemark of one model, built from the source placemark (the
// folder's second feature). Absent Orientation and Scale take KML's
// defaults; a missing placemark, Model, Location or Link fails.
kmldom::PlacemarkPtr BuildTilePlacemark(const kmldom::FolderPtr& source, const std::string& baseName) {
  if (source->get_feature_array_size() < 2) return nullptr;
  const kmldom::PlacemarkPtr placemark = kmldom::AsPlacemark(source->get_feature_array_at(1));
  const kmldom::ModelPtr model = kmztile::kml::ModelOf(placemark);
  kmztile::kml::ModelValues values;
  if (!model || !kmztile::kml::ReadModelValues(model, values)) return nullptr;
  if (!values.hasLocation || !values.hasLink) return nullptr;
  values.href = InsertBaseName(values.href, baseName);

  kmldom::PlacemarkPtr tilePlacemark = kmldom::KmlFactory::GetFactory()->CreatePlacemark();
  tilePlacemark->set_name(baseName);
  tilePlacemark->set_id(baseName);
  tilePlacemark->set_description(placemark->get_description());
  tilePlacemark->set_geometry(kmztile::kml::BuildModel(values));
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

bool CBaseParser::CombineKml(long level, std::vector<std::string> models, std::string tileName,
                             std::string* written) {
  if (m_workFolder.empty() || tileName.empty() || models.empty()) return false;
  const auto number = LevelFolderNumber(m_maxLevel, level);
  if (!number) return false;
  const std::string folder = LevelFolder(m_workFolder, *number) + "\\";
  kmztile::platform::InstallUserDefaultLocale();

  kmldom::KmlPtr tileRoot;
  kmldom::FolderPtr tileFolder;
  if (models.front().empty() || !ReadModelDocument(folder + ModelKmlNameOf(models.front()), tileRoot, tileFolder))
    return false;

  for (size_t i = 0; i < models.size(); ++i) {
    const std::string& model = models[i];
    if (model.empty()) return false;
    // The first model's source placemark is read from the tile document
    // itself: nothing has been removed from or added to it yet.
    kmldom::KmlPtr root;
    kmldom::FolderPtr source = tileFolder;
    if (i > 0 && !ReadModelDocument(folder + ModelKmlNameOf(model), root, source)) return false;
    const kmldom::PlacemarkPtr placemark = BuildTilePlacemark(source, BaseNameOf(model));
    if (!placemark) return false;
    RemoveFirstModelPlacemark(tileFolder);
    tileFolder->add_feature(placemark);
  }

  // The import refuses documents with duplicate ids (the same model twice,
  // or a model named like an element of the first document).
  const kmlengine::KmlFilePtr file = kmlengine::KmlFile::CreateFromImport(tileRoot);
  if (!file) return false;
  std::string text;
  if (!file->SerializeToString(&text)) return false;
  if (!kmztile::platform::WriteFileAtomically(folder + tileName + ".kml", text)) return false;
  if (written) written->swap(text);
  return true;
}
