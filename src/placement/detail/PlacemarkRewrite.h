#pragma once
// Replacing the model placemark of a KML Folder by a new, normalised one:
// shared by the template rewrite and the location update.
#include <string>

#include "kml/dom.h"
#include "parser/ModelElements.h"

namespace kmztile::placement::detail {

/** The parsed kml root and its feature; both null when the text is not KML with a feature. */
struct ParsedKml {
  kmldom::KmlPtr kml;
  kmldom::FeaturePtr feature;
};

/** Parses @p text. @return false when it has no kml root element or that root has no feature. */
bool ParseKmlWithFeature(const std::string& text, ParsedKml& out);

/** The first direct child of @p folder that is a Placemark, or null. */
kmldom::PlacemarkPtr FirstPlacemark(const kmldom::FolderPtr& folder);

/**
 * A new Placemark with @p pattern's id, name and description (each set, empty
 * when absent) and a Model built from @p values.
 */
kmldom::PlacemarkPtr BuildPlacemark(const kmldom::PlacemarkPtr& pattern, const kml::ModelValues& values);

/**
 * Replaces: removes the first child of @p folder that has a name equal to
 * @p name (a child without a name never matches), then appends @p placemark.
 */
void ReplaceNamedFeature(const kmldom::FolderPtr& folder, const std::string& name,
                         const kmldom::PlacemarkPtr& placemark);

/**
 * Serialises the tree under @p kml (XML declaration, indented).
 * @return false when libkml refuses it (duplicate ids).
 */
bool SerializeKml(const kmldom::KmlPtr& kml, std::string& out);

}  // namespace kmztile::placement::detail
