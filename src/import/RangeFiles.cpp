// The two extent queries: the scope file (padded extent written by the
// packaging step) and the coordinates file (every model with its position).
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "BaseParser.h"
#include "import/detail/TextLines.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"

using kmztile::import::detail::ReadTextLine;

namespace {

// A missing line reads as "", which atof turns into 0.0.
double ReadNumberLine(std::istream& in) {
  std::string line;
  ReadTextLine(in, line);
  return std::atof(line.c_str());
}

}  // namespace

bool CBaseParser::GetScopeRange(double& west, double& east, double& south, double& north) {
  kmztile::platform::InstallUserDefaultLocale();
  std::ifstream in;
  if (!kmztile::platform::OpenInput(in, m_scopeFile, true)) return false;
  // Lines: west, south, east, north; delivered as west, east, south, north.
  const double w = ReadNumberLine(in);
  const double s = ReadNumberLine(in);
  const double e = ReadNumberLine(in);
  const double n = ReadNumberLine(in);
  west = w;
  east = e;
  south = s;
  north = n;
  return true;
}

bool CBaseParser::GetAllModelRange(std::string /*unused*/, double* minLat, double* minLon, double* maxLat,
                                   double* maxLon) {
  kmztile::platform::InstallUserDefaultLocale();
  std::ifstream in;
  if (!kmztile::platform::OpenInput(in, m_coordsFile, true)) return false;
  std::string line;
  ReadTextLine(in, line);
  const long count = std::atoi(line.c_str());

  // The first group is always read, whatever the count says.
  ReadTextLine(in, line);  // package name
  double lon = ReadNumberLine(in);
  double lat = ReadNumberLine(in);
  double loLon = lon, hiLon = lon, loLat = lat, hiLat = lat;
  for (long k = 1; k < count; ++k) {
    if (!ReadTextLine(in, line)) {
      // Every group past the end of the file reads as a model at 0, 0; one
      // of them gives the same extent as all of them, however large the count.
      loLon = std::min(loLon, 0.0);
      hiLon = std::max(hiLon, 0.0);
      loLat = std::min(loLat, 0.0);
      hiLat = std::max(hiLat, 0.0);
      break;
    }
    lon = ReadNumberLine(in);
    lat = ReadNumberLine(in);
    if (lon < loLon) loLon = lon;
    if (lon > hiLon) hiLon = lon;
    if (lat < loLat) loLat = lat;
    if (lat > hiLat) hiLat = lat;
  }
  *minLat = loLat;
  *minLon = loLon;
  *maxLat = hiLat;
  *maxLon = hiLon;
  return true;
}
