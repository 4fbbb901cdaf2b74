#include "platform/FolderGuards.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace kmztile::platform {

bool IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string LinkTarget(const std::string& path) {
  if (!IsSymbolicLink(path)) return path;
  std::error_code ec;
  const fs::path target = fs::canonical(NativePath(path), ec);
  return ec ? std::string() : target.string();
}

std::string CanonicalPath(const std::string& path) {
  // Component by component, as the build later creates and walks the path:
  // a name that exists is resolved (links included) before a ".." after it
  // is applied, and a name that does not exist yet will be a new folder, so
  // ".." after it leads back. Normalising the missing tail as text instead
  // would read "new/../link/.." as "." although it names the link's parent.
  std::error_code ec;
  const fs::path absolute = fs::absolute(NativePath(path), ec);
  fs::path resolved = absolute.root_path();
  for (const fs::path& part : absolute.relative_path()) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      resolved = resolved.parent_path();
      continue;
    }
    resolved /= part;
    fs::path real = fs::canonical(resolved, ec);
    if (!ec) resolved = std::move(real);
  }
  std::string text = resolved.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool IsSameOrInside(const std::string& inner, const std::string& outer) {
  const std::string in = CanonicalPath(inner);
  const std::string out = CanonicalPath(outer);
  if (in == out) return true;
  if (out == "/") return true;
  return in.size() > out.size() && in.compare(0, out.size(), out) == 0 && in[out.size()] == '/';
}

}  // namespace kmztile::platform
