#pragma once
// A model's KML document as the tile core reads it: a Folder whose second
// feature is the model's placemark. The tile document takes the placemark's
// Model over; the 3D Tiles output places the model where that Model says.
#include <string>

#include "kml/dom.h"
#include "threedtiles/ThreeDTiles.h"

namespace kmztile::core {

/**
 * Parses a model document into its root and its Folder. @return false when
 * it is not KML or its root feature is not a Folder.
 */
bool ParseModelDocument(const std::string& text, kmldom::KmlPtr& root, kmldom::FolderPtr& folder);

/** The model's placemark: the folder's second feature when it is a Placemark, else null. */
kmldom::PlacemarkPtr ModelPlacemark(const kmldom::FolderPtr& folder);

/**
 * Where the model of document @p text stands: the Location, Orientation and
 * Scale of its placemark's Model (absent Orientation and Scale take KML's
 * defaults). The altitude is kept as it is written, whatever the altitude
 * mode: 3D Tiles has no ground to be relative to, so it is taken as height
 * above the ellipsoid. @return false when the document has no placemark
 * with a Model that has a Location.
 */
bool ReadModelPlacement(const std::string& text, threedtiles::Placement& placement);

}  // namespace kmztile::core
