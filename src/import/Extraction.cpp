// KML and model extraction of one package into the level folders. Each
// operation opens the package on its own; the import driver opens every
// package once and runs both copies on the same open archive.
#include "BaseParser.h"
#include "import/detail/PackageCopies.h"

using kmztile::import::detail::CopyTarget;

bool CBaseParser::GetKmlFromKmz(std::string packagePath) {
  if (packagePath.empty()) return false;
  const CopyTarget target{m_workFolder, m_levelFolderCount, kmztile::import::detail::PackageStem(packagePath)};
  kmztile::reading::OpenedKmz package;
  if (!kmztile::import::detail::OpenPackage(packagePath, package)) return false;
  return kmztile::import::detail::CopyKml(*package.index, target);
}

bool CBaseParser::GetDaeFromKmz(std::string packagePath) {
  if (packagePath.empty()) return false;
  const CopyTarget target{m_workFolder, m_levelFolderCount, kmztile::import::detail::PackageStem(packagePath)};
  kmztile::reading::OpenedKmz package;
  if (!kmztile::import::detail::OpenPackage(packagePath, package)) return false;
  return kmztile::import::detail::CopyModel(*package.index, target);
}
