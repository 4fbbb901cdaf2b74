#include "placement/detail/FolderListing.h"

#include <cctype>
#include <cstdio>

#include "platform/FileSystem.h"

namespace kmztile::placement::detail {

std::string FileExtension(const std::string& name) {
  const auto dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return std::string();
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

void ListFolderFiles(const std::string& folder, const std::string& extension, std::vector<std::string>& out) {
  if (platform::PathExists(folder) && !platform::IsDirectory(folder)) {
    std::printf("%s ", folder.c_str());
    std::fflush(stdout);
    return;
  }
  constexpr std::size_t kPatternBuffer = 260;
  const std::string pattern = folder + "/*";
  if (pattern.size() >= kPatternBuffer) return;
  std::vector<platform::DirEntry> entries;
  if (!platform::FindEntries(pattern, entries)) return;
  for (const auto& entry : entries) {
    if (entry.isDirectory) continue;
    if (extension.empty() || FileExtension(entry.name) == extension) out.push_back(entry.name);
  }
}

}  // namespace kmztile::placement::detail
