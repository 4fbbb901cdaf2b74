#include "platform/Paths.h"

#include <algorithm>

namespace kmztile::platform {

std::string NativePath(const std::string& libraryPath) {
  std::string native = libraryPath;
#ifndef _WIN32
  std::replace(native.begin(), native.end(), '\\', '/');
#endif
  return native;
}

std::string FileNameOf(const std::string& path) {
#ifdef _WIN32
  const auto cut = path.find_last_of('\\');
#else
  const auto cut = path.find_last_of("\\/");
#endif
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace kmztile::platform
