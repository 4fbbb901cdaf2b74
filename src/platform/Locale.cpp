#include "platform/Locale.h"

#include <clocale>

namespace kmztile::platform {

std::string RuntimeLocaleName(const std::string& desktopName) {
  if (desktopName == "chs") {
    // Prefer C.UTF-8 (always present on Debian); fall back to any UTF-8 locale.
    for (const char* candidate : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      const char* saved = std::setlocale(LC_ALL, nullptr);
      std::string keep = saved ? saved : "C";
      if (std::setlocale(LC_ALL, candidate)) {
        std::setlocale(LC_ALL, keep.c_str());
        return candidate;
      }
    }
    return "C";
  }
  return desktopName;
}

std::locale UserDefaultLocale() {
  try {
    return std::locale("");
  } catch (const std::runtime_error&) {
    return std::locale::classic();
  }
}

void InstallUserDefaultLocale() {
  std::locale::global(UserDefaultLocale());
}

}  // namespace kmztile::platform
