// The four string conversions. s2ws/ws2s go through the C runtime's
// multibyte functions under the "chs" locale (a UTF-8 locale here);
// StringToBSTR/BSTRToString are the system code page (UTF-8) conversions.
#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "BaseParser.h"
#include "platform/Locale.h"
#include "platform/WideText.h"

std::wstring CBaseParser::s2ws(const std::string& s) {
  std::setlocale(LC_ALL, kmztile::platform::RuntimeLocaleName("chs").c_str());
  const size_t n = s.size() + 1;
  std::vector<wchar_t> buffer(n, L'\0');
  std::mbstowcs(buffer.data(), s.c_str(), n);
  buffer.back() = L'\0';  // a conversion that filled the buffer stays terminated
  std::wstring result(buffer.data());
  std::setlocale(LC_ALL, "C");
  return result;
}

std::string CBaseParser::ws2s(const std::wstring& s) {
  const char* current = std::setlocale(LC_ALL, nullptr);
  const std::string saved = current ? current : "C";
  std::setlocale(LC_ALL, kmztile::platform::RuntimeLocaleName("chs").c_str());
  // Twice the length plus one, as on the desktop; a UTF-8 character may need
  // up to four bytes, so the buffer is sized for that to avoid cutting text.
  const size_t n = s.size() * 4 + 1;
  std::vector<char> buffer(n, '\0');
  std::wcstombs(buffer.data(), s.c_str(), n);
  buffer.back() = '\0';
  std::string result(buffer.data());
  std::setlocale(LC_ALL, saved.c_str());
  return result;
}

wchar_t* CBaseParser::StringToBSTR(std::string s) {
  const std::wstring wide = kmztile::platform::Utf8ToWide(s);
  auto* out = new wchar_t[wide.size() + 1];  // the caller frees it with delete[]
  std::wmemcpy(out, wide.c_str(), wide.size() + 1);
  return out;
}

std::string CBaseParser::BSTRToString(const wchar_t* s) {
  if (!s) return std::string();
  return kmztile::platform::WideToUtf8(std::wstring(s));
}
