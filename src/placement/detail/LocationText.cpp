#include "placement/detail/LocationText.h"

#include <locale.h>
#include <stdlib.h>

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

}  // namespace kmztile::placement::detail
