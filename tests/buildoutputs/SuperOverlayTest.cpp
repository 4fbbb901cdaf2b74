// The super-overlay: every file parses, every tile is reached exactly once
// from root.kml with its own box and its level's band, levels hand over
// without gap or overlap, and no file holds more than a bounded number of
// links however many tiles there are.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "TileSamples.h"
#include "build/SuperOverlay.h"
#include "kml/dom.h"

using kmztool::build::ForEachOverlayFile;
using kmztool::build::LodBand;
using kmztool::build::LodBandOf;
using kmztool::build::OverlayFile;
using kmztool::build::RootKmlOptions;
using kmztool::build::TileRecord;

namespace {

struct ParsedLink {
  double north, south, east, west, minLod, maxLod;
  bool onRegion;
};

// Every file of the overlay as text, by path.
std::map<std::string, std::string> OverlayTexts(const std::vector<TileRecord>& tiles, const RootKmlOptions& options,
                                                std::size_t maxRootLinks = kmztool::build::kMaxRootLinks) {
  std::map<std::string, std::string> files;
  ForEachOverlayFile(tiles, options, maxRootLinks, [&](const OverlayFile& f) {
    EXPECT_TRUE(files.emplace(f.path, kmztool::build::OverlayFileText(f, tiles, options)).second) << f.path;
  });
  return files;
}

// Parses every file with libkml and follows the links from root.kml: the
// tiles reached, by path below the output folder, each at most once.
std::map<std::string, ParsedLink> Follow(const std::map<std::string, std::string>& files, std::string& rootName) {
  std::map<std::string, ParsedLink> tiles;
  std::vector<std::string> queue = {"root.kml"};
  std::set<std::string> visited;
  for (size_t i = 0; i < queue.size(); ++i) {
    EXPECT_TRUE(visited.insert(queue[i]).second) << "linked twice: " << queue[i];
    const auto text = files.find(queue[i]);
    if (text == files.end()) {
      ADD_FAILURE() << "links a missing file " << queue[i];
      continue;
    }
    std::string errors;
    const kmldom::KmlPtr kml = kmldom::AsKml(kmldom::Parse(text->second, &errors));
    const kmldom::DocumentPtr doc = kml ? kmldom::AsDocument(kml->get_feature()) : nullptr;
    EXPECT_TRUE(doc) << queue[i] << errors;
    if (!doc) continue;
    if (i == 0) rootName = doc->get_name();
    const std::filesystem::path folder = std::filesystem::path(queue[i]).parent_path();
    for (size_t j = 0; j < doc->get_feature_array_size(); ++j) {
      const kmldom::NetworkLinkPtr link = kmldom::AsNetworkLink(doc->get_feature_array_at(j));
      EXPECT_TRUE(link && link->has_region() && link->has_link());
      if (!link || !link->has_region() || !link->has_link()) continue;
      const std::string target = (folder / link->get_link()->get_href()).lexically_normal().string();
      if (target.size() > 4 && target.compare(target.size() - 4, 4, ".kml") == 0) {
        queue.push_back(target);
        continue;
      }
      const auto box = link->get_region()->get_latlonaltbox();
      const auto lod = link->get_region()->get_lod();
      EXPECT_EQ(tiles.count(target), 0u) << "tile reached twice: " << target;
      tiles[target] = {box->get_north(), box->get_south(), box->get_east(), box->get_west(), lod->get_minlodpixels(),
                       lod->get_maxlodpixels(),
                       link->get_link()->get_viewrefreshmode() == kmldom::VIEWREFRESHMODE_ONREGION};
    }
  }
  EXPECT_EQ(visited.size(), files.size()) << "files no link reaches";
  return tiles;
}

}  // namespace

TEST(SuperOverlay, EveryTileIsReachedOnceFromTheRootWithItsBox) {
  const std::vector<TileRecord> tiles = buildtest::CityTiles();
  RootKmlOptions options;
  options.name = "Beijing <sample> & more";
  for (const std::size_t maxRoot : {std::size_t{256}, std::size_t{1}}) {  // 1: group files above level 15
    const auto files = OverlayTexts(tiles, options, maxRoot);
    EXPECT_NE(files.at("root.kml").find("<LookAt>"), std::string::npos);  // opening it flies to the tiles
    std::string name;
    const auto reached = Follow(files, name);
    EXPECT_EQ(name, options.name);  // escaped on the way out, restored by the parser
    ASSERT_EQ(reached.size(), tiles.size());
    for (const TileRecord& t : tiles) {
      const auto it = reached.find(kmztool::build::TilePath(t.key));
      ASSERT_NE(it, reached.end()) << kmztool::build::TilePath(t.key);
      EXPECT_DOUBLE_EQ(it->second.north, t.north);
      EXPECT_DOUBLE_EQ(it->second.south, t.south);
      EXPECT_DOUBLE_EQ(it->second.east, t.east);
      EXPECT_DOUBLE_EQ(it->second.west, t.west);
      EXPECT_TRUE(it->second.onRegion);
    }
  }
}

TEST(SuperOverlay, LevelsHandOverWithoutGapOrOverlap) {
  // Built levels 15, 16 and 18 (17 skipped). A tile is shown while its size
  // on screen lies in [min, max); its child tiles are 2^gap times smaller, so
  // the finer level must start exactly where the coarser one stops.
  const std::vector<TileRecord> tiles = buildtest::CityTiles();
  std::string name;
  const auto reached = Follow(OverlayTexts(tiles, RootKmlOptions{}), name);
  std::map<long, std::pair<double, double>> bands;
  for (const TileRecord& t : tiles) {
    const ParsedLink& link = reached.at(kmztool::build::TilePath(t.key));
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

TEST(SuperOverlay, BandsOfSingleAndUnknownLevels) {
  const LodBand only = LodBandOf(17, {17}, 256);
  EXPECT_EQ(only.minPixels, 64);
  EXPECT_EQ(only.maxPixels, -1);
  const LodBand unknown = LodBandOf(14, {15, 16}, 256);
  EXPECT_EQ(unknown.minPixels, 0);
  EXPECT_EQ(unknown.maxPixels, -1);
}

TEST(SuperOverlay, NoTilesGiveAnEmptyButValidRoot) {
  const auto files = OverlayTexts({}, RootKmlOptions{});
  ASSERT_EQ(files.size(), 1u);
  std::string name;
  EXPECT_TRUE(Follow(files, name).empty());
  EXPECT_EQ(name, "kmztile");
}

// A country: a million tiles over levels 15 to 18 (every level-18 tile of a
// block and its ancestors), planned but never built. No file the client
// loads holds more than the root's bound, every other file a tile and its
// four children; every tile is linked once.
TEST(SuperOverlay, AMillionTilesKeepEveryFileSmall) {
  std::vector<TileRecord> tiles;
  const long rows = 800, columns = 1000, row0 = 36000, column0 = 215000;
  for (long level = 15; level <= 18; ++level) {
    const int shift = static_cast<int>(18 - level);
    for (long r = row0 >> shift; r <= (row0 + rows - 1) >> shift; ++r)
      for (long c = column0 >> shift; c <= (column0 + columns - 1) >> shift; ++c)
        tiles.push_back(buildtest::Tile(level, r, c, 1, 1000));
  }
  ASSERT_GT(tiles.size(), 1000000u);
  std::size_t files = 0, tileLinks = 0, indexLinks = 0, most = 0;
  ForEachOverlayFile(tiles, RootKmlOptions{}, kmztool::build::kMaxRootLinks, [&](const OverlayFile& f) {
    ++files;
    if (f.path == "root.kml") EXPECT_LE(f.links.size(), kmztool::build::kMaxRootLinks);
    else most = std::max(most, f.links.size());
    for (const auto& l : f.links) (l.href.size() > 4 && l.href.compare(l.href.size() - 4, 4, ".kmz") == 0 ? tileLinks : indexLinks)++;
  });
  EXPECT_LE(most, 5u);
  EXPECT_EQ(tileLinks, tiles.size());
  EXPECT_EQ(indexLinks, files - 1);  // every file but the root is linked once
}
