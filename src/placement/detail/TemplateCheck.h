#pragma once
// Whether a template KML can be rewritten for every model: it must parse
// into a kml root whose feature is a Folder holding a Placemark with a
// Model that has a Location (Orientation and Scale take KML defaults), and
// what it is written as must read again and write the same, as each model's
// document is the one before it written again. Packaging is played through
// on it for a few models: a template from which some model's document
// cannot be made is refused.
#include <string>

namespace kmztile::placement::detail {

/**
 * Checks the template text @p kmlText. With @p forTiles false only what
 * packaging needs is checked: the pattern placemark's name matters to the
 * tiles alone.
 * @return an empty string when it is usable, otherwise the reason it is not.
 */
std::string CheckTemplateKml(const std::string& kmlText, bool forTiles = true);

/**
 * Checks the template file at @p path (a library path): it must be a plain
 * file, not a symbolic link, whose text CheckTemplateKml accepts (with
 * @p forTiles as given).
 * @return an empty string when it is usable, otherwise the reason it is not,
 * a sentence on the template ("the template KML is ...").
 */
std::string CheckTemplateFile(const std::string& path, bool forTiles = true);

}  // namespace kmztile::placement::detail
