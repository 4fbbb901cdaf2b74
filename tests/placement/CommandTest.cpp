// The package and move subcommands, run as a user would.
#include <sys/wait.h>

#include <cstdlib>

#include "SourceFolder.h"

using namespace placementtest;

namespace {

class Commands : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    const char* cli = std::getenv("KMZTILE_CLI");
    if (!cli) GTEST_SKIP() << "KMZTILE_CLI is not set (run through ctest)";
    cli_ = cli;
  }
  // Exit code of the command with @p args; its output goes to Path("out").
  int Run(const std::string& args) {
    const int status = std::system((cli_ + " " + args + " >" + Path("out") + " 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string cli_;
};

}  // namespace

TEST_F(Commands, PackageRefusesABadCrsBeforeAnyWorkThenPackagesAndMoves) {
  const std::string F = Path("src");
  kmztest::WriteFile(F + "/doc.kml", TemplateKml({"p"}));
  AddModel(F, "duck", Duck(), "39443000\n4418000\n");

  EXPECT_EQ(Run("package " + F + " --crs EPSG:nonsense"), 2);
  EXPECT_NE(kmztest::ReadFile(Path("out")).find("EPSG:nonsense"), std::string::npos);
  EXPECT_FALSE(kmztest::Exists(F + "/middle"));

  ASSERT_EQ(Run("package " + F + " --crs EPSG:4527 --json"), 0);
  const std::string out = kmztest::ReadFile(Path("out"));
  EXPECT_NE(out.find("\"models\": 1"), std::string::npos) << out;
  EXPECT_NE(out.find("116.333434"), std::string::npos) << out;
  ASSERT_TRUE(kmztest::Exists(F + "/middle/duck.kmz"));

  const std::string before = kmztest::ReadFile(F + "/middle/duck.kmz");
  EXPECT_EQ(Run("move " + F + "/middle/duck.kmz 180.5 0"), 1);
  EXPECT_EQ(kmztest::ReadFile(F + "/middle/duck.kmz"), before);
  EXPECT_EQ(Run("move " + F + "/middle/duck.kmz -73.5 -40.25"), 0);
  EXPECT_EQ(Run("read " + F + "/middle/duck.kmz"), 0);
  EXPECT_NE(kmztest::ReadFile(Path("out")).find("-73.50000000\t-40.25000000"), std::string::npos);

  EXPECT_EQ(Run("package " + Path("empty")), 1);
}
