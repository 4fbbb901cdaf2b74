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
#include "placement/detail/LocationText.h"
#include "placement/detail/TemplateRewrite.h"
#include "platform/FileSystem.h"
#include "platform/FolderGuards.h"
#include "platform/KmlNames.h"
#include "platform/Locale.h"
#include "platform/Paths.h"
#include "platform/Problems.h"

namespace platform = kmztile::platform;
namespace placement = kmztile::placement::detail;

namespace {

constexpr double kScopeMargin = 0.0001;

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
  placement::ListFolderFiles(folder, "dae", models);
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
  // No package can be written without the folder: said once, with its cause,
  // before the template is rewritten for models that would all be lost.
  const platform::PathKind middleKind = platform::KindOf(middle);
  if (middleKind != platform::PathKind::Directory) {
    platform::ReportProblem(platform::NativePath(middle),
                            middleKind == platform::PathKind::Missing
                                ? "the package folder cannot be created; nothing is packaged"
                                : "is a file, but the packages are written into a folder of this name; nothing is "
                                  "packaged");
    return false;
  }

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
    // A name its package's KML cannot hold would give a package no reader takes.
    const std::string unwritable = platform::WhyKmlCannotHoldName(name);
    if (!unwritable.empty()) {
      placement::ReportLeftOut(folder + "\\" + modelFile, name, unwritable);
      platform::RemoveFile(middle + "\\" + name + ".kmz");
      continue;
    }
    double lon = 0, lat = 0;
    std::string lonText, latText;
    const auto placed = placement::PlaceModel(
        folder, name, [this](double x, double y, double& lo, double& la) { ConvertGSToLB(x, y, lo, la); }, lon, lat,
        lonText, latText);
    if (placed == placement::Placement::Unreadable) platform::RemoveFile(middle + "\\" + name + ".kmz");
    if (placed != placement::Placement::Placed) continue;
    // A model whose package was not written completely is left out too, and
    // its partial (or previous run's) archive removed: the coordinates file
    // lists exactly the packages that place their model where it says.
    if (!changeKmlFile(folder, templatePath, name, modelFile, lon, lat)) {
      placement::ReportLeftOut(folder + "\\" + modelFile, name, placement::kPackageNotWritten);
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
  for (const double value :
       {minLon - kScopeMargin, minLat - kScopeMargin, maxLon + kScopeMargin, maxLat + kScopeMargin}) {
    placement::FormatCoordinate(value, number);
    AppendLine(scope, number);
  }
  if (!platform::WriteFileAtomically(middle + "\\scope.txt", scope)) return false;

  resultFolder = middle;
  return true;
}
