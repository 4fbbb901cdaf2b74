// The package and move subcommands, run as a user would.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

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

  // Grid coordinates without their system: packed as they stand, but said, and no success.
  EXPECT_EQ(Run("package " + F), 1);
  const std::string grid = kmztest::ReadFile(Path("out"));
  EXPECT_NE(grid.find("duck.txt is located at 39443000.000, 4418000.000, which is no longitude/latitude"),
            std::string::npos)
      << grid;

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

// Each model's document is the template written again: a template that does
// not survive that stops the run before any package is written (it used to
// pack the first model and lose every other one, exit 0). A run that leaves
// a model out still writes the others but does not end in success.
TEST_F(Commands, PackageStopsOnATemplateThatDoesNotWriteAgainAndFailsWhenAModelIsLeftOut) {
  const std::string F = Path("src");
  std::string broken = TemplateKml({"p"});
  broken.replace(broken.find("id=\"p\""), 6, "id=\"a&amp;b\"");
  kmztest::WriteFile(F + "/doc.kml", broken);
  AddModel(F, "1", Duck(), "116.3\n39.9\n");
  AddModel(F, "2", Duck(), "116.4\n39.9\n");
  EXPECT_EQ(Run("package " + F), 1);
  const std::string refused = kmztest::ReadFile(Path("out"));
  EXPECT_NE(refused.find(F + "/doc.kml: the template KML is unusable"), std::string::npos) << refused;
  EXPECT_NE(refused.find("nothing was packaged"), std::string::npos) << refused;
  EXPECT_FALSE(kmztest::Exists(F + "/middle/1.kmz"));
  EXPECT_EQ(kmztest::ReadFile(F + "/doc.kml"), broken);

  kmztest::WriteFile(F + "/doc.kml", TemplateKml({"p"}));
  std::filesystem::remove(F + "/2.txt");
  std::filesystem::create_directory(F + "/2.txt");
  EXPECT_EQ(Run("package " + F + " --json"), 1);
  const std::string partial = kmztest::ReadFile(Path("out"));
  EXPECT_NE(partial.find("2.txt: model 2 was left out"), std::string::npos) << partial;
  EXPECT_NE(partial.find("\"problems\": 1"), std::string::npos) << partial;
  EXPECT_NE(partial.find("\"models\": 1"), std::string::npos) << partial;
  EXPECT_TRUE(kmztest::Exists(F + "/middle/1.kmz"));

  // Packed, but at 0 on one axis: said, and not a success either.
  std::filesystem::remove_all(F + "/2.txt");
  kmztest::WriteFile(F + "/2.txt", "116.4\nnorth\n");
  EXPECT_EQ(Run("package " + F), 1);
  const std::string misplaced = kmztest::ReadFile(Path("out"));
  EXPECT_NE(misplaced.find("2.txt: the location text has no number on line 2"), std::string::npos) << misplaced;
  EXPECT_NE(misplaced.find("models packaged: 2"), std::string::npos) << misplaced;
  kmztest::WriteFile(F + "/2.txt", "116.4\n39.9\n");
  EXPECT_EQ(Run("package " + F), 0) << kmztest::ReadFile(Path("out"));
}
