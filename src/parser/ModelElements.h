#pragma once
// Reading and rebuilding a KML Model. The tile combiner, the template
// rewriter and the location update all replace a model placemark by a new,
// normalised one: every value set explicitly, absent elements taking KML's
// defaults (location and orientation 0, scale 1, altitude mode
// clampToGround). libkml returns NULL for an absent element; nothing here
// dereferences one.
#include <string>

#include "kml/dom.h"

namespace kmztile::kml {

/** The values of a Model, with KML defaults for whatever is absent. */
struct ModelValues {
  int altitudeMode = kmldom::ALTITUDEMODE_CLAMPTOGROUND;
  double longitude = 0, latitude = 0, altitude = 0;
  double heading = 0, tilt = 0, roll = 0;
  double x = 1, y = 1, z = 1;
  std::string href;
  bool hasLocation = false;
  bool hasOrientation = false;
  bool hasScale = false;
  bool hasLink = false;
};

/** Reads @p model into @p out. @return false when @p model is NULL. */
bool ReadModelValues(const kmldom::ModelPtr& model, ModelValues& out);

/**
 * A new Model with altitude mode, Location, Orientation, Scale and a Link
 * holding only the href, every value set as present.
 */
kmldom::ModelPtr BuildModel(const ModelValues& values);

/** The Model geometry of a feature that is a Placemark, or NULL. */
kmldom::ModelPtr ModelOf(const kmldom::FeaturePtr& feature);

}  // namespace kmztile::kml
