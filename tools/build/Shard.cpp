#include "build/Shard.h"

#include <cstdint>

#include "core/detail/TilePlan.h"
#include "tiles/detail/TileNames.h"

namespace kmztool::build {

namespace {

std::uint64_t Mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

/** Digits only, at most 7 of them. */
bool ReadCount(const std::string& text, unsigned long& value) {
  if (text.empty() || text.size() > 7) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return true;
}

}  // namespace

bool ParseShard(const std::string& text, Shard& shard, std::string& error) {
  const size_t slash = text.find('/');
  unsigned long k = 0, n = 0;
  if (slash == std::string::npos || !ReadCount(text.substr(0, slash), k) || !ReadCount(text.substr(slash + 1), n)) {
    error = "--shard takes K/N, two whole numbers such as 2/8, not \"" + text + "\"";
    return false;
  }
  if (n < 1 || n > kMaxShards) {
    error = "--shard " + text + ": the number of shards must be 1 to " + std::to_string(kMaxShards);
    return false;
  }
  if (k < 1 || k > n) {
    error = "--shard " + text + ": the shard number must be 1 to " + std::to_string(n);
    return false;
  }
  shard.index = static_cast<unsigned>(k);
  shard.count = static_cast<unsigned>(n);
  return true;
}

unsigned ShardOf(const TileKey& key, unsigned count) {
  if (count <= 1) return 1;
  // This function fixes which machine builds which tile: never change it, or
  // shards of one build made by different versions would overlap.
  std::uint64_t h = Mix(static_cast<std::uint64_t>(key.level) + 0x9E3779B97F4A7C15ULL);
  h = Mix(h ^ static_cast<std::uint64_t>(key.row));
  h = Mix(h ^ static_cast<std::uint64_t>(key.column));
  return static_cast<unsigned>(h % count) + 1;
}

unsigned ShardOfTile(const TileKey& key, unsigned count) {
  const long areaLevel = kmztile::tiles::detail::kCoarsestLevel;
  if (key.level < areaLevel || key.level > kmztile::tiles::detail::kFinestLevel) return ShardOf(key, count);
  const auto area = kmztile::core::AreaOf(key.level, key.row, key.column, areaLevel);
  return ShardOf({areaLevel, area.first, area.second}, count);
}

}  // namespace kmztool::build
