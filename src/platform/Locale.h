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

}  // namespace kmztile::platform
