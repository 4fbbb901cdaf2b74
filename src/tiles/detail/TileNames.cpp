#include "tiles/detail/TileNames.h"

#include <cstring>

namespace kmztile::tiles::detail {

std::optional<int> LevelFolderNumber(long maxLevel, long level) {
  const long long number = static_cast<long long>(maxLevel) - level + 1;
  if (number < 0 || number > 9) return std::nullopt;
  return static_cast<int>(number);
}

std::string LevelFolder(const std::string& workFolder, int number) { return workFolder + std::to_string(number); }

std::string BaseNameOf(const std::string& packageName) {
  return packageName.size() < 4 ? packageName : packageName.substr(0, packageName.size() - 4);
}

std::string ModelKmlNameOf(const std::string& packageName) {
  if (packageName.empty()) return packageName;
  std::string name = packageName;
  name.back() = 'l';
  return name;
}

std::string InsertBaseName(const std::string& path, const std::string& baseName) {
  constexpr std::size_t kPosition = 6;
  if (path.size() <= kPosition) return path + baseName;
  std::string renamed;
  renamed.reserve(path.size() + baseName.size());
  renamed.append(path, 0, kPosition).append(baseName).append(path, kPosition, std::string::npos);
  return renamed;
}

bool EndsWith(const std::string& text, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

}  // namespace kmztile::tiles::detail
