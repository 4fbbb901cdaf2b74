#pragma once
// The model placemark walk shared by the tile readers: every placemark
// directly in the KML's root Folder whose geometry is a Model with a
// Location and a Link adds (href -> lon, lat, id) to a map, first href wins.
#include <map>
#include <string>

#include "BaseParser.h"

namespace kmztile::reading {

/** Adds the models placed in @p kmlText to @p locations (insert semantics). */
void WalkModelPlacemarks(const std::string& kmlText, std::map<std::string, LonLatID>& locations);

/**
 * The numeric value of a placemark id, as atof reads it, truncated toward
 * zero and saturated to the 32-bit signed range (NaN gives 0).
 */
long IdFromText(const std::string& id);

}  // namespace kmztile::reading
