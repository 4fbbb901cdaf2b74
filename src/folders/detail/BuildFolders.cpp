#include "folders/detail/BuildFolders.h"

#include "platform/FileSystem.h"
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
  // An output folder inside the source is not staged as source: had it been
  // a model's texture folder, that model's textures would vanish unreported.
  const std::string output = platform::CanonicalPath(out);
  const auto slash = output.find_last_of('/');
  if (slash != std::string::npos && output.substr(0, slash == 0 ? 1 : slash) == src &&
      platform::PathExists(output + ".dae"))
    return "the output folder " + output + " is the texture folder of the model " + output +
           ".dae, whose textures the build would leave out";
  return {};
}

}  // namespace kmztile::folders::detail
