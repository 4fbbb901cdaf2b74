// Packaging a source folder of loose COLLADA models: one KMZ per model in
// folder\middle, plus the coordinates file and the scope file.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "BaseParser.h"
#include "placement/detail/FolderListing.h"
#include "platform/FileSystem.h"
#include "platform/FolderGuards.h"
#include "platform/Locale.h"
#include "platform/Paths.h"
#include "platform/Problems.h"

namespace platform = kmztile::platform;

namespace {

constexpr double kScopeMargin = 0.0001;
constexpr size_t kNumberBuffer = 200;

// Lines 1 and 2 of the model location text as numbers (atof: 0 for a
// missing line, an empty one or one without a number). A link or a FIFO in
// its place is not read: the model is recorded as left out by the caller.
bool ReadLocationText(const std::string& path, double& x, double& y) {
  std::string text;
  const bool read = platform::ReadPlainFile(path, text);
  std::istringstream in(text);
  std::string lines[4];
  for (std::string& line : lines) {
    if (!std::getline(in, line)) break;
  }
  x = std::atof(lines[0].c_str());
  y = std::atof(lines[1].c_str());
  if (read) return true;
  if (platform::PathExists(path)) return false;
  platform::ReportProblem(platform::NativePath(path), "the location text is missing: the model stands at 0, 0");
  return true;
}

// "%f " of @p value into the fixed-size number buffer. @return false when
// the text would not fit (only a corrupt location gives such a value).
bool FormatNumber(double value, std::string& out) {
  char buffer[kNumberBuffer];
  const int n = std::snprintf(buffer, sizeof buffer, "%f ", value);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) return false;
  out.assign(buffer, static_cast<size_t>(n));
  return true;
}

void LeftOut(const std::string& file, const std::string& model, const std::string& why) {
  platform::ReportProblem(platform::NativePath(file), "model " + model + " was left out: " + why);
}

// Text files keep the desktop line end, CR LF.
void AppendLine(std::string& text, const std::string& line) {
  text += line;
  text += "\r\n";
}

}  // namespace

bool CBaseParser::GenNeededFile(std::string folder, wchar_t* coordSysText, wchar_t* auxText,
                                std::string& resultFolder) {
  platform::InstallUserDefaultLocale();
  std::vector<std::string> models;
  kmztile::placement::detail::ListFolderFiles(folder, "dae", models);
  const std::string middle = folder + "\\middle";
  // The package folder is the library's own: one that is a symbolic link may
  // lead anywhere, so nothing is written into or deleted from it.
  if (platform::IsSymbolicLink(middle)) {
    platform::ReportProblem(platform::NativePath(middle),
                            "the package folder is a symbolic link; nothing is written into or deleted from it");
    return false;
  }
  platform::MakeDirectory(middle);
  m_coordSysText = coordSysText;
  m_auxText = auxText;
  if (models.empty()) return false;

  // Emptied now, filled once every model is packaged: the count line must
  // be the number of models actually listed below it. Replaced, never
  // truncated in place: the file may be a hard link to one of the user's.
  const std::string coordsPath = middle + "\\coords.txt";
  platform::WriteFileAtomically(coordsPath, std::string());

  double minLon = 180, maxLon = -180, minLat = 90, maxLat = -90;
  std::string groups;
  size_t written = 0;
  std::string templatePath = folder + "\\doc.kml";
  for (std::string& modelFile : models) {
    std::string name = modelFile.substr(0, modelFile.size() - 4);
    double x = 0, y = 0;
    const std::string locationPath = folder + "\\" + name + ".txt";
    if (!ReadLocationText(locationPath, x, y)) {
      LeftOut(locationPath, name, "the location text is not a plain file that can be read");
      platform::RemoveFile(middle + "\\" + name + ".kmz");
      continue;
    }
    double lon = x, lat = y;
    if (x > 180 && y > 90) ConvertGSToLB(x, y, lon, lat);
    // A failed conversion (or a corrupt location text) gives no position:
    // such a model is left out entirely rather than placed at garbage.
    std::string lonText, latText;
    if (!std::isfinite(lon) || !std::isfinite(lat) || !FormatNumber(lon, lonText) || !FormatNumber(lat, latText)) {
      LeftOut(locationPath, name, "the location gives no usable longitude/latitude");
      continue;
    }
    // A model whose package was not written completely is left out too, and
    // its partial (or previous run's) archive removed: the coordinates file
    // lists exactly the packages that place their model where it says.
    if (!changeKmlFile(folder, templatePath, name, modelFile, lon, lat)) {
      LeftOut(folder + "\\" + modelFile, name, "its package could not be written (model file or template unusable)");
      platform::RemoveFile(middle + "\\" + name + ".kmz");
      continue;
    }
    if (lon < minLon) minLon = lon;
    if (lon > maxLon) maxLon = lon;
    if (lat < minLat) minLat = lat;
    if (lat > maxLat) maxLat = lat;
    AppendLine(groups, name + ".kmz");
    AppendLine(groups, lonText);
    AppendLine(groups, latText);
    ++written;
  }

  // A text file not written whole leaves the caller nothing sound to import:
  // that is reported instead of success. Both files replace their
  // predecessors whole, so a full disk never leaves a partial count or
  // extent behind for the import and tile steps to trust.
  std::string coords;
  AppendLine(coords, std::to_string(written));
  coords += groups;
  if (!platform::WriteFileAtomically(coordsPath, coords)) return false;

  std::string scope, number;
  for (const double value : {minLon - kScopeMargin, minLat - kScopeMargin, maxLon + kScopeMargin,
                             maxLat + kScopeMargin}) {
    FormatNumber(value, number);
    AppendLine(scope, number);
  }
  if (!platform::WriteFileAtomically(middle + "\\scope.txt", scope)) return false;

  resultFolder = middle;
  return true;
}
