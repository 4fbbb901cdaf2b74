// What `merge` accepts: the records of all N shards of one build, agreeing
// with each other and with the build's last run; everything else is refused
// with the shards or files at fault named.
#include <gtest/gtest.h>

#include <map>

#include "TileSamples.h"
#include "build/ShardRecords.h"

using namespace kmztool::build;

namespace {

using Files = std::map<std::string, std::string>;

const nlohmann::json kSettings = {{"levels", {15, 18}}, {"crs", "EPSG:4527"}};

// The records three shards write for the sample tiles, all from state "s1".
Files ThreeShards(const std::vector<TileRecord>& tiles) {
  Files files;
  for (unsigned k = 1; k <= 3; ++k) {
    Tileset part;
    part.settings = kSettings;
    for (const TileRecord& t : tiles)
      if (ShardOfTile(t.key, 3) == k) part.tiles.push_back(t);
    files[ShardRecordName({k, 3})] = ShardRecordText(part, {k, 3}, "s1");
  }
  return files;
}

std::string Refusal(const Files& files, const std::string& state = "s1") {
  Tileset merged;
  std::string error;
  EXPECT_FALSE(JoinShardRecords(files, state, merged, error));
  EXPECT_FALSE(error.empty());
  return error;
}

}  // namespace

TEST(ShardRecords, NamesRoundTripAndOtherSpellingsAreNotRecords) {
  Shard s;
  ASSERT_TRUE(ParseShardRecordName(ShardRecordName({12, 40}), s));
  EXPECT_EQ(s.index, 12u);
  EXPECT_EQ(s.count, 40u);
  for (const char* other : {"tileset-shard-01-of-3.json", "tileset-shard-1-of-3.json.partial", "tileset-shard-4-of-3.json",
                            "tileset-shard-0-of-3.json", "tileset-shard-1-of-.json", "tileset-shard--of-3.json",
                            "tileset.json", "tileset-shard-1of3.json", "tileset-shard-+1-of-3.json"})
    EXPECT_FALSE(ParseShardRecordName(other, s)) << other;
}

TEST(ShardRecords, AllShardsOfOneStateMergeIntoTheWholeBuild) {
  const auto tiles = buildtest::CityTiles();
  Files files = ThreeShards(tiles);
  files["tileset.json"] = "not a record, left aside";
  files["tileset-shard-01-of-3.json"] = "not a record either";
  Tileset merged;
  std::string error;
  ASSERT_TRUE(JoinShardRecords(files, "s1", merged, error)) << error;
  Tileset whole;
  whole.settings = kSettings;
  whole.tiles = tiles;
  EXPECT_EQ(TilesetJson(merged), TilesetJson(whole));
}

TEST(ShardRecords, RefusesIncompleteMixedStaleOrForeignRecords) {
  const auto tiles = buildtest::CityTiles();
  const Files all = ThreeShards(tiles);

  EXPECT_NE(Refusal({}).find("no shard has finished"), std::string::npos);

  Files missing = all;
  missing.erase(ShardRecordName({2, 3}));
  std::string error = Refusal(missing);
  EXPECT_NE(error.find("1 of 3 shards have not finished: 2/3 (no tileset-shard-2-of-3.json)"), std::string::npos) << error;
  missing.erase(ShardRecordName({3, 3}));
  error = Refusal(missing);
  EXPECT_NE(error.find("2 of 3 shards have not finished: 2/3, 3/3"), std::string::npos) << error;

  Files mixed = all;
  mixed[ShardRecordName({1, 4})] = all.begin()->second;
  error = Refusal(mixed);
  EXPECT_NE(error.find("different numbers of shards"), std::string::npos) << error;
  EXPECT_NE(error.find("tileset-shard-1-of-4.json (4 shards)"), std::string::npos) << error;

  error = Refusal(all, "s2");  // every shard built before the last run's change
  EXPECT_NE(error.find("1/3, 2/3, 3/3 were built before"), std::string::npos) << error;
  Files oneStale = all;
  {
    Tileset part;
    part.settings = kSettings;
    oneStale[ShardRecordName({2, 3})] = ShardRecordText(part, {2, 3}, "s0");
  }
  error = Refusal(oneStale);
  EXPECT_NE(error.find("shard(s) 2/3 were built before"), std::string::npos) << error;

  Files otherLevels = all;
  {
    Tileset part;
    part.settings = {{"levels", {16, 18}}, {"crs", "EPSG:4527"}};
    otherLevels[ShardRecordName({3, 3})] = ShardRecordText(part, {3, 3}, "s1");
  }
  error = Refusal(otherLevels);
  EXPECT_NE(error.find("tileset-shard-3-of-3.json was built with the settings"), std::string::npos) << error;

  Files renamed = all;  // shard 1's record copied over shard 2's
  renamed[ShardRecordName({2, 3})] = all.at(ShardRecordName({1, 3}));
  error = Refusal(renamed);
  EXPECT_NE(error.find("tileset-shard-2-of-3.json: not the record of shard 2/3"), std::string::npos) << error;

  // A tile listed by a shard that does not build it (a record of an older,
  // differently sharded version).
  Files foreign = all;
  const TileRecord stray = tiles.front();
  const unsigned owner = ShardOfTile(stray.key, 3), other = owner % 3 + 1;
  {
    Tileset part;
    part.settings = kSettings;
    part.tiles = {stray};
    foreign[ShardRecordName({other, 3})] = ShardRecordText(part, {other, 3}, "s1");
  }
  error = Refusal(foreign);
  EXPECT_NE(error.find("lists tile " + TilePath(stray.key) + ", which shard " + std::to_string(owner) + "/3 builds"),
            std::string::npos)
      << error;

  Files typed = all;  // a hand-edited record: numbers as text
  typed[ShardRecordName({2, 3})] =
      R"({"format":"kmztile-tileset","version":1,"settings":{"shard":{"index":"2","count":3,"state":"s1"}},"tiles":[]})";
  error = Refusal(typed);
  EXPECT_NE(error.find("tileset-shard-2-of-3.json: not the record of shard 2/3"), std::string::npos) << error;

  Files broken = all;
  broken[ShardRecordName({3, 3})] = "{\"format\": \"kmztile-tileset\", \"tiles\": [";
  error = Refusal(broken);
  EXPECT_EQ(error.rfind("tileset-shard-3-of-3.json: ", 0), 0u) << error;
}
