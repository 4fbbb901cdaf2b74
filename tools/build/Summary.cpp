#include "build/Summary.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace kmztool::build {

BuildSummary Summarize(const std::vector<TileRecord>& tiles, long models, double seconds,
                       const std::vector<std::pair<long, long>>& emptyPerLevel) {
  std::map<long, LevelSummary> levels;
  std::map<long, std::vector<std::uint64_t>> sizes;
  for (const TileRecord& t : tiles) {
    LevelSummary& s = levels[t.key.level];
    s.level = t.key.level;
    ++s.tiles;
    s.models += t.models;
    s.bytes += t.bytes;
    sizes[t.key.level].push_back(t.bytes);
  }
  for (auto& [level, v] : sizes) {
    std::sort(v.begin(), v.end());
    levels[level].minBytes = v.front();
    levels[level].medianBytes = v[(v.size() - 1) / 2];
    levels[level].maxBytes = v.back();
  }
  for (const auto& [level, empty] : emptyPerLevel) {
    LevelSummary& s = levels[level];
    s.level = level;
    s.emptyTiles += empty;
  }
  BuildSummary summary;
  summary.models = models;
  summary.seconds = seconds;
  for (const auto& [level, s] : levels) summary.levels.push_back(s);
  summary.largest = tiles;
  const auto larger = [](const TileRecord& a, const TileRecord& b) {
    return a.bytes != b.bytes ? a.bytes > b.bytes : a.key < b.key;
  };
  const std::size_t keep = std::min<std::size_t>(10, summary.largest.size());
  std::partial_sort(summary.largest.begin(), summary.largest.begin() + static_cast<long>(keep), summary.largest.end(),
                    larger);
  summary.largest.resize(keep);
  return summary;
}

std::string FormatBytes(std::uint64_t bytes) {
  char buf[32];
  if (bytes < 1024) {
    std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1024ull * 1024) {
    std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024.0);
  } else if (bytes < 1024ull * 1024 * 1024) {
    std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / 1048576.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.2f GiB", bytes / 1073741824.0);
  }
  return buf;
}

std::string FormatSummaryTable(const BuildSummary& summary) {
  std::string out;
  char line[160];
  std::snprintf(line, sizeof line, "%-7s %10s %10s %10s %12s %10s %10s %10s\n", "level", "tiles", "empty", "models",
                "bytes", "min", "median", "max");
  out += line;
  long tiles = 0, empty = 0, models = 0;
  std::uint64_t bytes = 0;
  for (const LevelSummary& s : summary.levels) {
    std::snprintf(line, sizeof line, "%-7ld %10ld %10ld %10ld %12s %10s %10s %10s\n", s.level, s.tiles, s.emptyTiles,
                  s.models, FormatBytes(s.bytes).c_str(), FormatBytes(s.minBytes).c_str(),
                  FormatBytes(s.medianBytes).c_str(), FormatBytes(s.maxBytes).c_str());
    out += line;
    tiles += s.tiles;
    empty += s.emptyTiles;
    models += s.models;
    bytes += s.bytes;
  }
  std::snprintf(line, sizeof line, "%-7s %10ld %10ld %10ld %12s\n", "total", tiles, empty, models,
                FormatBytes(bytes).c_str());
  out += line;
  if (summary.seconds > 0) {
    std::snprintf(line, sizeof line, "%ld models in %.1f s (%.1f models/s)\n", summary.models, summary.seconds,
                  summary.models / summary.seconds);
  } else {
    std::snprintf(line, sizeof line, "%ld models in %.1f s\n", summary.models, summary.seconds);
  }
  out += line;
  if (!summary.largest.empty()) out += "largest tiles:\n";
  for (const TileRecord& t : summary.largest) {
    std::snprintf(line, sizeof line, "  %10s %6ld models  %s\n", FormatBytes(t.bytes).c_str(), t.models,
                  TilePath(t.key).c_str());
    out += line;
  }
  return out;
}

nlohmann::json SummaryJson(const BuildSummary& summary) {
  nlohmann::json j;
  j["models"] = summary.models;
  j["seconds"] = summary.seconds;
  j["models_per_second"] = summary.seconds > 0 ? nlohmann::json(summary.models / summary.seconds) : nlohmann::json();
  long tiles = 0;
  std::uint64_t bytes = 0;
  j["levels"] = nlohmann::json::array();
  for (const LevelSummary& s : summary.levels) {
    j["levels"].push_back({{"level", s.level},
                           {"tiles", s.tiles},
                           {"empty_tiles", s.emptyTiles},
                           {"models", s.models},
                           {"bytes", s.bytes},
                           {"bytes_min", s.minBytes},
                           {"bytes_median", s.medianBytes},
                           {"bytes_max", s.maxBytes}});
    tiles += s.tiles;
    bytes += s.bytes;
  }
  j["tiles"] = tiles;
  j["bytes"] = bytes;
  j["largest"] = nlohmann::json::array();
  for (const TileRecord& t : summary.largest)
    j["largest"].push_back({{"path", TilePath(t.key)}, {"bytes", t.bytes}, {"models", t.models}});
  return j;
}

}  // namespace kmztool::build
