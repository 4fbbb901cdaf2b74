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
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(fs::absolute(NativePath(path), ec), ec);
  if (ec) return fs::absolute(NativePath(path), ec).lexically_normal().string();
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
