// Setting converted models on the WGS84 ellipsoid the way a KML client sets
// a <Model>: origin at the Location, Orientation and Scale applied in the
// local east-north-up frame. All arithmetic is double.
#include <algorithm>
#include <cmath>

#include "threedtiles/ThreeDTiles.h"

namespace kmztile::threedtiles {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kA = 6378137.0;                // WGS84 semi-major axis
constexpr double kF = 1.0 / 298.257223563;      // WGS84 flattening
constexpr double kE2 = kF * (2.0 - kF);         // first eccentricity squared
constexpr double kB = kA * (1.0 - kF);          // semi-minor axis

double Radians(double degrees) { return degrees * kPi / 180.0; }

using Matrix = std::array<std::array<double, 3>, 3>;  // row-major

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix m{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
  return m;
}

// A right-handed turn by @p angle radians about axis 0 (x), 1 (y) or 2 (z).
Matrix Turn(int axis, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  const int i = (axis + 1) % 3, j = (axis + 2) % 3;
  Matrix m{};
  m[axis][axis] = 1.0;
  m[i][i] = c;
  m[i][j] = -s;
  m[j][i] = s;
  m[j][j] = c;
  return m;
}

// Model frame (east, north, up of the model) to ECEF axes at the location:
// the columns of the ENU frame times the KML orientation. Each angle turns
// clockwise seen from the positive end of its axis; roll first, then tilt,
// then heading.
Matrix ModelToEcef(const Placement& p) {
  const double lon = Radians(p.longitude), lat = Radians(p.latitude);
  const Matrix enu{{{-std::sin(lon), -std::sin(lat) * std::cos(lon), std::cos(lat) * std::cos(lon)},
                    {std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat) * std::sin(lon)},
                    {0.0, std::cos(lat), std::sin(lat)}}};
  const Matrix orientation =
      Multiply(Turn(2, -Radians(p.heading)), Multiply(Turn(0, -Radians(p.tilt)), Turn(1, -Radians(p.roll))));
  return Multiply(enu, orientation);
}

}  // namespace

Ecef GeodeticToEcef(double longitude, double latitude, double height) {
  const double lon = Radians(longitude), lat = Radians(latitude);
  const double n = kA / std::sqrt(1.0 - kE2 * std::sin(lat) * std::sin(lat));
  return {(n + height) * std::cos(lat) * std::cos(lon), (n + height) * std::cos(lat) * std::sin(lon),
          (n * (1.0 - kE2) + height) * std::sin(lat)};
}

std::array<double, 3> EcefToGeodetic(const Ecef& e) {
  // Bowring's formula refined by two iterations: well below a millimetre near the surface.
  const double p = std::hypot(e[0], e[1]);
  const double lon = std::atan2(e[1], e[0]);
  double lat = std::atan2(e[2], p * (1.0 - kE2));
  double height = 0.0;
  for (int i = 0; i < 5; ++i) {
    const double n = kA / std::sqrt(1.0 - kE2 * std::sin(lat) * std::sin(lat));
    height = std::abs(std::cos(lat)) > 1e-9 ? p / std::cos(lat) - n : std::abs(e[2]) - kB;
    lat = std::atan2(e[2], p * (1.0 - kE2 * n / (n + height)));
  }
  return {lon * 180.0 / kPi, lat * 180.0 / kPi, height};
}

PlacedModel PlaceModel(std::shared_ptr<const ConvertedModel> model, const Placement& placement) {
  PlacedModel placed;
  const Matrix r = ModelToEcef(placement);
  const Ecef origin = GeodeticToEcef(placement.longitude, placement.latitude, placement.altitude);
  const double scale[3] = {placement.scaleX, placement.scaleY, placement.scaleZ};
  for (const Mesh& mesh : model->meshes) {
    std::vector<double> positions;
    std::vector<float> normals;
    positions.reserve(mesh.positions.size());
    normals.reserve(mesh.normals.size());
    for (std::size_t i = 0; i + 2 < mesh.positions.size(); i += 3) {
      // glTF axes (x east, y up, z south) to the model's east, north, up.
      const double local[3] = {mesh.positions[i], -static_cast<double>(mesh.positions[i + 2]), mesh.positions[i + 1]};
      const double normal[3] = {mesh.normals[i], -static_cast<double>(mesh.normals[i + 2]), mesh.normals[i + 1]};
      double n[3];
      double length = 0.0;
      for (int row = 0; row < 3; ++row) {
        double p = origin[row];
        n[row] = 0.0;
        for (int k = 0; k < 3; ++k) {
          p += r[row][k] * local[k] * scale[k];
          // Normals take the inverse scale; a zero scale flattens, the normal stays defined.
          n[row] += r[row][k] * normal[k] / (scale[k] != 0.0 ? scale[k] : 1.0);
        }
        positions.push_back(p);
        length += n[row] * n[row];
      }
      length = std::sqrt(length);
      for (double c : n) normals.push_back(static_cast<float>(length > 0.0 ? c / length : 0.0));
      if (!(length > 0.0)) normals.back() = 1.0f;
    }
    placed.positions.push_back(std::move(positions));
    placed.normals.push_back(std::move(normals));
  }
  placed.model = std::move(model);
  return placed;
}

Region RegionOf(const PlacedModel& model) {
  Region region{180.0, 90.0, -180.0, -90.0, 1e300, -1e300};
  for (const auto& positions : model.positions)
    for (std::size_t i = 0; i + 2 < positions.size(); i += 3) {
      const auto g = EcefToGeodetic({positions[i], positions[i + 1], positions[i + 2]});
      region.west = std::min(region.west, g[0]);
      region.east = std::max(region.east, g[0]);
      region.south = std::min(region.south, g[1]);
      region.north = std::max(region.north, g[1]);
      region.minHeight = std::min(region.minHeight, g[2]);
      region.maxHeight = std::max(region.maxHeight, g[2]);
    }
  return region;
}

Region Union(const Region& a, const Region& b) {
  return {std::min(a.west, b.west),           std::min(a.south, b.south),
          std::max(a.east, b.east),           std::max(a.north, b.north),
          std::min(a.minHeight, b.minHeight), std::max(a.maxHeight, b.maxHeight)};
}

Ecef TileCentre(const Region& region) {
  return GeodeticToEcef((region.west + region.east) / 2.0, (region.south + region.north) / 2.0,
                        (region.minHeight + region.maxHeight) / 2.0);
}

}  // namespace kmztile::threedtiles
