#pragma once
// Level folders are the library's own: one that is a symbolic link may lead
// anywhere, so nothing is written into or deleted from it.
#include <string>

namespace kmztile::folders::detail {

/** True when one of the level folders "1".."count" of @p workFolder (stored with its trailing separator) is a symbolic link. */
bool AnyLevelFolderIsALink(const std::string& workFolder, int count);

}  // namespace kmztile::folders::detail
