#pragma once
// Locales. The desktop runtime's "chs" locale does not exist here; it maps
// to a UTF-8 locale so that s2ws/ws2s agree with the code-page conversions.
// The user's default locale is std::locale(""), with the classic locale as
// fallback when the environment names a locale that is not installed.
#include <locale>
#include <string>

namespace kmztile::platform {

/** The runtime locale name to use for @p desktopName ("chs" becomes a UTF-8 locale). */
std::string RuntimeLocaleName(const std::string& desktopName);

/** std::locale("") or, when the environment names a missing locale, the classic locale. */
std::locale UserDefaultLocale();

/**
 * Makes the user's default locale the process-wide locale (std::locale::global,
 * which also sets the C runtime's locale). Never restored, never throws.
 */
void InstallUserDefaultLocale();

/**
 * While alive, libkml reads and writes numbers the way KML spells them (a
 * decimal point, no digit grouping), whatever the user's locale: both the
 * global stream locale, which formats libkml's numbers, and the C runtime's,
 * under which it parses them, are the classic ones. The locales in force
 * before come back at its end. Nothing changes when they already read and
 * write numbers that way. Held around every parse and serialisation of KML.
 */
class KmlNumbers {
 public:
  KmlNumbers();
  ~KmlNumbers();
  KmlNumbers(const KmlNumbers&) = delete;
  KmlNumbers& operator=(const KmlNumbers&) = delete;

 private:
  std::locale saved_;
  std::string savedC_;
  bool changed_ = false;
};

}  // namespace kmztile::platform
