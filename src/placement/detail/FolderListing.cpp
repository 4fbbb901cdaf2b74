#include "placement/detail/FolderListing.h"

#include <cctype>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Problems.h"

namespace kmztile::placement::detail {

std::string FileExtension(const std::string& name) {
  const auto dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return std::string();
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

void ListFolderFiles(const std::string& folder, const std::string& extension, std::vector<std::string>& out) {
  std::vector<platform::DirEntry> entries;
  if (!platform::FindEntries(folder + "/*", entries)) {
    // A readable folder always lists "." and "..": a folder that is there
    // and lists nothing could not be read, and all of it would go missing.
    // Only then is it looked at: most folders list.
    const platform::PathKind kind = platform::KindOf(folder);
    if (kind == platform::PathKind::Other)
      platform::ReportProblem(platform::NativePath(folder), "is a file where a folder belongs; nothing of it is listed");
    else if (kind == platform::PathKind::Directory)
      platform::ReportProblem(platform::NativePath(folder), "the folder cannot be listed; nothing of it is packed");
    return;
  }
  for (const auto& entry : entries) {
    if (entry.isDirectory) continue;
    if (extension.empty() || FileExtension(entry.name) == extension) out.push_back(entry.name);
  }
}

}  // namespace kmztile::placement::detail
