#include "placement/detail/ColladaUri.h"

#include <vector>

namespace kmztile::placement::detail {
namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithIgnoringCase(const std::string& s, const char* prefix) {
  std::size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= s.size()) return false;
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// A URI scheme of two or more characters ("C:" is a drive letter, not a scheme).
bool HasScheme(const std::string& s) {
  const auto colon = s.find(':');
  if (colon == std::string::npos || colon < 2 || !IsAlpha(s[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = s[i];
    if (!IsAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

bool IsDrivePath(const std::string& s) { return s.size() >= 3 && IsAlpha(s[0]) && s[1] == ':' && s[2] == '/'; }

}  // namespace

std::string PercentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string NormalisePath(const std::string& path) {
  const bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + parts[i];
  return out.empty() ? "." : out;
}

ResolvedUri ResolveColladaUri(const std::string& uri, const std::string& baseFolder) {
  ResolvedUri result;
  const auto first = uri.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return result;
  std::string s = uri.substr(first, uri.find_last_not_of(" \t\r\n") - first + 1);
  for (char& c : s)
    if (c == '\\') c = '/';

  if (StartsWithIgnoringCase(s, "file:")) {
    s.erase(0, 5);
    if (s.compare(0, 2, "//") == 0) {
      // file://host/path: only an empty host or localhost is this machine.
      s.erase(0, 2);
      if (StartsWithIgnoringCase(s, "localhost/")) s.erase(0, 9);
      if (!s.empty() && s[0] != '/') {
        result.kind = UriKind::kExternal;
        return result;
      }
    }
    if (s.size() >= 4 && s[0] == '/' && IsDrivePath(s.substr(1))) s.erase(0, 1);  // file:///C:/x
  } else if (HasScheme(s)) {
    result.kind = UriKind::kExternal;
    return result;
  } else if (s.compare(0, 2, "//") == 0) {
    result.kind = UriKind::kExternal;  // a network share
    return result;
  }
  s = s.substr(0, s.find_first_of("#?"));
  s = PercentDecode(s);
  if (s.empty()) return result;

  result.kind = UriKind::kLocalFile;
  if (s[0] == '/' || IsDrivePath(s)) {
    result.path = IsDrivePath(s) ? s : NormalisePath(s);
  } else {
    result.path = NormalisePath(baseFolder + "/" + s);
  }
  return result;
}

}  // namespace kmztile::placement::detail
