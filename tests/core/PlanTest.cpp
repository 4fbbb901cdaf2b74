// The build plan and its grouping: every point in exactly one planned tile
// per level (the tile the point-in-tile rule names), tiles of one area
// together, areas handed out heaviest first and covering the plan once.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "core/detail/TilePlan.h"
#include "tiles/detail/TileOfPoint.h"

using kmztile::core::PlannedTile;
using kmztile::core::PlanPoint;

namespace {

std::vector<PlanPoint> RandomPoints(unsigned seed, int count) {
  std::vector<PlanPoint> points;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int i = 0; i < count; ++i) {
    PlanPoint p{116.0 + (next() % 100000) * 1e-5, 39.6 + (next() % 100000) * 1e-5};
    // Every fourth point snapped onto a level-15 grid line.
    const double size = kmztile::tiles::detail::GeographicTileSize(15);
    if (i % 4 == 0) p.longitude = -180.0 + std::floor((p.longitude + 180.0) / size) * size;
    points.push_back(p);
  }
  points.push_back({180.0, -90.0});  // the outer corner: last row and column
  points.push_back({200.0, 10.0});   // no longitude: in no tile
  return points;
}

}  // namespace

TEST(TilePlan, EveryPointIsInTheTileItsRuleNamesOncePerLevel) {
  const auto points = RandomPoints(99, 3000);
  const auto plan = kmztile::core::PlanTiles(points, 15, 18);
  std::map<std::pair<long, std::size_t>, int> seen;  // (level, point) -> tiles holding it
  for (size_t i = 0; i < plan.size(); ++i) {
    const PlannedTile& t = plan[i];
    ASSERT_FALSE(t.models.empty());
    EXPECT_TRUE(std::is_sorted(t.models.begin(), t.models.end()));
    const int shift = static_cast<int>(t.level - 15);
    EXPECT_EQ(t.areaRow, t.row >> shift);
    EXPECT_EQ(t.areaColumn, t.column >> shift);
    for (const std::size_t m : t.models) {
      ++seen[{t.level, m}];
      const auto cell = kmztile::tiles::detail::TileOfPoint(points[m].longitude, points[m].latitude,
                                                            kmztile::tiles::detail::GeographicTileSize(t.level));
      ASSERT_TRUE(cell);
      EXPECT_EQ(cell->row, t.row);
      EXPECT_EQ(cell->column, t.column);
    }
    if (i > 0) {
      const PlannedTile& p = plan[i - 1];
      EXPECT_LT(std::tie(p.areaRow, p.areaColumn, p.level, p.row, p.column),
                std::tie(t.areaRow, t.areaColumn, t.level, t.row, t.column));
    }
  }
  for (long level = 15; level <= 18; ++level)
    for (std::size_t m = 0; m + 1 < points.size(); ++m) EXPECT_EQ((seen[{level, m}]), 1) << level << " " << m;
  EXPECT_EQ((seen.count({15, points.size() - 1})), 0u);  // the point beyond 180 is in no tile
}

TEST(TilePlan, AreasAreHandedOutHeaviestFirstAndCoverThePlanOnce) {
  const auto plan = kmztile::core::PlanTiles(RandomPoints(7, 2000), 15, 18);
  const auto groups = kmztile::core::GroupByAreaHeaviestFirst(plan);
  std::vector<int> covered(plan.size(), 0);
  std::size_t previousWeight = SIZE_MAX;
  std::set<std::pair<long, long>> areas;
  for (const auto& [first, last] : groups) {
    ASSERT_LT(first, last);
    std::size_t weight = 0;
    for (std::size_t i = first; i < last; ++i) {
      ++covered[i];
      weight += plan[i].models.size();
      EXPECT_EQ(plan[i].areaRow, plan[first].areaRow);
      EXPECT_EQ(plan[i].areaColumn, plan[first].areaColumn);
    }
    EXPECT_TRUE(areas.insert({plan[first].areaRow, plan[first].areaColumn}).second) << "an area split in two";
    EXPECT_LE(weight, previousWeight);
    previousWeight = weight;
  }
  EXPECT_EQ(std::count(covered.begin(), covered.end(), 1), static_cast<long>(plan.size()));
}
