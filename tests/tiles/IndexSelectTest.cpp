// Tile index arithmetic, the geographic pyramid, and tile selection.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "TileFixture.h"
#include "platform/ComObject.h"
#include "tiles/detail/TileOfPoint.h"

using kmztest::CoordLine;
using kmztest::TileFolderTest;

namespace {

// A pyramid whose extent is chosen by the test.
class ExtentPyramid final : public kmztile::platform::ComObject<IPyramid, IID_IPyramid> {
 public:
  explicit ExtentPyramid(double width) : width_(width) {}
  HRESULT GetTileBounds(long, long, long, double*, double*, double*, double*, VARIANT_BOOL* valid) override {
    *valid = VARIANT_FALSE;
    return S_OK;
  }
  HRESULT GetPyramidExtent(double* w, double* s, double* e, double* n) override {
    *w = -180;
    *s = -90;
    *e = -180 + width_;
    *n = 90;
    return S_OK;
  }

 private:
  double width_;
};

struct Range {
  long firstRow = -99, firstColumn = -99, lastRow = -99, lastColumn = -99;
};

Range Index(double w, double e, double s, double n, long level, IPyramidPtr pyramid = CreateGeographicPyramid()) {
  CBaseParser parser;
  Range r;
  parser.TileIndex(w, e, s, n, level, std::move(pyramid), &r.firstRow, &r.firstColumn, &r.lastRow, &r.lastColumn);
  return r;
}

}  // namespace

TEST(TileIndex, CoversAnExtentWithTruncationTowardZero) {
  Range r = Index(100, 110, 30, 40, 2);
  EXPECT_EQ(0, r.firstRow);
  EXPECT_EQ(0, r.lastRow);
  EXPECT_EQ(3, r.firstColumn);
  EXPECT_EQ(3, r.lastColumn);

  // An edge on a tile boundary belongs to the tile south or east of it.
  r = Index(0, 0, -90, -90, 1);
  EXPECT_EQ(1, r.firstColumn);
  EXPECT_EQ(1, r.lastRow);

  // Up to one tile beyond the origin still truncates to 0; further gives -1. Not clamped.
  r = Index(-185, -300, 30, 95, 2);
  EXPECT_EQ(0, r.firstColumn);
  EXPECT_EQ(-1, r.lastColumn);
  EXPECT_EQ(0, r.firstRow);

  // Swapped extents are not detected: the first index exceeds the last.
  r = Index(110, 100, 40, 30, 6);
  EXPECT_GT(r.firstColumn, r.lastColumn);
  EXPECT_GT(r.firstRow, r.lastRow);

  // A negative level gives tiles larger than the extent.
  r = Index(179, 179, -89, -89, -1);
  EXPECT_EQ(0, r.lastColumn);
  EXPECT_EQ(0, r.lastRow);

  // Level 18, a real city block: the tile size is 360 / 2^18 degrees.
  r = Index(116.391234, 116.391234, 39.907456, 39.907456, 18);
  const double size = 360.0 / 262144.0;
  EXPECT_EQ(static_cast<long>((116.391234 + 180) / size), r.firstColumn);
  EXPECT_EQ(static_cast<long>((90 - 39.907456) / size), r.firstRow);
}

TEST(TileIndex, UsesOnlyTheExtentWidthAndSurvivesADegeneratePyramid) {
  Range r = Index(0, 0, 0, 0, 0, IPyramidPtr(new ExtentPyramid(90)));  // tiles of 90 degrees at level 0
  EXPECT_EQ(2, r.firstColumn);
  EXPECT_EQ(1, r.firstRow);
  r = Index(10, 20, 10, 20, 3, IPyramidPtr(new ExtentPyramid(0)));  // no width: saturates, never undefined
  EXPECT_NE(-99, r.firstRow);
}

TEST(TileIndex, NullPyramidRaisesBeforeWritingOutputs) {
  CBaseParser parser;
  long a = 7, b = 7, c = 7, d = 7;
  try {
    parser.TileIndex(0, 1, 0, 1, 3, IPyramidPtr(), &a, &b, &c, &d);
    FAIL() << "no _com_error";
  } catch (const _com_error& e) {
    EXPECT_EQ(E_POINTER, e.Error());
  }
  EXPECT_EQ(7, a + b + c + d - 21);
}

TEST(GeographicPyramid, BoundsValidityAndExtent) {
  IPyramidPtr p = CreateGeographicPyramid();
  double w = 0, s = 0, e = 0, n = 0;
  VARIANT_BOOL valid = VARIANT_FALSE;
  p->GetTileBounds(2, 0, 3, &w, &s, &e, &n, &valid);
  EXPECT_NE(VARIANT_FALSE, valid);
  EXPECT_DOUBLE_EQ(90, w);
  EXPECT_DOUBLE_EQ(180, e);
  EXPECT_DOUBLE_EQ(90, n);
  EXPECT_DOUBLE_EQ(0, s);
  for (auto [level, row, column] : {std::tuple{2L, 2L, 0L}, {2L, 0L, 4L}, {2L, -1L, 0L}, {-1L, 0L, 0L}}) {
    p->GetTileBounds(level, row, column, &w, &s, &e, &n, &valid);
    EXPECT_EQ(VARIANT_FALSE, valid) << level << " " << row << " " << column;
  }
  p->GetPyramidExtent(&w, &s, &e, &n);
  EXPECT_DOUBLE_EQ(360, e - w);
}

TEST_F(TileFolderTest, SelectionKeepsPointsOfTheTileInFileOrder) {
  IPyramidPtr pyramid = CreateGeographicPyramid();
  // Tile 2-0-3 spans 90..180 east, 0..90 north; 2-0-2 lies west of it.
  // A tile owns its west and north edges, its neighbours the east and south ones.
  WriteCoords({{"b.kmz", 100, 40},
               {"edge.kmz", 90, 40},
               {"a.kmz", 120.5, 10},
               {"b.kmz", 100, 40},
               {"north.kmz", 100, 90},
               {"east.kmz", 180, 30},
               {"south.kmz", 100, 0},
               {"west.kmz", 45, 40}});
  std::vector<std::string> selected{"kept"};
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 0, 3, &selected));
  EXPECT_EQ((std::vector<std::string>{"kept", "b.kmz", "edge.kmz", "a.kmz", "b.kmz", "north.kmz", "east.kmz"}),
            selected);

  std::vector<std::string> west, south;
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 0, 2, &west));
  EXPECT_EQ((std::vector<std::string>{"west.kmz"}), west);
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 1, 3, &south));
  EXPECT_EQ((std::vector<std::string>{"south.kmz"}), south);
}

TEST_F(TileFolderTest, SelectionFailsWithoutBoundsOrInput) {
  WriteCoords({{"a.kmz", 100, 40}});
  std::vector<std::string> selected{"x"};
  EXPECT_FALSE(CBaseParserTestAccess::SelectKml(parser_, "", CreateGeographicPyramid(), 2, 0, 3, &selected));
  EXPECT_FALSE(CBaseParserTestAccess::SelectKml(parser_, coords_, IPyramidPtr(), 2, 0, 3, &selected));
  EXPECT_FALSE(CBaseParserTestAccess::SelectKml(parser_, coords_, CreateGeographicPyramid(), 2, 5, 3, &selected));
  // A coordinates file that cannot be opened is a missing input, not an empty tile.
  EXPECT_FALSE(
      CBaseParserTestAccess::SelectKml(parser_, work_ + "missing.txt", CreateGeographicPyramid(), 2, 0, 3, &selected));
  EXPECT_EQ((std::vector<std::string>{"x"}), selected);
}

TEST_F(TileFolderTest, SelectionReadsOddCountsAndNumbersLikeTheRuntime) {
  IPyramidPtr pyramid = CreateGeographicPyramid();
  for (const char* count : {"0", "-2", "many", " "}) {
    WriteCoords({{"a.kmz", 100, 40}}, count);
    kmztile::tiles::detail::ForgetCoordinates();
    std::vector<std::string> selected;
    EXPECT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 0, 3, &selected)) << count;
    EXPECT_TRUE(selected.empty()) << count;
  }
  // Text after a number is ignored; names keep no CR of the CR LF line ends.
  kmztest::WriteFile(coords_, "2\r\nwith space.kmz\r\n116.5 east\r\n40.25\r\nb.kmz\r\n100\r\n40 \r\n");
  std::vector<std::string> selected;
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 0, 3, &selected));
  EXPECT_EQ((std::vector<std::string>{"with space.kmz", "b.kmz"}), selected);

  // Fewer groups than the count: missing ones read as an empty name at (0, 0),
  // which lies in the tile east of the meridian and south of the equator.
  kmztest::WriteFile(coords_, "5\r\na.kmz\r\n10\r\n10\r\n");
  std::vector<std::string> world, northEast, southEast;
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 0, 0, 0, &world));
  EXPECT_EQ((std::vector<std::string>{"a.kmz", ""}), world);
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 0, 2, &northEast));
  EXPECT_EQ((std::vector<std::string>{"a.kmz"}), northEast);
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 1, 2, &southEast));
  EXPECT_EQ((std::vector<std::string>{""}), southEast);
}

TEST_F(TileFolderTest, KeptCoordinatesAreReadAgainWhenTheFileChanges) {
  IPyramidPtr pyramid = CreateGeographicPyramid();
  WriteCoords({{"a.kmz", 100, 40}, {"b.kmz", 120, 40}});
  std::vector<std::string> first;
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 0, 3, &first));
  const auto kept = kmztile::tiles::detail::LoadCoordinates(coords_);
  EXPECT_EQ(kept, kmztile::tiles::detail::LoadCoordinates(coords_));  // not parsed again

  // Same size, new content, new modification time.
  WriteCoords({{"c.kmz", 100, 40}, {"d.kmz", 120, 40}});
  std::filesystem::last_write_time(coords_, std::filesystem::last_write_time(coords_) + std::chrono::seconds(5));
  std::vector<std::string> second;
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 0, 3, &second));
  EXPECT_EQ((std::vector<std::string>{"c.kmz", "d.kmz"}), second);

  // A different size is noticed even within the same time stamp.
  const auto stamp = std::filesystem::last_write_time(coords_);
  WriteCoords({{"e.kmz", 100, 40}});
  std::filesystem::last_write_time(coords_, stamp);
  std::vector<std::string> third;
  ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 2, 0, 3, &third));
  EXPECT_EQ((std::vector<std::string>{"e.kmz"}), third);

  // The kept list equals a fresh parse of the file.
  const auto fresh = kmztile::tiles::detail::ParseCoordinates(kmztest::ReadFile(coords_));
  const auto cached = kmztile::tiles::detail::LoadCoordinates(coords_);
  ASSERT_EQ(fresh.models.size(), cached->models.size());
  EXPECT_EQ(fresh.models[0].name, cached->models[0].name);
  EXPECT_EQ(fresh.models[0].longitude, cached->models[0].longitude);
  EXPECT_EQ(fresh.missingGroups, cached->missingGroups);
}

TEST_F(TileFolderTest, SelectionMatchesAScanOfEveryModel) {
  // Points on a coarse grid so that many fall exactly on tile edges, plus repeats.
  std::vector<CoordLine> lines;
  unsigned seed = 12345;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int i = 0; i < 3000; ++i) {
    const double lon = 100.0 + (next() % 2000) * 0.0125 * 0.5;
    const double lat = 30.0 + (next() % 2000) * 0.0125 * 0.5;
    lines.push_back({"m" + std::to_string(i % 2500) + ".kmz", lon, lat});
  }
  WriteCoords(lines);
  IPyramidPtr pyramid = CreateGeographicPyramid();
  long firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
  parser_.TileIndex(100, 112.5, 30, 42.5, 7, pyramid, &firstRow, &firstColumn, &lastRow, &lastColumn);
  size_t total = 0;
  for (long row = firstRow; row <= lastRow; ++row) {
    for (long column = firstColumn; column <= lastColumn; ++column) {
      double w = 0, s = 0, e = 0, n = 0;
      VARIANT_BOOL valid = 0;
      pyramid->GetTileBounds(7, row, column, &w, &s, &e, &n, &valid);
      std::vector<std::string> expected, selected;
      for (const auto& l : lines) {
        // The coordinates file holds six decimals.
        char lon[32], lat[32];
        std::snprintf(lon, sizeof lon, "%f", l.lon);
        std::snprintf(lat, sizeof lat, "%f", l.lat);
        const double x = std::atof(lon), y = std::atof(lat);
        if (w <= x && x < e && s < y && y <= n) expected.push_back(l.name);
      }
      ASSERT_TRUE(CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, 7, row, column, &selected));
      EXPECT_EQ(expected, selected) << row << " " << column;
      total += selected.size();
    }
  }
  EXPECT_EQ(total, lines.size());  // every point, edge points too, in exactly one tile
}

// Every point, random or exactly on a tile edge or corner or on the globe's
// outer edge, is selected by exactly one of the tiles around it at levels 15
// to 18, and that tile is the one TileOfPoint (the build's plan) names.
TEST_F(TileFolderTest, EveryPointIsInExactlyOneTileAndThePlanAgrees) {
  using kmztile::tiles::detail::GeographicTileSize;
  using kmztile::tiles::detail::TileOfPoint;
  std::vector<std::pair<double, double>> points = {{180, -90}, {-180, 90}, {180, 90}, {-180, -90}, {0, 0}, {180, 0}};
  unsigned seed = 777;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int i = 0; i < 300; ++i) {
    // Random points near Beijing, and the same snapped onto edges and corners of some level's grid.
    const double lon = 116.0 + (next() % 1000000) * 1e-6, lat = 39.5 + (next() % 1000000) * 1e-6;
    points.push_back({lon, lat});
    const double size = GeographicTileSize(15 + static_cast<long>(next() % 4));
    const double edgeLon = -180.0 + std::floor((lon + 180.0) / size) * size;
    const double edgeLat = 90.0 - std::floor((90.0 - lat) / size) * size;
    points.push_back({edgeLon, lat});
    points.push_back({lon, edgeLat});
    points.push_back({edgeLon, edgeLat});
  }
  std::string text = std::to_string(points.size()) + "\n";
  for (size_t i = 0; i < points.size(); ++i) {
    char line[128];
    std::snprintf(line, sizeof line, "p%zu\n%.17g\n%.17g\n", i, points[i].first, points[i].second);
    text += line;
  }
  kmztest::WriteFile(coords_, text);
  IPyramidPtr pyramid = CreateGeographicPyramid();
  for (long level = 15; level <= 18; ++level) {
    for (size_t i = 0; i < points.size(); ++i) {
      const auto cell = TileOfPoint(points[i].first, points[i].second, GeographicTileSize(level));
      ASSERT_TRUE(cell) << i;
      const std::string name = "p" + std::to_string(i);
      int holders = 0;
      for (long dr = -1; dr <= 1; ++dr)
        for (long dc = -1; dc <= 1; ++dc) {
          std::vector<std::string> selected;
          if (!CBaseParserTestAccess::SelectKml(parser_, coords_, pyramid, level, cell->row + dr, cell->column + dc,
                                                &selected))
            continue;  // beyond the pyramid
          if (std::find(selected.begin(), selected.end(), name) == selected.end()) continue;
          ++holders;
          EXPECT_TRUE(dr == 0 && dc == 0) << name << " level " << level << " selected by a neighbour";
        }
      EXPECT_EQ(holders, 1) << name << " at " << points[i].first << ", " << points[i].second << " level " << level;
    }
  }
}
