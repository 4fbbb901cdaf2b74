#include "placement/detail/LocationText.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Problems.h"

#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <type_traits>

namespace kmztile::placement::detail {
namespace {

struct LocaleFree {
  void operator()(locale_t l) const { freelocale(l); }
};
using LocalePtr = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFree>;

// The user's default locale, as the build installs it before reading; the
// classic locale when the environment names one that is not installed.
// Loaded once: loading a locale maps its data files, and freeing it unmaps
// them, which cost more than reading the number itself when done per model.
locale_t UserLocale() {
  static const LocalePtr user = [] {
    LocalePtr loaded(newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr)));
    if (!loaded) loaded.reset(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr)));
    return loaded;
  }();
  return user.get();
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

LocationNumber ReadNumber(const std::string& line, locale_t locale) {
  LocationNumber n;
  const char* start = line.c_str();
  while (*start && IsBlank(*start)) ++start;
  char* end = nullptr;
  const double value = locale ? strtod_l(start, &end, locale) : strtod(start, &end);
  if (end == start) return n;
  n.present = true;
  n.value = value;
  const char* restStart = end;
  while (*restStart && IsBlank(*restStart)) ++restStart;
  std::string rest(restStart);
  while (!rest.empty() && IsBlank(rest.back())) rest.pop_back();
  n.ignored = rest;
  return n;
}

}  // namespace

LocationLines ReadLocationLines(const std::string& text) {
  const locale_t locale = UserLocale();
  LocationLines lines;
  const auto firstEnd = text.find('\n');
  lines.x = ReadNumber(text.substr(0, firstEnd), locale);
  if (firstEnd == std::string::npos) return lines;
  const auto secondEnd = text.find('\n', firstEnd + 1);
  lines.y = ReadNumber(text.substr(firstEnd + 1, secondEnd == std::string::npos ? std::string::npos
                                                                                : secondEnd - firstEnd - 1),
                       locale);
  return lines;
}

bool ReadLocationFile(const std::string& path, double& x, double& y) {
  std::string text;
  const bool read = platform::ReadPlainFile(path, text);
  std::istringstream in(text);
  std::string lines[4];
  for (std::string& line : lines) {
    if (!std::getline(in, line)) break;
  }
  x = std::atof(lines[0].c_str());
  y = std::atof(lines[1].c_str());
  if (read) {
    // A line that does not begin with a number reads as 0: the model is
    // still placed, and the misplacement is said.
    const LocationLines numbers = ReadLocationLines(text);
    if (!numbers.x.present || !numbers.y.present)
      platform::ReportProblem(platform::NativePath(path),
                              std::string("the location text has no number on line ") +
                                  (numbers.x.present ? "2" : "1") + ", which reads as 0: the model is misplaced");
    return true;
  }
  if (platform::PathExists(path)) return false;
  platform::ReportProblem(platform::NativePath(path), "the location text is missing: the model stands at 0, 0");
  return true;
}

bool IsGridLocation(double x, double y) { return x > 180 && y > 90; }

std::string WhyNotLonLat(double longitude, double latitude) {
  if (longitude >= -180 && longitude <= 180 && latitude >= -90 && latitude <= 90) return {};
  char where[96];
  std::snprintf(where, sizeof where, "%.3f, %.3f", longitude, latitude);
  return "is located at " + std::string(where) +
         ", which is no longitude/latitude: give the grid's coordinate system with --crs (e.g. EPSG:4527)";
}

bool FormatCoordinate(double value, std::string& out) {
  char buffer[200];
  const int n = std::snprintf(buffer, sizeof buffer, "%f ", value);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) return false;
  out.assign(buffer, static_cast<size_t>(n));
  return true;
}

void ReportLeftOut(const std::string& file, const std::string& model, const std::string& why) {
  platform::ReportProblem(platform::NativePath(file), "model " + model + " was left out: " + why);
}

Placement PlaceModel(const std::string& folder, const std::string& name,
                     const std::function<void(double, double, double&, double&)>& convert, double& lon, double& lat,
                     std::string& lonText, std::string& latText) {
  double x = 0, y = 0;
  const std::string locationPath = folder + "\\" + name + ".txt";
  if (!ReadLocationFile(locationPath, x, y)) {
    ReportLeftOut(locationPath, name, "the location text is not a plain file that can be read");
    return Placement::Unreadable;
  }
  lon = x;
  lat = y;
  if (IsGridLocation(x, y)) convert(x, y, lon, lat);
  // A failed conversion (or a corrupt location text) gives no position:
  // such a model is left out entirely rather than placed at garbage.
  if (!std::isfinite(lon) || !std::isfinite(lat) || !FormatCoordinate(lon, lonText) || !FormatCoordinate(lat, latText)) {
    ReportLeftOut(locationPath, name, "the location gives no usable longitude/latitude");
    return Placement::Unusable;
  }
  return Placement::Placed;
}

double CoordinateAsListed(double value) {
  std::string text;
  return FormatCoordinate(value, text) ? std::atof(text.c_str()) : value;
}

}  // namespace kmztile::placement::detail
