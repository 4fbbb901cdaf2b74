#include "reading/detail/TextureGrouping.h"

namespace kmztile::reading::detail {
namespace {

// ASCII-only case folding: entry names are UTF-8, and the process locale
// (which the library changes) must not alter which bytes compare equal.
bool EndsWithIgnoringCase(const std::string& name, const char (&suffix)[5]) {
  const std::size_t start = name.size() - 4;
  for (std::size_t i = 0; i < 4; ++i) {
    char c = name[start + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

}  // namespace

void GroupTexturesByModel(const std::vector<std::string>& names,
                          std::map<std::string, std::vector<std::string>>& textures) {
  std::vector<std::string> pending;
  for (const std::string& name : names) {
    if (name.size() < 5) continue;
    if (EndsWithIgnoringCase(name, ".kml")) continue;
    if (!EndsWithIgnoringCase(name, ".dae")) {
      pending.push_back(name);
      continue;
    }
    textures.insert({name, pending});
    pending.clear();
  }
}

}  // namespace kmztile::reading::detail
