#include "build/TileRecord.h"

namespace kmztool::build {

std::string TilePath(const TileKey& key) {
  return "tiles/" + std::to_string(key.level) + "/" + std::to_string(key.row) + "/" + std::to_string(key.column) +
         ".kmz";
}

}  // namespace kmztool::build
