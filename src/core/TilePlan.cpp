#include "core/detail/TilePlan.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "tiles/detail/TileOfPoint.h"

namespace kmztile::core {

std::pair<long, long> AreaOf(long level, long row, long column, long areaLevel) {
  const int shift = static_cast<int>(level - areaLevel);
  return {row >> shift, column >> shift};
}

std::vector<PlannedTile> PlanTiles(const std::vector<PlanPoint>& points, long minLevel, long maxLevel) {
  std::vector<PlannedTile> plan;
  for (long level = minLevel; level <= maxLevel; ++level) {
    const double size = tiles::detail::GeographicTileSize(level);
    std::map<std::pair<long, long>, std::vector<std::size_t>> cells;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const auto cell = tiles::detail::TileOfPoint(points[i].longitude, points[i].latitude, size);
      if (cell) cells[{cell->row, cell->column}].push_back(i);
    }
    for (auto& [cell, models] : cells) {
      const auto area = AreaOf(level, cell.first, cell.second, minLevel);
      plan.push_back({level, cell.first, cell.second, area.first, area.second, std::move(models)});
    }
  }
  std::sort(plan.begin(), plan.end(), [](const PlannedTile& a, const PlannedTile& b) {
    return std::tie(a.areaRow, a.areaColumn, a.level, a.row, a.column) <
           std::tie(b.areaRow, b.areaColumn, b.level, b.row, b.column);
  });
  return plan;
}

std::vector<TileGroup> GroupByAreaHeaviestFirst(const std::vector<PlannedTile>& plan) {
  std::vector<TileGroup> groups;
  std::vector<std::size_t> weights;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const bool newArea = i == 0 || plan[i].areaRow != plan[i - 1].areaRow || plan[i].areaColumn != plan[i - 1].areaColumn;
    if (newArea) groups.push_back({i, i}), weights.push_back(0);
    groups.back().second = i + 1;
    weights.back() += plan[i].models.size();
  }
  std::vector<std::size_t> order(groups.size());
  for (std::size_t g = 0; g < order.size(); ++g) order[g] = g;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return weights[a] > weights[b]; });
  std::vector<TileGroup> sorted;
  sorted.reserve(order.size());
  for (const std::size_t g : order) sorted.push_back(groups[g]);
  return sorted;
}

}  // namespace kmztile::core
