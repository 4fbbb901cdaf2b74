#include <gtest/gtest.h>

#include <sstream>

#include "TileSamples.h"
#include "build/Progress.h"
#include "build/Summary.h"

using namespace kmztool::build;

namespace {

TEST(Summary, TotalsPerLevelIncludingEmptyTiles) {
  const BuildSummary s = Summarize(buildtest::CityTiles(), 7, 2.0, {{16, 4}, {17, 9}});
  ASSERT_EQ(s.levels.size(), 4u);  // 15, 16, 17 (empty tiles only), 18
  EXPECT_EQ(s.levels[0].level, 15);
  EXPECT_EQ(s.levels[0].tiles, 2);
  EXPECT_EQ(s.levels[0].models, 7);
  EXPECT_EQ(s.levels[0].bytes, 13000u);
  EXPECT_EQ(s.levels[1].emptyTiles, 4);
  EXPECT_EQ(s.levels[2].level, 17);
  EXPECT_EQ(s.levels[2].tiles, 0);
  EXPECT_EQ(s.levels[2].emptyTiles, 9);
}

TEST(Summary, TableShowsEveryLevelTotalsAndRate) {
  const std::string table = FormatSummaryTable(Summarize(buildtest::CityTiles(), 7, 2.0));
  std::istringstream lines(table);
  std::string header, l15, l16, l18, total, rate;
  std::getline(lines, header);
  std::getline(lines, l15);
  std::getline(lines, l16);
  std::getline(lines, l18);
  std::getline(lines, total);
  std::getline(lines, rate);
  EXPECT_NE(header.find("models"), std::string::npos);
  EXPECT_EQ(l15.substr(0, 2), "15");
  EXPECT_NE(l15.find("12.7 KiB"), std::string::npos) << l15;
  EXPECT_EQ(total.substr(0, 5), "total");
  EXPECT_NE(total.find(" 9 "), std::string::npos) << total;  // 9 tiles
  EXPECT_EQ(rate, "7 models in 2.0 s (3.5 models/s)");
}

TEST(Summary, NoDivisionByZeroForAnInstantRun) {
  const BuildSummary s = Summarize({}, 0, 0.0);
  EXPECT_EQ(FormatSummaryTable(s).find("models/s"), std::string::npos);
  const nlohmann::json j = SummaryJson(s);
  EXPECT_TRUE(j["models_per_second"].is_null());
  EXPECT_EQ(j["tiles"], 0);
}

TEST(Summary, JsonCarriesTheSameFigures) {
  const nlohmann::json j = SummaryJson(Summarize(buildtest::CityTiles(), 7, 2.0, {{18, 1}}));
  EXPECT_EQ(j["models"], 7);
  EXPECT_EQ(j["tiles"], 9);
  EXPECT_EQ(j["bytes"], 25350u);
  EXPECT_DOUBLE_EQ(j["models_per_second"].get<double>(), 3.5);
  ASSERT_EQ(j["levels"].size(), 3u);
  // Level 18 holds tiles of 650, 700, 1400 and 2100 bytes: the median is the lower middle one.
  EXPECT_EQ(j["levels"][2], (nlohmann::json{{"level", 18}, {"tiles", 4}, {"empty_tiles", 1}, {"models", 7}, {"bytes", 4850},
                                            {"bytes_min", 650}, {"bytes_median", 700}, {"bytes_max", 2100}}));
  // The largest tiles, largest first, with their paths; fewer than ten here, so all of them.
  ASSERT_EQ(j["largest"].size(), 9u);
  EXPECT_EQ(j["largest"][0], (nlohmann::json{{"path", "tiles/15/4559/26978.kmz"}, {"bytes", 9000}, {"models", 5}}));
  for (size_t i = 1; i < j["largest"].size(); ++i)
    EXPECT_GE(j["largest"][i - 1]["bytes"].get<long>(), j["largest"][i]["bytes"].get<long>());
}

TEST(Summary, TenLargestOfManyTiles) {
  std::vector<kmztool::build::TileRecord> tiles;
  for (long i = 0; i < 100; ++i) tiles.push_back(buildtest::Tile(18, 36000 + i, 215000, 1, static_cast<std::uint64_t>((i * 37) % 100)));
  const BuildSummary s = Summarize(tiles, 100, 1.0);
  ASSERT_EQ(s.largest.size(), 10u);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(s.largest[i].bytes, 99u - i);
  EXPECT_EQ(s.levels[0].minBytes, 0u);
  EXPECT_EQ(s.levels[0].medianBytes, 49u);
  EXPECT_EQ(s.levels[0].maxBytes, 99u);
  EXPECT_NE(FormatSummaryTable(s).find("largest tiles:\n        99 B      1 models  tiles/18/36027/215000.kmz\n"), std::string::npos)
      << FormatSummaryTable(s);
}

TEST(Summary, ByteUnits) {
  EXPECT_EQ(FormatBytes(0), "0 B");
  EXPECT_EQ(FormatBytes(1023), "1023 B");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(5u * 1048576), "5.0 MiB");
  EXPECT_EQ(FormatBytes(3ull * 1073741824), "3.00 GiB");
}

TEST(Progress, LineShowsDoneTotalRateAndTimeLeft) {
  EXPECT_EQ(FormatProgress(0, 526, 0), "tiles 0/526 (0.0%)");
  EXPECT_EQ(FormatProgress(120, 480, 10), "tiles 120/480 (25.0%)  12.0 tiles/s  0:30 left");
  EXPECT_EQ(FormatProgress(1, 7201, 1), "tiles 1/7201 (0.0%)  1.0 tiles/s  2:00:00 left");
  EXPECT_EQ(FormatProgress(480, 480, 40), "tiles 480/480 (100.0%)  12.0 tiles/s");
  EXPECT_EQ(FormatProgress(0, 0, 0), "tiles 0/0 (100.0%)");
}

TEST(Progress, DisabledLineWritesNothing) {
  std::ostringstream out;
  ProgressLine line(out, false, 10, [] { return 0.0; });
  for (int i = 0; i < 10; ++i) line.Advance();
  line.Finish();
  EXPECT_EQ(line.Done(), 10u);
  EXPECT_TRUE(out.str().empty());
}

TEST(Progress, RedrawsAtMostTenTimesASecondAndAlwaysAtTheEnd) {
  std::ostringstream out;
  double now = 100;
  ProgressLine line(out, true, 1000, [&now] { return now; });
  for (int i = 0; i < 1000; ++i) {
    now += 0.001;  // 1000 tiles in one second
    line.Advance();
  }
  const std::string drawn = out.str();
  const auto redraws = std::count(drawn.begin(), drawn.end(), '\r');
  EXPECT_GE(redraws, 10);
  EXPECT_LE(redraws, 12);
  EXPECT_NE(drawn.rfind("tiles 1000/1000 (100.0%)"), std::string::npos);
  line.Finish();
  // The line is blanked out and the cursor back at its start.
  EXPECT_EQ(out.str().back(), '\r');
}

TEST(Progress, JsonLinesOncePerSecondAndAtTheEnd) {
  std::ostringstream out;
  double now = 0;
  ProgressLine line(out, true, 4, [&now] { return now; });
  line.SetStyle(ProgressLine::Style::Json);
  now = 0.5, line.Advance();  // the first line
  now = 0.9, line.Advance();  // within the second: nothing
  now = 2.0, line.Advance();
  now = 2.1, line.Advance();  // the last tile: always
  line.Finish();
  EXPECT_EQ(out.str(),
            "{\"done\": 1, \"total\": 4, \"tiles_per_second\": 2.00, \"seconds_left\": 1.5}\n"
            "{\"done\": 3, \"total\": 4, \"tiles_per_second\": 1.50, \"seconds_left\": 0.7}\n"
            "{\"done\": 4, \"total\": 4, \"tiles_per_second\": 1.90, \"seconds_left\": 0.0}\n");
}

}  // namespace
