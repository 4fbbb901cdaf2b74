#include <gtest/gtest.h>

#include <map>
#include <set>

#include "TileSamples.h"
#include "build/RootKml.h"
#include "kml/dom.h"

using kmztool::build::LodBand;
using kmztool::build::LodBandOf;
using kmztool::build::RootKml;
using kmztool::build::RootKmlOptions;
using kmztool::build::TileRecord;

namespace {

struct ParsedLink {
  std::string folder;
  double north, south, east, west, minLod, maxLod;
  std::string refreshMode;
};

/** Parses root.kml with libkml and collects every NetworkLink by href. */
std::map<std::string, ParsedLink> ParseLinks(const std::string& kml, std::string& documentName) {
  std::string errors;
  const kmldom::ElementPtr root = kmldom::Parse(kml, &errors);
  EXPECT_TRUE(root) << errors;
  std::map<std::string, ParsedLink> links;
  const kmldom::KmlPtr k = kmldom::AsKml(root);
  if (!k) return links;
  const kmldom::DocumentPtr doc = kmldom::AsDocument(k->get_feature());
  EXPECT_TRUE(doc);
  if (!doc) return links;
  documentName = doc->get_name();
  for (size_t i = 0; i < doc->get_feature_array_size(); ++i) {
    const kmldom::FolderPtr folder = kmldom::AsFolder(doc->get_feature_array_at(i));
    EXPECT_TRUE(folder);
    if (!folder) continue;
    for (size_t j = 0; j < folder->get_feature_array_size(); ++j) {
      const kmldom::NetworkLinkPtr link = kmldom::AsNetworkLink(folder->get_feature_array_at(j));
      EXPECT_TRUE(link && link->has_region() && link->has_link());
      if (!link || !link->has_region() || !link->has_link()) continue;
      const kmldom::RegionPtr region = link->get_region();
      EXPECT_TRUE(region->has_latlonaltbox() && region->has_lod());
      const kmldom::LatLonAltBoxPtr box = region->get_latlonaltbox();
      const kmldom::LodPtr lod = region->get_lod();
      const std::string href = link->get_link()->get_href();
      EXPECT_EQ(links.count(href), 0u) << "linked twice: " << href;
      links[href] = {folder->get_name(),        box->get_north(),        box->get_south(),
                     box->get_east(),           box->get_west(),         lod->get_minlodpixels(),
                     lod->get_maxlodpixels(),   link->get_link()->get_viewrefreshmode() == kmldom::VIEWREFRESHMODE_ONREGION ? "onRegion" : "other"};
    }
  }
  return links;
}

TEST(RootKml, ParsesWithLibkmlAndLinksEveryTileOnceWithItsBox) {
  const std::vector<TileRecord> tiles = buildtest::CityTiles();
  RootKmlOptions options;
  options.name = "Beijing <sample> & more";
  std::string name;
  const std::string kml = RootKml(tiles, options);
  const auto links = ParseLinks(kml, name);
  EXPECT_NE(kml.find("<LookAt>"), std::string::npos);  // opening it flies to the tiles
  EXPECT_EQ(name, options.name);  // escaped on the way out, restored by the parser
  ASSERT_EQ(links.size(), tiles.size());
  for (const TileRecord& t : tiles) {
    const auto it = links.find(kmztool::build::TilePath(t.key));
    ASSERT_NE(it, links.end()) << kmztool::build::TilePath(t.key);
    EXPECT_EQ(it->second.folder, "Level " + std::to_string(t.key.level));
    EXPECT_DOUBLE_EQ(it->second.north, t.north);
    EXPECT_DOUBLE_EQ(it->second.south, t.south);
    EXPECT_DOUBLE_EQ(it->second.east, t.east);
    EXPECT_DOUBLE_EQ(it->second.west, t.west);
    EXPECT_EQ(it->second.refreshMode, "onRegion");
  }
}

TEST(RootKml, LevelsHandOverWithoutGapOrOverlap) {
  // Built levels 15, 16 and 18 (17 skipped). A tile is shown while its size
  // on screen lies in [min, max); its child tiles are 2^gap times smaller, so
  // the finer level must start exactly where the coarser one stops.
  const std::vector<TileRecord> tiles = buildtest::CityTiles();
  std::string name;
  const auto links = ParseLinks(RootKml(tiles, RootKmlOptions{}), name);
  std::map<long, std::pair<double, double>> bands;
  for (const TileRecord& t : tiles) {
    const ParsedLink& link = links.at(kmztool::build::TilePath(t.key));
    const auto [it, inserted] = bands.emplace(t.key.level, std::make_pair(link.minLod, link.maxLod));
    if (!inserted) {
      EXPECT_EQ(it->second, std::make_pair(link.minLod, link.maxLod)) << "one band per level";
    }
  }
  ASSERT_EQ(bands.size(), 3u);
  EXPECT_EQ(bands[15].second, bands[16].first * 2);  // parent's max = child's min in parent pixels
  EXPECT_EQ(bands[16].second, bands[18].first * 4);  // two levels down: 4 times smaller
  EXPECT_LT(bands[15].first, bands[15].second);
  EXPECT_GT(bands[15].first, 0);
  EXPECT_EQ(bands[18].second, -1);  // the finest level stays once reached
}

TEST(RootKml, BandsOfSingleAndUnknownLevels) {
  const LodBand only = LodBandOf(17, {17}, 256);
  EXPECT_EQ(only.minPixels, 64);
  EXPECT_EQ(only.maxPixels, -1);
  const LodBand unknown = LodBandOf(14, {15, 16}, 256);
  EXPECT_EQ(unknown.minPixels, 0);
  EXPECT_EQ(unknown.maxPixels, -1);
}

TEST(RootKml, NoTilesGiveAnEmptyButValidDocument) {
  std::string name;
  EXPECT_TRUE(ParseLinks(RootKml({}, RootKmlOptions{}), name).empty());
  EXPECT_EQ(name, "kmztile");
}

}  // namespace
