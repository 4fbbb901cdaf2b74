#include "reading/PlacemarkWalk.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "kml/dom.h"
#include "platform/Locale.h"

namespace kmztile::reading {

long IdFromText(const std::string& id) {
  const double value = std::atof(id.c_str());
  if (std::isnan(value)) return 0;
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  if (value >= kMax) return static_cast<long>(kMax);
  if (value <= kMin) return static_cast<long>(kMin);
  return static_cast<long>(std::trunc(value));
}

void WalkModelPlacemarks(const std::string& kmlText, std::map<std::string, LonLatID>& locations) {
  const platform::KmlNumbers numbers;
  const kmldom::ElementPtr root = kmldom::Parse(kmlText, nullptr);
  const kmldom::KmlPtr kml = kmldom::AsKml(root);
  if (!kml || !kml->has_feature()) return;
  const kmldom::FeaturePtr feature = kml->get_feature();
  if (!feature || feature->Type() != kmldom::Type_Folder) return;
  const kmldom::FolderPtr folder = kmldom::AsFolder(feature);
  for (size_t i = 0; i < folder->get_feature_array_size(); ++i) {
    const kmldom::FeaturePtr child = folder->get_feature_array_at(i);
    if (!child || child->Type() != kmldom::Type_Placemark) continue;
    const kmldom::PlacemarkPtr placemark = kmldom::AsPlacemark(child);
    const kmldom::ModelPtr model = kmldom::AsModel(placemark->get_geometry());
    // libkml returns NULL for absent elements: a placemark without a model,
    // a location or a link places nothing.
    if (!model || !model->has_location() || !model->has_link()) continue;
    const kmldom::LocationPtr location = model->get_location();
    const kmldom::LinkPtr link = model->get_link();
    if (!location || !link) continue;
    LonLatID record;
    record.Lon = location->get_longitude();
    record.Lat = location->get_latitude();
    record.ID = IdFromText(placemark->get_id());
    locations.insert({link->get_href(), record});
  }
}

}  // namespace kmztile::reading
