#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TileSamples.h"
#include "build/Shard.h"
#include "build/Tileset.h"

using kmztool::build::MergeTilesets;
using kmztool::build::ParseTileset;
using kmztool::build::TileRecord;
using kmztool::build::Tileset;
using kmztool::build::TilesetJson;

namespace {

Tileset CityTileset() {
  Tileset t;
  t.settings = {{"source", "samples/city"}, {"levels", {15, 18}}, {"crs", "EPSG:4527"}, {"shard", "1/1"}};
  t.tiles = buildtest::CityTiles();
  return t;
}

std::vector<TileRecord> SortedTiles(std::vector<TileRecord> tiles) {
  std::sort(tiles.begin(), tiles.end(), [](const TileRecord& a, const TileRecord& b) { return a.key < b.key; });
  return tiles;
}

TEST(Tileset, RoundTripsEveryFieldExactlyAndSortsTiles) {
  const Tileset original = CityTileset();
  const std::string text = TilesetJson(original);
  Tileset back;
  std::string error;
  ASSERT_TRUE(ParseTileset(text, back, error)) << error;
  EXPECT_EQ(back.tiles, SortedTiles(original.tiles));  // bounds compare exactly: doubles survive the text
  EXPECT_EQ(back.settings, original.settings);
  // Order of the input does not change the file: equal tile sets give equal bytes.
  Tileset shuffled = original;
  std::reverse(shuffled.tiles.begin(), shuffled.tiles.end());
  EXPECT_EQ(TilesetJson(shuffled), text);
}

TEST(Tileset, ListsPathsAndPerLevelTotals) {
  const nlohmann::json j = nlohmann::json::parse(TilesetJson(CityTileset()));
  EXPECT_EQ(j["format"], "kmztile-tileset");
  ASSERT_EQ(j["levels"].size(), 3u);  // 15, 16, 18
  EXPECT_EQ(j["levels"][0], (nlohmann::json{{"level", 15}, {"tiles", 2}, {"models", 7}, {"bytes", 13000}}));
  EXPECT_EQ(j["levels"][2]["level"], 18);
  EXPECT_EQ(j["levels"][2]["models"], 7);
  EXPECT_EQ(j["tiles"][0]["path"], "tiles/15/4559/26978.kmz");
  EXPECT_EQ(j["tiles"].size(), 9u);
}

TEST(Tileset, EmptyTilesetIsValidJsonAndReadsBack) {
  Tileset empty;
  Tileset back;
  std::string error;
  ASSERT_TRUE(ParseTileset(TilesetJson(empty), back, error)) << error;
  EXPECT_TRUE(back.tiles.empty());
}

TEST(Tileset, RefusesTextThatIsNotAWellFormedTileset) {
  const std::string good = TilesetJson(CityTileset());
  auto refuse = [](const std::string& text) {
    Tileset t;
    std::string error;
    EXPECT_FALSE(ParseTileset(text, t, error)) << text.substr(0, 80);
    EXPECT_FALSE(error.empty());
  };
  refuse("");
  refuse("[1,2]");
  refuse(good.substr(0, good.size() / 2));  // truncated file of an interrupted run
  refuse(R"({"format":"other","version":1,"tiles":[]})");
  refuse(R"({"format":"kmztile-tileset","version":2,"tiles":[]})");
  refuse(R"({"format":"kmztile-tileset","version":1})");
  const std::string tile =
      R"({"format":"kmztile-tileset","version":1,"tiles":[{"level":15,"row":1,"column":2,"models":1,"bytes":10,)";
  refuse(tile + R"("bounds":{"west":1,"south":0,"east":0,"north":1}}]})");    // inverted
  refuse(tile + R"("bounds":{"west":0,"south":0,"east":1}}]})");             // missing north
  refuse(tile + R"("bounds":"x"}]})");
  refuse(R"({"format":"kmztile-tileset","version":1,"tiles":[{"level":-1,"row":1,"column":2,"models":1,"bytes":1,"bounds":{"west":0,"south":0,"east":1,"north":1}}]})");
  refuse(R"({"format":"kmztile-tileset","version":1,"tiles":[{"level":15,"row":1.5,"column":2,"models":1,"bytes":1,"bounds":{"west":0,"south":0,"east":1,"north":1}}]})");
}

TEST(Tileset, MergingShardsGivesTheFullRun) {
  const Tileset full = CityTileset();
  std::vector<Tileset> parts(3);
  for (unsigned k = 1; k <= 3; ++k) {
    parts[k - 1].settings = full.settings;
    parts[k - 1].settings["shard"] = std::to_string(k) + "/3";
    for (const TileRecord& t : full.tiles)
      if (kmztool::build::ShardOf(t.key, 3) == k) parts[k - 1].tiles.push_back(t);
  }
  Tileset merged;
  std::string error;
  ASSERT_TRUE(MergeTilesets(parts, merged, error)) << error;
  Tileset expected = full;
  expected.settings.erase("shard");
  EXPECT_EQ(TilesetJson(merged), TilesetJson(expected));
}

TEST(Tileset, MergeAcceptsRepeatsButRefusesDisagreement) {
  const Tileset full = CityTileset();
  Tileset merged;
  std::string error;
  EXPECT_TRUE(MergeTilesets({full, full}, merged, error));  // a shard listed twice is harmless
  EXPECT_EQ(merged.tiles.size(), full.tiles.size());
  Tileset other = full;
  other.tiles[3].bytes += 1;
  EXPECT_FALSE(MergeTilesets({full, other}, merged, error));
  EXPECT_NE(error.find("tiles/16/9118/53957.kmz"), std::string::npos) << error;
}


// A country's tileset is split into at most 256 parts; together they list
// every tile once, each part lies inside its area, and the index keeps the
// totals of all tiles.
TEST(Tileset, LargeBuildsAreSplitIntoPartsThatListEveryTileOnce) {
  kmztool::build::Tileset all;
  for (long level = 15; level <= 18; ++level) {
    const int shift = static_cast<int>(18 - level);
    for (long r = 36000 >> shift; r <= (36000 + 199) >> shift; ++r)
      for (long c = 215000 >> shift; c <= (215000 + 299) >> shift; ++c) all.tiles.push_back(buildtest::Tile(level, r, c, 1, 100));
  }
  const auto small = kmztool::build::TilesetFiles(all, all.tiles.size());
  ASSERT_EQ(small.size(), 1u);
  const auto files = kmztool::build::TilesetFiles(all, 1000);
  ASSERT_GT(files.size(), 2u);
  ASSERT_EQ(files.front().first, "tileset.json");
  const nlohmann::json index = nlohmann::json::parse(files.front().second);
  EXPECT_LE(index["parts"].size(), 256u);
  EXPECT_EQ(index["parts"].size(), files.size() - 1);
  long totalTiles = 0;
  for (const auto& level : index["levels"]) totalTiles += level["tiles"].get<long>();
  EXPECT_EQ(totalTiles, static_cast<long>(all.tiles.size()));
  std::set<kmztool::build::TileKey> seen;
  for (size_t i = 1; i < files.size(); ++i) {
    kmztool::build::Tileset part;
    std::string error;
    ASSERT_TRUE(kmztool::build::ParseTileset(files[i].second, part, error)) << error;
    const nlohmann::json& area = index["parts"][i - 1]["area"];
    EXPECT_EQ(index["parts"][i - 1]["path"], files[i].first);
    for (const auto& t : part.tiles) {
      EXPECT_TRUE(seen.insert(t.key).second) << "listed twice";
      const int shift = static_cast<int>(t.key.level - area["level"].get<long>());
      EXPECT_EQ(t.key.row >> shift, area["row"].get<long>());
      EXPECT_EQ(t.key.column >> shift, area["column"].get<long>());
    }
  }
  EXPECT_EQ(seen.size(), all.tiles.size());
}
}  // namespace
