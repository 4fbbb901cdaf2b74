// Clearing the level folders so that the next EarlyPrepare imports again,
// and the plain whole-file copy of the class.
#include <string>
#include <vector>

#include "BaseParser.h"
#include "platform/FileSystem.h"

namespace {

// Only files whose last three characters are one of these are deleted:
// the KML and model copies of the import and the tile documents and KMZs.
bool IsDeletableName(const std::string& path) {
  if (path.size() < 3) return false;
  const std::string tail = path.substr(path.size() - 3);
  return tail == "kml" || tail == "dae" || tail == "kmz";
}

}  // namespace

bool CBaseParser::DeleteFileAndDirectory(std::string folder) {
  if (folder.empty() || folder != m_workFolder) return false;
  if (!DeleteFiles(folder)) return false;
  return DeleteDirectorys(folder);
}

bool CBaseParser::DeleteFiles(std::string folder) {
  // The guard is the only protection against deleting in the wrong place:
  // nothing but the exact working folder is accepted.
  if (folder.empty() || folder != m_workFolder) return false;
  std::vector<kmztile::platform::DirEntry> entries;
  for (int n = 1; n <= m_levelFolderCount; ++n) {
    const std::string levelFolder = folder + std::to_string(n);
    if (!kmztile::platform::FindEntries(levelFolder + "\\*.*", entries)) return false;
    for (const auto& entry : entries) {
      if (!entry.name.empty() && entry.name[0] == '.') continue;
      const std::string path = levelFolder + "\\" + entry.name;
      // Files that cannot be deleted (in use, a folder of that name) stay.
      if (IsDeletableName(path)) kmztile::platform::RemoveFile(path);
    }
  }
  return true;
}

bool CBaseParser::DeleteDirectorys(std::string folder) {
  if (folder.empty() || folder != m_workFolder) return false;
  for (int n = 1; n <= m_levelFolderCount; ++n) {
    // A level folder that still holds other files stays.
    kmztile::platform::RemoveEmptyDirectory(folder + std::to_string(n));
  }
  return true;
}

bool CBaseParser::CopyFileW(std::string source, std::string destination) {
  // The source is read completely before the destination is opened, so a
  // source that cannot be read leaves the destination untouched, and a file
  // copied onto itself keeps its content.
  std::string bytes;
  if (!kmztile::platform::ReadWholeFile(source, bytes)) return false;
  return kmztile::platform::WriteWholeFile(destination, bytes);
}
