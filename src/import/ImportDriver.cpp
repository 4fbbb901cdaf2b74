// The import: level folders first, then every package of the working folder
// has its KML and model copied into each level folder.
#include <string>
#include <vector>

#include "BaseParser.h"
#include "folders/detail/LevelFolderLinks.h"
#include "import/detail/PackageCopies.h"
#include "platform/FileSystem.h"

bool CBaseParser::EarlyPrepare(std::string /*unused*/) {
  // Copies are never written through a level folder that is a link.
  if (kmztile::folders::detail::AnyLevelFolderIsALink(m_workFolder, m_levelFolderCount)) return false;
  switch (Create4Folder()) {
    case 1:
      return false;  // no working folder
    case 2:
      return true;  // an earlier run created the level folders: already imported
    default:
      return ParseKmz();
  }
}

bool CBaseParser::ParseKmz() {
  namespace copies = kmztile::import::detail;
  if (m_workFolder.empty()) return false;
  std::vector<kmztile::platform::DirEntry> packages;
  if (!kmztile::platform::FindEntries(m_workFolder + "*.kmz", packages)) return false;
  // Whatever the pattern matches is a package, a folder of that name too
  // (it cannot be opened and stops the import). Each package is opened and
  // read once for both copies; its KML is written before its model, and a
  // package is finished before the next one starts.
  for (const auto& entry : packages) {
    const std::string packagePath = m_workFolder + entry.name;
    const copies::CopyTarget target{m_workFolder, m_levelFolderCount, copies::PackageStem(packagePath)};
    kmztile::reading::OpenedKmz package;
    if (!copies::OpenPackage(packagePath, package)) return false;
    if (!copies::CopyKml(*package.index, target)) return false;
    if (!copies::CopyModel(*package.index, target)) return false;
  }
  return true;
}
