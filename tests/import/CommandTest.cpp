// The import and clean subcommands of the kmztile command.
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "ImportFixture.h"

namespace importtest {
namespace {

class CommandTest : public ImportTest {
 protected:
  int Run(const std::string& args) {
    const char* cli = std::getenv("KMZTILE_CLI");
    if (!cli) return -1;
    const std::string command = std::string(cli) + " " + args + " >" + Path("out.txt") + " 2>" + Path("err.txt");
    const int status = std::system(command.c_str());
    out_ = kmztest::ReadFile(Path("out.txt"));
    err_ = kmztest::ReadFile(Path("err.txt"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string out_, err_;
};

TEST_F(CommandTest, ImportReportsTheLevelFoldersAndTheExtentThenCleanClearsThem) {
  if (!std::getenv("KMZTILE_CLI")) GTEST_SKIP() << "KMZTILE_CLI not set";
  AddFolderModelPackage("Macky.kmz");
  AddRealPackage("SharedTextures.kmz", "SharedTextures.kmz");
  kmztest::WriteFile(Work("scope.txt"), "116.300000 \r\n39.900000 \r\n116.500000 \r\n40.100000 \r\n");
  kmztest::WriteFile(Work("c.txt"), "2\r\nMacky.kmz\r\n16.8\r\n50.4\r\nSharedTextures.kmz\r\n-122.1\r\n37.4\r\n");

  ASSERT_EQ(Run("import " + Work() + " --coords " + Work("c.txt") + " --json"), 0) << err_;
  const auto json = nlohmann::json::parse(out_);
  EXPECT_FALSE(json["skipped"].get<bool>());
  ASSERT_EQ(json["levels"].size(), 4u);
  EXPECT_EQ(json["levels"][3]["level"], 15);
  EXPECT_EQ(json["levels"][3]["kml"], 2);
  EXPECT_EQ(json["levels"][3]["dae"], 2);
  EXPECT_DOUBLE_EQ(json["scope"]["east"].get<double>(), 116.5);
  EXPECT_DOUBLE_EQ(json["models"]["west"].get<double>(), -122.1);
  EXPECT_DOUBLE_EQ(json["models"]["north"].get<double>(), 50.4);

  EXPECT_EQ(Run("import " + Work()), 0) << err_;
  EXPECT_NE(out_.find("import skipped"), std::string::npos) << out_;

  EXPECT_EQ(Run("clean " + Work()), 0) << err_;
  for (int n = 1; n <= 4; ++n) EXPECT_FALSE(fs::exists(Level(n))) << n;
  EXPECT_TRUE(fs::exists(Work("Macky.kmz")));
  EXPECT_EQ(Run("clean " + Work()), 1);  // nothing left to clean
  EXPECT_NE(err_.find("level folder"), std::string::npos) << err_;
}

TEST_F(CommandTest, ImportNamesWhatFailed) {
  if (!std::getenv("KMZTILE_CLI")) GTEST_SKIP() << "KMZTILE_CLI not set";
  kmztest::WriteFile(Work("bad.kmz"), "not a zip");
  EXPECT_EQ(Run("import " + Work()), 1);
  EXPECT_NE(err_.find(Work()), std::string::npos) << err_;
  EXPECT_EQ(Run("import " + Path("missing")), 1);
  EXPECT_EQ(Run("import " + Work() + " --scope " + Path("nothing.txt")), 1);  // level folders exist now: skipped
  EXPECT_NE(err_.find("nothing.txt"), std::string::npos) << err_;
  EXPECT_EQ(Run("import"), 2);
}

}  // namespace
}  // namespace importtest
