#include <expat.h>
#include <gtest/gtest.h>

#include <map>

#include "TileSamples.h"
#include "build/OverviewSvg.h"

using kmztool::build::ModelPoint;
using kmztool::build::OverviewOptions;
using kmztool::build::OverviewSvg;

namespace {

/** Counts elements by name (with their class attribute, if any) in well-formed XML. */
struct ElementCounts {
  std::map<std::string, int> counts;
  std::string text;  // all character data
};

bool CountElements(const std::string& xml, ElementCounts& result) {
  struct ParserFree {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
  };
  std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree> parser(XML_ParserCreate(nullptr));
  XML_SetUserData(parser.get(), &result);
  XML_SetElementHandler(
      parser.get(),
      [](void* data, const XML_Char* name, const XML_Char** attrs) {
        auto* r = static_cast<ElementCounts*>(data);
        std::string key = name;
        for (int i = 0; attrs[i]; i += 2)
          if (std::string(attrs[i]) == "class") key += "." + std::string(attrs[i + 1]);
        ++r->counts[key];
      },
      [](void*, const XML_Char*) {});
  XML_SetCharacterDataHandler(parser.get(), [](void* data, const XML_Char* s, int len) {
    static_cast<ElementCounts*>(data)->text.append(s, static_cast<size_t>(len));
  });
  return XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
}

std::vector<ModelPoint> CityPoints(size_t n) {
  std::vector<ModelPoint> points;
  for (size_t i = 0; i < n; ++i)
    points.push_back({116.3782 + 0.0001 * static_cast<double>(i % 50), 39.9110 + 0.0001 * static_cast<double>(i / 50)});
  return points;
}

TEST(OverviewSvg, DrawsAPanelPerLevelWithTilesCountsAndPoints) {
  const auto tiles = buildtest::CityTiles();
  const auto points = CityPoints(17);
  ElementCounts counts;
  ASSERT_TRUE(CountElements(OverviewSvg(tiles, points, OverviewOptions{}), counts));
  EXPECT_EQ(counts.counts["g.level"], 3);                         // levels 15, 16, 18
  EXPECT_EQ(counts.counts["rect.tile"], static_cast<int>(tiles.size()));
  EXPECT_EQ(counts.counts["circle"], 17 * 3);                     // every point on every panel
  EXPECT_GE(counts.counts["text.count"], 2);                      // the big level-15 tiles carry their counts
  EXPECT_NE(counts.text.find("Level 15: 2 tiles, 7 models"), std::string::npos);
  EXPECT_NE(counts.text.find("tiles/18/36476/215830.kmz: 1 models"), std::string::npos);
}

TEST(OverviewSvg, StaysSmallForHugeBuilds) {
  // A country-sized run: 40,000 level-18 tiles and 200,000 models.
  std::vector<kmztool::build::TileRecord> tiles;
  for (long r = 0; r < 200; ++r)
    for (long c = 0; c < 200; ++c) tiles.push_back(buildtest::Tile(18, 36000 + r * 3, 215000 + c * 3, 5, 100));
  std::vector<ModelPoint> points(200000, ModelPoint{116.0, 40.0});
  OverviewOptions options;
  options.maxPoints = 1000;
  const std::string svg = OverviewSvg(tiles, points, options);
  ElementCounts counts;
  ASSERT_TRUE(CountElements(svg, counts));
  EXPECT_EQ(counts.counts["circle"], 1000);
  EXPECT_EQ(counts.counts["line"], 0);  // 600 columns of grid: only the written tiles are outlined
  EXPECT_EQ(counts.counts["rect.tile"], 40000);
}

TEST(OverviewSvg, DegenerateInputsStillGiveAValidPicture) {
  ElementCounts none;
  EXPECT_TRUE(CountElements(OverviewSvg({}, {}, OverviewOptions{}), none));
  ElementCounts onePoint;
  EXPECT_TRUE(CountElements(OverviewSvg({}, {{116.39, 39.91}}, OverviewOptions{}), onePoint));
  ElementCounts oneTile;
  EXPECT_TRUE(CountElements(OverviewSvg({buildtest::Tile(15, 4559, 26978, 0, 0)}, {}, OverviewOptions{}), oneTile));
  EXPECT_EQ(oneTile.counts["rect.tile"], 1);
}

}  // namespace
