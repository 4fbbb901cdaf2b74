#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "TestSupport.h"
#include "build/OutputFiles.h"
#include "build/Shard.h"
#include "build/ShardEnvironment.h"
#include "core/detail/TilePlan.h"
#include "tiles/detail/TileOfPoint.h"

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

// The build assigns tiles with ShardOf alone; every shard computes the same
// answer for a tile, so the shares are disjoint and complete as long as the
// value lies in 1..N and does not depend on anything but the tile.
TEST(Shard, EveryTileFallsInExactlyOneShardAndTheSharesAreEven) {
  std::vector<TileKey> all = Range(15, 3, 4);
  for (const TileKey& k : Range(18, 15, 25)) all.push_back(k);
  for (const TileKey& k : Range(17, 40, 40)) all.push_back(k);
  for (unsigned n : {2u, 3u, 7u, 16u}) {
    std::vector<size_t> counts(n + 1, 0);
    for (const TileKey& k : all) {
      const unsigned s = ShardOf(k, n);
      ASSERT_GE(s, 1u) << n;
      ASSERT_LE(s, n) << n;
      ++counts[s];
    }
    // A hash split of ~2,000 tiles: each share within 25 % of 1/N.
    for (unsigned k = 1; k <= n; ++k)
      EXPECT_NEAR(static_cast<double>(counts[k]), static_cast<double>(all.size()) / n, 0.25 * all.size() / n)
          << k << "/" << n;
  }
}

// Shards of one build may be run by different versions of the command (a
// cluster upgraded half-way): the assignment is fixed for good. These values
// were computed independently from the published hash (SplitMix64 finaliser
// over level + 0x9E3779B97F4A7C15, then row, then column; shard = h % N + 1).
TEST(Shard, AssignmentIsPinned) {
  struct Pin {
    TileKey key;
    unsigned n2, n3, n8, n16, n1000000;
  };
  const Pin pins[] = {
      {{15, 4559, 26978}, 1, 1, 7, 7, 29831},     {{18, 36473, 215827}, 2, 2, 8, 8, 539864},
      {{0, 0, 0}, 2, 2, 4, 4, 627172},            {{17, 18237, 107913}, 2, 1, 8, 16, 320576},
      {{16, 9118, 53956}, 1, 2, 1, 9, 415657},
  };
  for (const Pin& p : pins) {
    SCOPED_TRACE(std::to_string(p.key.level) + "/" + std::to_string(p.key.row) + "/" + std::to_string(p.key.column));
    EXPECT_EQ(ShardOf(p.key, 1), 1u);
    EXPECT_EQ(ShardOf(p.key, 2), p.n2);
    EXPECT_EQ(ShardOf(p.key, 3), p.n3);
    EXPECT_EQ(ShardOf(p.key, 8), p.n8);
    EXPECT_EQ(ShardOf(p.key, 16), p.n16);
    EXPECT_EQ(ShardOf(p.key, 1000000), p.n1000000);
  }
}

// Shards take whole level-15 areas, so a shard's tiles do not depend on the
// levels a build makes: for random points over a few hundred areas, the
// shard building a planned tile is the shard of the level-15 tile of each of
// its models, and the share of shard K for levels L-18 is exactly the share
// of shard K for 15-18 without the levels above L.
TEST(Shard, ATilesShardIsThatOfItsLevel15AreaWhateverTheLevelsBuilt) {
  using kmztile::core::PlanPoint;
  using kmztile::tiles::detail::GeographicTileSize;
  using kmztile::tiles::detail::TileOfPoint;
  std::vector<PlanPoint> points;
  unsigned seed = 7;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int i = 0; i < 4000; ++i) points.push_back({116.0 + (next() % 200000) * 1e-6, 39.8 + (next() % 200000) * 1e-6});
  for (unsigned n : {2u, 3u, 7u}) {
    std::map<long, std::set<TileKey>> shares;  // first level -> tiles of shard 1
    for (long first = 15; first <= 18; ++first) {
      for (const auto& t : kmztile::core::PlanTiles(points, first, 18)) {
        const TileKey key{t.level, t.row, t.column};
        const unsigned shard = ShardOfTile(key, n);
        for (const std::size_t m : t.models) {
          const auto area = TileOfPoint(points[m].longitude, points[m].latitude, GeographicTileSize(15));
          ASSERT_TRUE(area);
          ASSERT_EQ(shard, ShardOf({15, area->row, area->column}, n)) << t.level << "/" << t.row << "/" << t.column;
        }
        if (shard == 1) shares[first].insert(key);
      }
    }
    ASSERT_GT(shares[18].size(), 10u) << n;
    for (long first = 16; first <= 18; ++first) {
      std::set<TileKey> expected;
      for (const TileKey& k : shares[15])
        if (k.level >= first) expected.insert(k);
      EXPECT_EQ(shares[first], expected) << "--levels " << first << "-18, " << n << " shards";
    }
  }
}

// --shard auto: the task's shard from the variables Slurm job arrays and
// Kubernetes Indexed Jobs set, and a clear refusal for anything else.
TEST(Shard, AutoReadsTheSchedulersEnvironment) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> env;
    unsigned shards;   // --shards, 0 when not given
    unsigned index;    // 0: refused
    unsigned count;
    const char* says;  // part of the refusal
  };
  using Env = std::map<std::string, std::string>;
  const Env array0to2 = {{"SLURM_ARRAY_TASK_MIN", "0"}, {"SLURM_ARRAY_TASK_MAX", "2"},
                         {"SLURM_ARRAY_TASK_COUNT", "3"}, {"SLURM_ARRAY_TASK_STEP", "1"}, {"SLURM_JOB_ID", "41"}};
  const auto with = [](Env env, const char* name, const char* value) {
    env[name] = value;
    return env;
  };
  const auto without = [](Env env, const char* name) {
    env.erase(name);
    return env;
  };
  const Case cases[] = {
      {"first task of 0-2", with(array0to2, "SLURM_ARRAY_TASK_ID", "0"), 0, 1, 3, ""},
      {"last task of 0-2", with(array0to2, "SLURM_ARRAY_TASK_ID", "2"), 0, 3, 3, ""},
      {"--shards agrees", with(array0to2, "SLURM_ARRAY_TASK_ID", "1"), 3, 2, 3, ""},
      {"--shards disagrees", with(array0to2, "SLURM_ARRAY_TASK_ID", "1"), 4, 0, 0, "--shards 4"},
      {"array 1-16", {{"SLURM_ARRAY_TASK_ID", "16"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_MAX", "16"}}, 0, 16, 16, ""},
      {"array 5-9 without a count", {{"SLURM_ARRAY_TASK_ID", "7"}, {"SLURM_ARRAY_TASK_MIN", "5"}, {"SLURM_ARRAY_TASK_MAX", "9"}}, 0, 3, 5, ""},
      {"count without max", {{"SLURM_ARRAY_TASK_ID", "12"}, {"SLURM_ARRAY_TASK_MIN", "10"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 0, 3, 4, ""},
      {"step 3: 4,7,10,13", {{"SLURM_ARRAY_TASK_ID", "10"}, {"SLURM_ARRAY_TASK_MIN", "4"}, {"SLURM_ARRAY_TASK_MAX", "13"},
                             {"SLURM_ARRAY_TASK_STEP", "3"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 0, 3, 4, ""},
      {"id between steps", {{"SLURM_ARRAY_TASK_ID", "5"}, {"SLURM_ARRAY_TASK_MIN", "4"}, {"SLURM_ARRAY_TASK_MAX", "13"},
                            {"SLURM_ARRAY_TASK_STEP", "3"}}, 0, 0, 0, "SLURM_ARRAY_TASK_ID=5"},
      {"bounds off the step", {{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_MIN", "4"}, {"SLURM_ARRAY_TASK_MAX", "12"},
                               {"SLURM_ARRAY_TASK_STEP", "3"}}, 0, 0, 0, "steps of 3"},
      {"uneven list 1,2,7", {{"SLURM_ARRAY_TASK_ID", "2"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_MAX", "7"},
                             {"SLURM_ARRAY_TASK_COUNT", "3"}}, 0, 0, 0, "not evenly spaced"},
      {"id above max", with(array0to2, "SLURM_ARRAY_TASK_ID", "3"), 0, 0, 0, "SLURM_ARRAY_TASK_ID=3"},
      {"id below min", {{"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_MIN", "1"}, {"SLURM_ARRAY_TASK_MAX", "4"}}, 0, 0, 0, "SLURM_ARRAY_TASK_ID=0"},
      {"no min", without(with(array0to2, "SLURM_ARRAY_TASK_ID", "1"), "SLURM_ARRAY_TASK_MIN"), 0, 0, 0, "SLURM_ARRAY_TASK_MIN"},
      {"neither max nor count", {{"SLURM_ARRAY_TASK_ID", "1"}, {"SLURM_ARRAY_TASK_MIN", "1"}}, 0, 0, 0, "SLURM_ARRAY_TASK_COUNT"},
      {"garbage id", with(array0to2, "SLURM_ARRAY_TASK_ID", "1x"), 0, 0, 0, "SLURM_ARRAY_TASK_ID=\"1x\""},
      {"negative id", with(array0to2, "SLURM_ARRAY_TASK_ID", "-1"), 0, 0, 0, "SLURM_ARRAY_TASK_ID=\"-1\""},
      {"empty id", with(array0to2, "SLURM_ARRAY_TASK_ID", ""), 0, 0, 0, "SLURM_ARRAY_TASK_ID=\"\""},
      {"garbage max", with(with(array0to2, "SLURM_ARRAY_TASK_ID", "1"), "SLURM_ARRAY_TASK_MAX", "two"), 0, 0, 0, "SLURM_ARRAY_TASK_MAX"},
      {"huge id", with(array0to2, "SLURM_ARRAY_TASK_ID", "99999999999999999999"), 0, 0, 0, "SLURM_ARRAY_TASK_ID"},
      {"step 0", with(with(array0to2, "SLURM_ARRAY_TASK_ID", "1"), "SLURM_ARRAY_TASK_STEP", "0"), 0, 0, 0, "STEP=0"},
      {"too many tasks", {{"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_MIN", "0"}, {"SLURM_ARRAY_TASK_COUNT", "2000000"}}, 0, 0, 0, "1 to 1000000"},
      {"a Slurm job that is no array", {{"SLURM_JOB_ID", "41"}}, 0, 0, 0, "not a job array"},
      {"Kubernetes index 0", {{"JOB_COMPLETION_INDEX", "0"}}, 5, 1, 5, ""},
      {"Kubernetes index 4", {{"JOB_COMPLETION_INDEX", "4"}}, 5, 5, 5, ""},
      {"Kubernetes index beyond --shards", {{"JOB_COMPLETION_INDEX", "5"}}, 5, 0, 0, "not below --shards 5"},
      {"Kubernetes without --shards", {{"JOB_COMPLETION_INDEX", "2"}}, 0, 0, 0, "--shards N"},
      {"Kubernetes garbage", {{"JOB_COMPLETION_INDEX", " 2"}}, 5, 0, 0, "JOB_COMPLETION_INDEX=\" 2\""},
      {"both schedulers", with(with(array0to2, "SLURM_ARRAY_TASK_ID", "1"), "JOB_COMPLETION_INDEX", "1"), 3, 0, 0, "both"},
      {"no scheduler", {{"HOME", "/root"}}, 0, 0, 0, "no scheduler task"},
      {"no scheduler, --shards alone", {}, 4, 0, 0, "no scheduler task"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto lookup = [&c](const char* name) -> const char* {
      const auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    };
    Shard shard;
    std::string error;
    const bool ok = ShardFromEnvironment(lookup, c.shards, shard, error);
    if (c.index == 0) {
      EXPECT_FALSE(ok) << shard.index << "/" << shard.count;
      EXPECT_NE(error.find(c.says), std::string::npos) << error;
      EXPECT_EQ(error.rfind("--shard auto: ", 0), 0u) << error;
    } else {
      ASSERT_TRUE(ok) << error;
      EXPECT_EQ(shard.index, c.index);
      EXPECT_EQ(shard.count, c.count);
    }
  }
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
