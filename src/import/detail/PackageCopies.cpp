#include "import/detail/PackageCopies.h"

#include "platform/KmlFiles.h"
#include "platform/Paths.h"

namespace kmztile::import::detail {
namespace {

bool EndsWith(const std::string& s, const char* suffix, std::size_t length) {
  return s.size() >= length && s.compare(s.size() - length, length, suffix) == 0;
}

// Writes the same bytes into every level folder, stopping at the first
// failure; copies already written stay.
bool WriteToLevelFolders(const std::string& data, const CopyTarget& target, const char* extension) {
  for (int n = 1; n <= target.levelFolderCount; ++n) {
    const std::string path = target.workFolder + std::to_string(n) + "\\" + target.stem + extension;
    if (!platform::KmlWriteStringToFile(data, path)) return false;
  }
  return true;
}

}  // namespace

std::string PackageStem(const std::string& packagePath) {
  if (packagePath.size() < 4) return std::string();
  return platform::FileNameOf(packagePath.substr(0, packagePath.size() - 4));
}

bool OpenPackage(const std::string& packagePath, reading::OpenedKmz& out) {
  // A path that happens to begin with the zip signature must still be read
  // as a path, never taken for archive bytes.
  if (kmlengine::KmzFile::IsKmz(packagePath)) return false;
  return reading::OpenKmzSource(packagePath, out);
}

bool CopyKml(const reading::ArchiveIndex& archive, const CopyTarget& target) {
  std::string kml;
  if (!archive.ReadDefaultKml(kml)) return false;
  return WriteToLevelFolders(kml, target, ".kml");
}

bool CopyModel(const reading::ArchiveIndex& archive, const CopyTarget& target) {
  for (const auto& entry : archive.directory.entries()) {
    if (!EndsWith(entry.name, ".dae", 4)) continue;
    std::string model;
    if (!reading::detail::ZipDirectory::Read(archive.bytes, entry, model)) return false;
    return WriteToLevelFolders(model, target, ".dae");
  }
  return true;
}

}  // namespace kmztile::import::detail
