#include "parser/ModelElements.h"

namespace kmztile::kml {

bool ReadModelValues(const kmldom::ModelPtr& model, ModelValues& out) {
  if (!model) return false;
  ModelValues v;
  v.altitudeMode = model->get_altitudemode();
  if (model->has_location() && model->get_location()) {
    const kmldom::LocationPtr l = model->get_location();
    v.hasLocation = true;
    v.longitude = l->get_longitude();
    v.latitude = l->get_latitude();
    v.altitude = l->get_altitude();
  }
  if (model->has_orientation() && model->get_orientation()) {
    const kmldom::OrientationPtr o = model->get_orientation();
    v.hasOrientation = true;
    v.heading = o->get_heading();
    v.tilt = o->get_tilt();
    v.roll = o->get_roll();
  }
  if (model->has_scale() && model->get_scale()) {
    const kmldom::ScalePtr s = model->get_scale();
    v.hasScale = true;
    v.x = s->get_x();
    v.y = s->get_y();
    v.z = s->get_z();
  }
  if (model->has_link() && model->get_link()) {
    v.hasLink = true;
    v.href = model->get_link()->get_href();
  }
  out = std::move(v);
  return true;
}

kmldom::ModelPtr BuildModel(const ModelValues& v) {
  kmldom::KmlFactory* factory = kmldom::KmlFactory::GetFactory();
  kmldom::ModelPtr model = factory->CreateModel();
  model->set_altitudemode(v.altitudeMode);
  kmldom::LocationPtr location = factory->CreateLocation();
  location->set_longitude(v.longitude);
  location->set_latitude(v.latitude);
  location->set_altitude(v.altitude);
  kmldom::OrientationPtr orientation = factory->CreateOrientation();
  orientation->set_heading(v.heading);
  orientation->set_tilt(v.tilt);
  orientation->set_roll(v.roll);
  kmldom::ScalePtr scale = factory->CreateScale();
  scale->set_x(v.x);
  scale->set_y(v.y);
  scale->set_z(v.z);
  kmldom::LinkPtr link = factory->CreateLink();
  link->set_href(v.href);
  model->set_location(location);
  model->set_orientation(orientation);
  model->set_scale(scale);
  model->set_link(link);
  return model;
}

kmldom::ModelPtr ModelOf(const kmldom::FeaturePtr& feature) {
  const kmldom::PlacemarkPtr placemark = kmldom::AsPlacemark(feature);
  if (!placemark || !placemark->has_geometry()) return nullptr;
  return kmldom::AsModel(placemark->get_geometry());
}

}  // namespace kmztile::kml
