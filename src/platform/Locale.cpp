#include "platform/Locale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

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

namespace {

// What names the user's default locale: the variables std::locale("") reads.
std::string LocaleEnvironment() {
  std::string key;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LC_NUMERIC", "LC_TIME", "LC_COLLATE", "LC_MONETARY", "LC_MESSAGES",
                           "LANG", "LOCPATH"}) {
    const char* value = std::getenv(name);
    key += value ? value : "\x01";
    key += '\0';
  }
  return key;
}

}  // namespace

void InstallUserDefaultLocale() {
  // Building std::locale("") loads the locale's files anew each time, and
  // tiles install it once per model document: the one built is kept while
  // the environment names the same locale, and installed again only when
  // something else has changed the global one. The C runtime's locale is
  // compared too, in case it was set on its own.
  static std::mutex guard;
  static std::string environment;
  static std::locale user;
  static std::string installedC;
  const std::lock_guard<std::mutex> lock(guard);
  std::string now = LocaleEnvironment();
  if (installedC.empty() || now != environment) {
    user = UserDefaultLocale();
    environment.swap(now);
    installedC.clear();
  }
  const char* current = std::setlocale(LC_ALL, nullptr);
  if (!installedC.empty() && std::locale() == user && current && installedC == current) return;
  std::locale::global(user);
  const char* installed = std::setlocale(LC_ALL, nullptr);
  installedC = installed ? installed : "?";
}

namespace {

// Numbers of @p locale and of the C runtime come out as KML has them.
bool WritesKmlNumbers(const std::locale& locale) {
  const auto& punct = std::use_facet<std::numpunct<char>>(locale);
  if (punct.decimal_point() != '.' || !punct.grouping().empty()) return false;
  const std::lconv* c = std::localeconv();
  return c && std::strcmp(c->decimal_point, ".") == 0;
}

}  // namespace

KmlNumbers::KmlNumbers() : saved_(std::locale()) {
  if (WritesKmlNumbers(saved_)) return;
  const char* c = std::setlocale(LC_ALL, nullptr);
  savedC_ = c ? c : "C";
  changed_ = true;
  std::locale::global(std::locale::classic());
}

KmlNumbers::~KmlNumbers() {
  if (!changed_) return;
  std::locale::global(saved_);
  std::setlocale(LC_ALL, savedC_.c_str());
}

}  // namespace kmztile::platform
