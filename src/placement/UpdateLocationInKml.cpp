// Moving the model of a KMZ package: the KML's model placemark is rebuilt at
// the new position and the archive rewritten. The new archive is written
// beside the original and renamed over it only once it is complete and
// checked, so the original survives every failure byte for byte.
#include <string>
#include <vector>

#include "BaseParser.h"
#include "parser/ModelElements.h"
#include "placement/detail/PlacemarkRewrite.h"
#include "platform/FileSystem.h"
#include "platform/FolderGuards.h"
#include "platform/KmlFiles.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "reading/KmzSource.h"
#include "reading/detail/ZipDirectory.h"

namespace placement = kmztile::placement::detail;
namespace platform = kmztile::platform;

namespace {

bool EndsWith(const std::string& s, const char* tail, size_t n) {
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The first placemark of the root Folder, rebuilt at the new position and
// moved to the end of the Folder. A root feature of another kind (a Document,
// a lone Placemark) is left as it is and the archive is rewritten unchanged,
// as callers of this operation have always seen. @return false when the
// Folder has no placemark, or its first placemark has no Model or no Link.
bool MoveModelPlacemark(const placement::ParsedKml& parsed, double longitude, double latitude) {
  if (parsed.feature->Type() != kmldom::Type_Folder) return true;
  const kmldom::FolderPtr folder = kmldom::AsFolder(parsed.feature);
  if (!folder) return false;
  const kmldom::PlacemarkPtr old = placement::FirstPlacemark(folder);
  if (!old) return false;
  kmztile::kml::ModelValues values;
  if (!kmztile::kml::ReadModelValues(kmztile::kml::ModelOf(old), values) || !values.hasLink) return false;
  values.longitude = longitude;
  values.latitude = latitude;
  placement::ReplaceNamedFeature(folder, old->get_name(), placement::BuildPlacemark(old, values));
  return true;
}

// The KML entry is named after the package file: house.kmz holds house.kml.
std::string KmlEntryName(const std::string& path) {
  std::string name = platform::FileNameOf(path);
  name.erase(name.size() < 3 ? 0 : name.size() - 3);
  return name + "kml";
}

// Writes the entries to @p target and checks the closed archive: it lists
// them all, and every entry inflates to its declared size and CRC-32.
bool WriteArchive(const std::string& target, const std::vector<std::string>& names,
                  const std::vector<std::string>& contents, const std::string& kmlName, const std::string& kml) {
  size_t written = 0;
  {
    kmlengine::KmzFilePtr kmz = platform::KmzCreate(target);
    if (!kmz) return false;
    for (size_t i = 0; i < names.size(); ++i) {
      if (EndsWith(names[i], "kml", 3)) continue;
      if (!kmz->AddFile(contents[i], names[i])) return false;
      ++written;
    }
    if (!kmz->AddFile(kml, kmlName)) return false;
    ++written;
  }  // releasing the archive writes its central directory
  std::string bytes;
  kmztile::reading::detail::ZipDirectory directory;
  if (!platform::ReadWholeFile(target, bytes) || !kmztile::reading::detail::ZipDirectory::Parse(bytes, directory) ||
      directory.entries().size() != written)
    return false;
  for (const auto& entry : directory.entries())
    if (!kmztile::reading::detail::ZipDirectory::Verify(bytes, entry)) return false;
  return true;
}

// The whole update; the public call below only keeps exceptions inside.
bool UpdateLocation(const std::string& path, double longitude, double latitude) {
  if (path.empty()) return false;
  // Written as "inside the range" so that NaN fails too.
  if (!(longitude >= -180.0 && longitude <= 180.0) || !(latitude >= -90.0 && latitude <= 90.0)) return false;
  // The package is rewritten at path: archive bytes in its place name no file.
  if (kmlengine::KmzFile::IsKmz(path)) return false;

  kmztile::reading::OpenedKmz archive;
  if (!kmztile::reading::OpenKmzSource(path, archive)) return false;
  const std::vector<std::string> names = archive.index->Names();
  std::vector<std::string> contents(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (!kmztile::reading::ReadEntryTolerant(*archive.index, names[i], contents[i])) return false;
  }
  std::string text;
  if (!archive.index->ReadDefaultKml(text)) return false;
  archive = kmztile::reading::OpenedKmz();  // the entries are in memory now

  placement::ParsedKml parsed;
  if (!placement::ParseKmlWithFeature(text, parsed)) return false;
  if (!MoveModelPlacemark(parsed, longitude, latitude)) return false;
  std::string kml;
  if (!placement::SerializeKml(parsed.kml, kml)) return false;

  // A package reached through a symbolic link is rewritten where the link
  // leads, so the link stays a link; the new archive keeps the old one's
  // permissions (a read-only package stays read-only).
  const std::string target = platform::LinkTarget(path);
  if (target.empty()) return false;
  // Removed on every way out, an exception included, unless renamed into place.
  struct Temporary {
    std::string path;
    bool keep = false;
    ~Temporary() {
      if (!keep) platform::RemoveFile(path);
    }
  } temporary{platform::TemporarySibling(target)};
  if (platform::PathExists(temporary.path) || platform::IsSymbolicLink(temporary.path)) {
    temporary.keep = true;  // not ours: never removed, never replaced
    return false;
  }
  if (!WriteArchive(temporary.path, names, contents, KmlEntryName(path), kml) ||
      !platform::CopyPermissions(target, temporary.path))
    return false;
  temporary.keep = platform::RenamePath(temporary.path, target);
  return temporary.keep;
}

}  // namespace

bool CBaseParser::UpdateLocationInKml(std::string path, double longitude, double latitude) {
  return platform::GuardedCall([&] { return UpdateLocation(path, longitude, latitude); });
}
