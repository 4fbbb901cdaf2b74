#pragma once
// The system code page of narrow strings is UTF-8 here; these are the
// MultiByteToWideChar/WideCharToMultiByte (CP_ACP) conversions. Malformed
// UTF-8 becomes U+FFFD, as the desktop converter does without strict flags.
#include <string>

namespace kmztile::platform {

/** UTF-8 to wide characters. */
std::wstring Utf8ToWide(const std::string& text);
/** Wide characters (UTF-32 here; UTF-16 surrogates are joined) to UTF-8. */
std::string WideToUtf8(const std::wstring& text);

}  // namespace kmztile::platform
