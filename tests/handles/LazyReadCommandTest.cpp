// kmztile read --lazy: per model its file size and its textures, in text and
// JSON, and a clear failure for a damaged model.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "TestSupport.h"

namespace {

using kmztest::CliRun;
using kmztest::RunCli;

class LazyReadCommand : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (!std::getenv("KMZTILE_CLI")) GTEST_SKIP() << "KMZTILE_CLI is not set";
  }
};

}  // namespace

TEST_F(LazyReadCommand, PrintsEachModelWithItsTextures) {
  const std::string path = Path("tile.kmz");
  kmztest::WriteFile(path, kmztest::MakeZip({{"doc.kml", kmztest::MakeModelKml({{"7", "models/a.dae", 116.5, 39.9}})},
                                             {"models/a/t1.jpg", "12345"},
                                             {"models/a/t2.png", "123"},
                                             {"models/a.dae", "<a/>"},
                                             {"models/b.dae", "<bb/>"}}));
  const CliRun json = RunCli("read --lazy --json '" + path + "'");
  ASSERT_EQ(json.exitCode, 0);
  const auto doc = nlohmann::json::parse(json.out);
  ASSERT_EQ(doc["models"].size(), 2u);
  const auto& a = doc["models"][0];
  EXPECT_EQ(a["name"], "models/a.dae");
  EXPECT_EQ(a["bytes"], 4);
  ASSERT_EQ(a["textures"].size(), 2u);
  EXPECT_EQ(a["textures"][0]["name"], "models/a/t1.jpg");
  EXPECT_EQ(a["textures"][0]["bytes"], 5);
  EXPECT_EQ(a["textures"][1]["bytes"], 3);
  EXPECT_EQ(a["location"]["id"], 7);
  EXPECT_DOUBLE_EQ(a["location"]["lon"].get<double>(), 116.5);
  EXPECT_TRUE(doc["models"][1]["location"].is_null());
  EXPECT_TRUE(doc["models"][1]["textures"].empty());
  EXPECT_EQ(doc["locations"].size(), 1u);

  const CliRun text = RunCli("read --lazy '" + path + "'");
  ASSERT_EQ(text.exitCode, 0);
  EXPECT_NE(text.out.find("models: 2\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("    5\tmodels/a/t1.jpg\n"), std::string::npos) << text.out;
}

TEST_F(LazyReadCommand, FailsForAnUnreadableModelOrArchive) {
  const std::string path = Path("tile.kmz");
  kmztest::WriteFile(path, kmztest::MakeZip({{"t.jpg", "T"}, {"empty.dae", ""}}));
  EXPECT_EQ(RunCli("read --lazy '" + path + "'").exitCode, 1);
  EXPECT_EQ(RunCli("read --lazy '" + kmztest::RealData("kmz/malformed/bad.kmz") + "'").exitCode, 1);
  EXPECT_EQ(RunCli("read --lazy --json '" + kmztest::RealData("kmz/model/MackyBldg.kmz") + "'").exitCode, 0);
}
