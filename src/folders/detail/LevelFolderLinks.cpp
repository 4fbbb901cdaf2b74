#include "folders/detail/LevelFolderLinks.h"

#include "platform/FolderGuards.h"
#include "platform/Problems.h"
#include "platform/Paths.h"

namespace kmztile::folders::detail {

bool AnyLevelFolderIsALink(const std::string& workFolder, int count) {
  for (int n = 1; n <= count; ++n) {
    const std::string level = workFolder + std::to_string(n);
    if (platform::IsSymbolicLink(level)) {
      platform::ReportProblem(platform::NativePath(level),
                              "the level folder is a symbolic link; nothing is written into or deleted from it");
      return true;
    }
  }
  return false;
}

}  // namespace kmztile::folders::detail
