#pragma once
// The sample city: plans a few hundred buildings on a street grid around a
// real city centre and writes the source folder that packaging reads:
// N.dae, N.txt (x and y, CR LF), N/ textures, and the template doc.kml.
#include <cstdint>
#include <string>

namespace samplegen {

/** What to generate. */
struct CityOptions {
  int models = 300;              ///< number of generated buildings
  std::uint64_t seed = 20261207; ///< fixes every random choice
  std::string out;               ///< folder to write (created when missing)
  int maxTexture = 1024;         ///< largest texture side in pixels (64 or more)
  int minTexture = 64;           ///< smallest facade texture side in pixels (64 to maxTexture)
  double centreLon = 116.39;     ///< city centre, degrees
  double centreLat = 39.91;
  double spacing = 150;          ///< metres between plot centres
  std::string realData;          ///< folder of real COLLADA models to add, or empty
  int grain = 0;                 ///< per-pixel noise of every texture, +-grain levels (0: flat drawings)
};

/** What was written, for the closing message. */
struct CityReport {
  int models = 0;
  int gridLocated = 0;           ///< models whose location text holds grid coordinates
  int textures = 0;
  std::uint64_t bytes = 0;       ///< total size of everything written
  double west = 0, south = 0, east = 0, north = 0;
};

/**
 * Writes the city into options.out. Existing files of the same names are
 * replaced; nothing else in the folder is touched.
 * @throws std::runtime_error naming the file or the PROJ failure.
 */
CityReport GenerateCity(const CityOptions& options);

/** The grid definition the generated grid coordinates use ("EPSG:4527"). */
const char* GridCrs();

}  // namespace samplegen
