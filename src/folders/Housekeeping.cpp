// Clearing the level folders so that the next EarlyPrepare imports again,
// and the plain whole-file copy of the class.
#include <set>
#include <string>
#include <vector>

#include "BaseParser.h"
#include "platform/FileSystem.h"
#include "folders/detail/LevelFolderLinks.h"

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A tile's own files: "LEVEL-ROW-COLUMN.kml" or ".kmz".
bool IsTileName(const std::string& name) {
  if (!EndsWith(name, ".kml") && !EndsWith(name, ".kmz")) return false;
  const std::string stem = name.substr(0, name.size() - 4);
  int dashes = 0;
  bool digit = false;
  for (const char c : stem) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '-' && digit && dashes < 2) {
      ++dashes;
      digit = false;
    } else {
      return false;
    }
  }
  return dashes == 2 && digit;
}

// Only what the import and the tile builder write is deleted: the KML and
// model copies of a package of the working folder ("house.kml" and
// "house.dae" for "house.kmz") and the tile documents and archives. Any
// other file, even one ending like them, belongs to someone else.
bool IsMadeByTheLibrary(const std::string& name, const std::set<std::string>& packageStems) {
  if (IsTileName(name)) return true;
  if (!EndsWith(name, ".kml") && !EndsWith(name, ".dae")) return false;
  return packageStems.count(name.substr(0, name.size() - 4)) > 0;
}

}  // namespace

bool CBaseParser::DeleteFileAndDirectory(std::string folder) {
  if (folder.empty() || folder != m_workFolder) return false;
  if (!DeleteFiles(folder)) return false;
  return DeleteDirectorys(folder);
}

bool CBaseParser::DeleteFiles(std::string folder) {
  // The guard is the only protection against deleting in the wrong place:
  // nothing but the exact working folder is accepted, and a level folder
  // that is a symbolic link (it may lead anywhere) stops the clearing.
  if (folder.empty() || folder != m_workFolder) return false;
  if (kmztile::folders::detail::AnyLevelFolderIsALink(folder, m_levelFolderCount)) return false;
  std::set<std::string> stems;
  std::vector<kmztile::platform::DirEntry> entries;
  kmztile::platform::FindEntries(folder + "*.kmz", entries);
  for (const auto& entry : entries)
    if (!entry.isDirectory) stems.insert(entry.name.substr(0, entry.name.size() - 4));
  for (int n = 1; n <= m_levelFolderCount; ++n) {
    const std::string levelFolder = folder + std::to_string(n);
    if (!kmztile::platform::FindEntries(levelFolder + "\\*.*", entries)) return false;
    for (const auto& entry : entries) {
      if (entry.isDirectory || entry.name.empty() || entry.name[0] == '.') continue;
      // Files that cannot be deleted (in use) stay.
      if (IsMadeByTheLibrary(entry.name, stems)) kmztile::platform::RemoveFile(levelFolder + "\\" + entry.name);
    }
  }
  return true;
}

bool CBaseParser::DeleteDirectorys(std::string folder) {
  if (folder.empty() || folder != m_workFolder) return false;
  if (kmztile::folders::detail::AnyLevelFolderIsALink(folder, m_levelFolderCount)) return false;
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
