// Reading a model's document: its Folder, its placemark and where its Model stands.
#include "core/detail/ModelDocument.h"

#include "parser/ModelElements.h"
#include "platform/Locale.h"

namespace kmztile::core {

bool ParseModelDocument(const std::string& text, kmldom::KmlPtr& root, kmldom::FolderPtr& folder) {
  const platform::KmlNumbers numbers;
  root = kmldom::AsKml(kmldom::Parse(text, nullptr));
  if (!root || !root->has_feature()) return false;
  folder = kmldom::AsFolder(root->get_feature());
  return static_cast<bool>(folder);
}

kmldom::PlacemarkPtr ModelPlacemark(const kmldom::FolderPtr& folder) {
  if (!folder || folder->get_feature_array_size() < 2) return nullptr;
  return kmldom::AsPlacemark(folder->get_feature_array_at(1));
}

bool ReadModelPlacement(const std::string& text, threedtiles::Placement& placement) {
  // Numbers are read under the same locale as the tile document reads them.
  platform::InstallUserDefaultLocale();
  kmldom::KmlPtr root;
  kmldom::FolderPtr folder;
  if (!ParseModelDocument(text, root, folder)) return false;
  kml::ModelValues values;
  if (!kml::ReadModelValues(kml::ModelOf(ModelPlacemark(folder)), values) || !values.hasLocation) return false;
  placement.longitude = values.longitude;
  placement.latitude = values.latitude;
  placement.altitude = values.altitude;
  placement.heading = values.heading;
  placement.tilt = values.tilt;
  placement.roll = values.roll;
  placement.scaleX = values.x;
  placement.scaleY = values.y;
  placement.scaleZ = values.z;
  return true;
}

}  // namespace kmztile::core
