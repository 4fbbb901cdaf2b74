#include "placement/detail/LocationText.h"

#include "platform/FileSystem.h"

#include <locale.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <type_traits>

namespace kmztile::placement::detail {
namespace {

struct LocaleFree {
  void operator()(locale_t l) const { freelocale(l); }
};
using LocalePtr = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFree>;

// The user's default locale, as the build installs it before reading; the
// classic locale when the environment names one that is not installed.
LocalePtr UserLocale() {
  LocalePtr user(newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr)));
  if (!user) user.reset(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr)));
  return user;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

LocationNumber ReadNumber(const std::string& line, locale_t locale) {
  LocationNumber n;
  const char* start = line.c_str();
  while (*start && IsBlank(*start)) ++start;
  char* end = nullptr;
  const double value = locale ? strtod_l(start, &end, locale) : strtod(start, &end);
  if (end == start) return n;
  n.present = true;
  n.value = value;
  const char* restStart = end;
  while (*restStart && IsBlank(*restStart)) ++restStart;
  std::string rest(restStart);
  while (!rest.empty() && IsBlank(rest.back())) rest.pop_back();
  n.ignored = rest;
  return n;
}

}  // namespace

LocationLines ReadLocationLines(const std::string& text) {
  const LocalePtr locale = UserLocale();
  LocationLines lines;
  const auto firstEnd = text.find('\n');
  lines.x = ReadNumber(text.substr(0, firstEnd), locale.get());
  if (firstEnd == std::string::npos) return lines;
  const auto secondEnd = text.find('\n', firstEnd + 1);
  lines.y = ReadNumber(text.substr(firstEnd + 1, secondEnd == std::string::npos ? std::string::npos
                                                                                : secondEnd - firstEnd - 1),
                       locale.get());
  return lines;
}

void ReadLocationFile(const std::string& path, double& x, double& y) {
  std::string lines[4];
  std::ifstream in;
  if (platform::OpenInput(in, path, false)) {
    for (std::string& line : lines) {
      if (!std::getline(in, line)) break;
    }
  }
  x = std::atof(lines[0].c_str());
  y = std::atof(lines[1].c_str());
}

bool IsGridLocation(double x, double y) { return x > 180 && y > 90; }

bool FormatCoordinate(double value, std::string& out) {
  char buffer[200];
  const int n = std::snprintf(buffer, sizeof buffer, "%f ", value);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) return false;
  out.assign(buffer, static_cast<size_t>(n));
  return true;
}

double CoordinateAsListed(double value) {
  std::string text;
  return FormatCoordinate(value, text) ? std::atof(text.c_str()) : value;
}

}  // namespace kmztile::placement::detail
