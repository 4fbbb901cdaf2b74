#pragma once
// A model's placemark in the tile document: named and identified by the
// model's base name, its Model normalised and its link moved into the
// model's own folder. Every placemark sits directly in the tile document's
// root Folder, so its text there is the same in every tile that holds it.
#include <string>

#include "kml/dom.h"

namespace kmztile::core {

/**
 * The id attribute of the tile placemark of the model named @p baseName, as
 * libkml is handed it: escaped, since libkml writes attributes unescaped,
 * so that the written id reads back as @p baseName. A tile document's
 * duplicate ids are found among ids in this form.
 */
std::string TilePlacemarkId(const std::string& baseName);

/**
 * The tile placemark of the model whose document folder is @p source (its
 * placemark is the folder's second feature). Absent Orientation and Scale
 * take KML's defaults. @return null when the placemark, its Model, Location
 * or Link is missing.
 */
kmldom::PlacemarkPtr BuildTilePlacemark(const kmldom::FolderPtr& source, const std::string& baseName);

/**
 * The lines @p placemark has in a tile document, indentation included.
 * @p placemark gets a parent and cannot be added anywhere else afterwards.
 * @return false when the serialiser's layout is not the expected one.
 */
bool PlacemarkTileText(const kmldom::PlacemarkPtr& placemark, std::string& text);

}  // namespace kmztile::core
