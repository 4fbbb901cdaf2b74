#include "tiles/detail/CoordinatesFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/FileSystem.h"
#include "platform/Locale.h"

namespace kmztile::tiles::detail {
namespace {

// Cuts @p text into lines at LF, dropping one CR before it.
class LineReader {
 public:
  explicit LineReader(const std::string& text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  // The next line; past the end, an empty line (as a missing line reads).
  std::string_view Next() {
    if (AtEnd()) return {};
    const std::size_t end = text_.find('\n', pos_);
    const std::size_t stop = end == std::string::npos ? text_.size() : end;
    std::string_view line(text_.data() + pos_, stop - pos_);
    pos_ = end == std::string::npos ? text_.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  }

 private:
  const std::string& text_;
  std::size_t pos_ = 0;
};

// The leading decimal number of a line, as atof reads it (0 when none).
double LeadingNumber(std::string_view line) { return std::atof(std::string(line).c_str()); }

// The leading integer of a line, as atoi reads it, saturated to int.
long long LeadingCount(std::string_view line) {
  const std::string s(line);
  errno = 0;
  const long long n = std::strtoll(s.c_str(), nullptr, 10);
  if (n > INT_MAX) return INT_MAX;
  if (n < INT_MIN) return INT_MIN;
  return n;
}

struct Kept {
  std::string path;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;
  std::shared_ptr<const CoordinatesList> list;
};

Kept& KeptList() {
  static Kept kept;
  return kept;
}

}  // namespace

CoordinatesList ParseCoordinates(const std::string& text) {
  CoordinatesList list;
  LineReader lines(text);
  const long long count = LeadingCount(lines.Next());
  for (long long k = 0; k < count; ++k) {
    if (lines.AtEnd()) {
      list.missingGroups = static_cast<std::uint64_t>(count - k);
      break;
    }
    ModelPoint point;
    point.name = std::string(lines.Next());
    point.longitude = LeadingNumber(lines.Next());
    point.latitude = LeadingNumber(lines.Next());
    list.models.push_back(std::move(point));
  }
  return list;
}

void IndexByLongitude(CoordinatesList& list) {
  list.byLongitude.clear();
  list.byLongitude.reserve(list.models.size());
  for (std::size_t i = 0; i < list.models.size(); ++i)
    if (!std::isnan(list.models[i].longitude)) list.byLongitude.push_back(i);
  std::stable_sort(list.byLongitude.begin(), list.byLongitude.end(), [&](std::size_t a, std::size_t b) {
    return list.models[a].longitude < list.models[b].longitude;
  });
}

void CoordinatesList::SelectInTile(const TileCell& cell, double size, std::vector<std::string>& out) const {
  // The column of a longitude never decreases as it grows: the cell's column is one run of the order.
  const auto column = [&](std::size_t i) { return ColumnOfLongitude(models[i].longitude, size); };
  auto it = std::lower_bound(byLongitude.begin(), byLongitude.end(), cell.column,
                             [&](std::size_t i, long c) { return column(i) < c; });
  std::vector<std::size_t> inside;
  for (; it != byLongitude.end() && column(*it) == cell.column; ++it) {
    const auto tile = TileOfPoint(models[*it].longitude, models[*it].latitude, size);
    if (tile && *tile == cell) inside.push_back(*it);
  }
  std::sort(inside.begin(), inside.end());  // file order
  for (const std::size_t i : inside) out.push_back(models[i].name);
}

std::shared_ptr<const CoordinatesList> LoadCoordinates(const std::string& path) {
  platform::InstallUserDefaultLocale();
  std::uint64_t size = 0;
  std::int64_t mtime = 0;
  Kept& kept = KeptList();
  if (!platform::StatFile(path, size, mtime)) return nullptr;
  if (kept.list && kept.path == path && kept.size == size && kept.mtime == mtime) return kept.list;
  std::string text;
  if (!platform::ReadWholeFile(path, text)) return nullptr;
  auto parsed = std::make_shared<CoordinatesList>(ParseCoordinates(text));
  IndexByLongitude(*parsed);
  std::shared_ptr<const CoordinatesList> list = std::move(parsed);
  // Keyed by what was stat'ed before the read: a file changed meanwhile is read again next time.
  kept = Kept{path, size, mtime, list};
  return list;
}

void ForgetCoordinates() { KeptList() = Kept{}; }

}  // namespace kmztile::tiles::detail
