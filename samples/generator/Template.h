#pragma once
// The template doc.kml of the sample city.
#include <string>

namespace samplegen {

/**
 * The template KML: a kml root whose Folder holds, in this order, an "About"
 * sub-folder (with a view of the city centre) and the pattern placemark
 * id="model" named "Model" with a relativeToGround Model, Location,
 * Orientation, Scale and Link. Packaging takes the first placemark as the
 * pattern and appends each model's placemark after the sub-folder, so the
 * model placemark stays the folder's second feature.
 */
std::string TemplateKml(double centreLon, double centreLat);

}  // namespace samplegen
