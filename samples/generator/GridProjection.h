#pragma once
#include <string>
// Longitude/latitude to CGCS2000 3-degree Gauss-Kruger grid coordinates of
// zone 39 (EPSG:4527, easting carrying the zone prefix 39), through PROJ.
#include <memory>

namespace samplegen {

/** A forward grid projection; one PROJ context and operation for all points. */
class GridProjection {
 public:
  /** Prepares the operation from the CRS's geographic base to @p crs. @throws std::runtime_error */
  explicit GridProjection(const char* crs);
  ~GridProjection();
  GridProjection(const GridProjection&) = delete;
  GridProjection& operator=(const GridProjection&) = delete;

  /** Easting and northing in metres of (lon, lat) in degrees. @throws std::runtime_error */
  void Forward(double lon, double lat, double& easting, double& northing) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/**
 * A model's location text: grid easting and northing ("%.3f") when @p useGrid,
 * else longitude and latitude ("%.8f"); two lines, each ending in CR LF.
 */
std::string LocationText(const GridProjection& grid, double lon, double lat, bool useGrid);

}  // namespace samplegen
