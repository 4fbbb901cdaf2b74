#pragma once
// Copying one package's KML document and COLLADA model into the level
// folders. The package is opened and read once; both copies come from the
// same open archive, so the import reads each package a single time.
#include <string>

#include "reading/KmzSource.h"

namespace kmztile::import::detail {

/** Where the copies of one package go: working folder, level folder count and the package's stem. */
struct CopyTarget {
  const std::string& workFolder;
  int levelFolderCount;
  std::string stem;
};

/**
 * The stem of a package path: the path without its last four characters
 * (".kmz"), reduced to the part after the last separator. A path shorter
 * than four characters gives "".
 */
std::string PackageStem(const std::string& packagePath);

/** Opens a package by path with the checked KMZ source rule. @return false when it cannot be opened. */
bool OpenPackage(const std::string& packagePath, reading::OpenedKmz& out);

/**
 * Writes the archive's KML document (the first entry ending in ".kml",
 * case-sensitive) to working folder + n + "\" + stem + ".kml" for every level
 * folder n, in order. @return false when there is no readable KML entry
 * (nothing written) or at the first write that fails (earlier copies stay).
 */
bool CopyKml(const reading::ArchiveIndex& archive, const CopyTarget& target);

/**
 * Writes the archive's model (the first entry whose name ends in ".dae",
 * case-sensitive) to working folder + n + "\" + stem + ".dae" for every
 * level folder n, in order. An archive without such an entry has no model
 * to copy: true, nothing written. @return false when the model entry cannot
 * be read or at the first write that fails.
 */
bool CopyModel(const reading::ArchiveIndex& archive, const CopyTarget& target);

}  // namespace kmztile::import::detail
