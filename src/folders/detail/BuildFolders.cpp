#include "folders/detail/BuildFolders.h"

#include "platform/FolderGuards.h"

namespace kmztile::folders::detail {

std::string RefuseBuildFolders(const std::string& source, const std::string& out, const std::string& work) {
  const std::string src = platform::CanonicalPath(source);
  if (platform::IsSameOrInside(source, out))
    return "the output folder " + platform::CanonicalPath(out) + " is or contains the source folder " + src +
           ", which the build would overwrite or delete";
  if (platform::IsSameOrInside(source, work))
    return "the working folder " + platform::CanonicalPath(work) + " is or contains the source folder " + src +
           ", which the build would overwrite or delete";
  return {};
}

}  // namespace kmztile::folders::detail
