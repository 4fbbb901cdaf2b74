#include "placement/detail/PlacemarkRewrite.h"

#include "kml/engine.h"
#include "platform/Locale.h"

namespace kmztile::placement::detail {

bool ParseKmlWithFeature(const std::string& text, ParsedKml& out) {
  out = ParsedKml();
  const platform::KmlNumbers numbers;
  kmldom::KmlPtr kml = kmldom::AsKml(kmldom::Parse(text, nullptr));
  if (!kml || !kml->has_feature() || !kml->get_feature()) return false;
  out.feature = kml->get_feature();
  out.kml = std::move(kml);
  return true;
}

kmldom::PlacemarkPtr FirstPlacemark(const kmldom::FolderPtr& folder) {
  const size_t count = folder->get_feature_array_size();
  for (size_t i = 0; i < count; ++i) {
    if (kmldom::PlacemarkPtr placemark = kmldom::AsPlacemark(folder->get_feature_array_at(i))) return placemark;
  }
  return nullptr;
}

kmldom::PlacemarkPtr BuildPlacemark(const kmldom::PlacemarkPtr& pattern, const kml::ModelValues& values) {
  kmldom::PlacemarkPtr placemark = kmldom::KmlFactory::GetFactory()->CreatePlacemark();
  placemark->set_id(pattern->get_id());
  placemark->set_name(pattern->get_name());
  placemark->set_description(pattern->get_description());
  placemark->set_geometry(kml::BuildModel(values));
  return placemark;
}

void ReplaceNamedFeature(const kmldom::FolderPtr& folder, const std::string& name,
                         const kmldom::PlacemarkPtr& placemark) {
  const size_t count = folder->get_feature_array_size();
  for (size_t i = 0; i < count; ++i) {
    const kmldom::FeaturePtr feature = folder->get_feature_array_at(i);
    if (feature->has_name() && feature->get_name() == name) {
      folder->DeleteFeatureAt(i);
      break;
    }
  }
  folder->add_feature(placemark);
}

bool SerializeKml(const kmldom::KmlPtr& kml, std::string& out) {
  const kmlengine::KmlFilePtr file(kmlengine::KmlFile::CreateFromImport(kml));
  if (!file) return false;
  std::string text;
  const platform::KmlNumbers numbers;
  if (!file->SerializeToString(&text)) return false;
  out.swap(text);
  return true;
}

}  // namespace kmztile::placement::detail
