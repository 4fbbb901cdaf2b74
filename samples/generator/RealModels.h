#pragma once
// Copies a few real, freely licensed COLLADA models into the city, in the
// source-folder layout: N.dae with its texture references pointed at N/,
// N/ with the textures, N.txt with the location.
#include <string>

#include "City.h"
#include "GridProjection.h"

namespace samplegen {

/**
 * Adds the real models found below @p realData (the collada folder of the
 * real sample data) to the folder @p out, placed near the centre.
 * @throws std::runtime_error naming a file that cannot be read or written
 */
void AddRealModels(const std::string& realData, const std::string& out, double centreLon, double centreLat,
                   const GridProjection& grid, CityReport& report);

}  // namespace samplegen
