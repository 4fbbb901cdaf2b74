#pragma once
// Whether a template KML can be rewritten for every model: it must parse
// into a kml root whose feature is a Folder holding a Placemark with a
// Model that has a Location (Orientation and Scale take KML defaults), and
// what it is written as must read again and write the same, as each model's
// document is the one before it written again.
#include <string>

namespace kmztile::placement::detail {

/**
 * Checks the template text @p kmlText.
 * @return an empty string when it is usable, otherwise the reason it is not.
 */
std::string CheckTemplateKml(const std::string& kmlText);

}  // namespace kmztile::placement::detail
