#include "DataFolders.h"

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace kmztool {

std::string FindDataFolder(const std::string& shareRelative, const std::string& sourceTreeFolder,
                           const std::string& marker) {
  // The installed copy first: an installed command must use what was
  // installed with it, even when the source tree it was built from remains.
  std::vector<fs::path> candidates;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) candidates.push_back(exe.parent_path().parent_path() / "share" / "kmztile" / shareRelative);
  if (!sourceTreeFolder.empty()) candidates.emplace_back(sourceTreeFolder);
  for (const auto& c : candidates)
    if (fs::exists(c / marker, ec)) return c.string();
  return {};
}

}  // namespace kmztool
