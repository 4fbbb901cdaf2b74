// The level folders under the working folder: "1" to "4", one per finest
// pyramid level. Their presence marks an import that has already run.
#include <string>
#include <vector>

#include "BaseParser.h"
#include "platform/FileSystem.h"

int CBaseParser::Create4Folder() {
  if (m_workFolder.empty()) return 1;
  for (int n = 1; n <= m_levelFolderCount; ++n) {
    const std::string levelFolder = m_workFolder + std::to_string(n);
    if (CheckFolderExist(levelFolder)) return 2;
    // A folder that cannot be created goes unnoticed here; the first write
    // into it fails later and stops the import.
    kmztile::platform::MakeDirectory(levelFolder);
  }
  return 0;
}

bool CBaseParser::CheckFolderExist(const std::string& path) {
  // The path itself is the search "pattern": one entry, or none.
  std::vector<kmztile::platform::DirEntry> found;
  if (!kmztile::platform::FindEntries(path, found)) return false;
  return !found.empty() && found.front().isDirectory;
}
