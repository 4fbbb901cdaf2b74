// The index and tile subcommands of the kmztile command.
#include <cstdlib>

#include "TileFixture.h"

using kmztest::TileFolderTest;

namespace {

// Runs the command line, returning its exit code and everything it printed.
int RunCli(const std::string& arguments, std::string& output) {
  const kmztest::CliRun run = kmztest::RunCli(arguments);
  output = run.out + run.err;
  return run.exitCode;
}

}  // namespace

TEST(IndexCommand, PrintsRowsAndColumns) {
  if (!std::getenv("KMZTILE_CLI")) GTEST_SKIP() << "KMZTILE_CLI not set";
  std::string out;
  ASSERT_EQ(0, RunCli("index 100 110 30 40 2 --json", out)) << out;
  EXPECT_NE(std::string::npos, out.find("\"firstColumn\": 3")) << out;
  EXPECT_NE(std::string::npos, out.find("\"lastRow\": 0")) << out;
  ASSERT_EQ(0, RunCli("index -1 1 -1 1 1", out)) << out;
  EXPECT_NE(std::string::npos, out.find("columns 0 to 1")) << out;
  EXPECT_EQ(2, RunCli("index 1 2 3", out));
}

TEST_F(TileFolderTest, TileCommandWritesTheTileOrSaysWhy) {
  if (!std::getenv("KMZTILE_CLI")) GTEST_SKIP() << "KMZTILE_CLI not set";
  AddSimpleModel("a", 100, 40);
  WriteCoords({{"a.kmz", 100, 40}});
  long row = 0, column = 0;
  TileOf(100, 40, 18, row, column);
  std::string out;
  const std::string tile = " 18 " + std::to_string(row) + " " + std::to_string(column);
  ASSERT_EQ(0, RunCli("tile " + Path("w") + tile + " -o " + Path("t.kmz"), out)) << out;
  char name[64];
  std::snprintf(name, sizeof name, "18-%ld-%ld.kmz", row, column);
  EXPECT_EQ(kmztest::ReadFile(work_ + "1/" + name), kmztest::ReadFile(Path("t.kmz")));
  // An empty tile writes nothing; a missing coordinates file fails with its name.
  ASSERT_EQ(0, RunCli("tile " + Path("w") + " 18 0 0 -o " + Path("empty.kmz"), out)) << out;
  EXPECT_FALSE(kmztest::Exists(Path("empty.kmz")));
  EXPECT_EQ(1, RunCli("tile " + Path("w") + tile + " -o " + Path("x.kmz") + " --coords " + Path("none.txt"), out));
  EXPECT_NE(std::string::npos, out.find("none.txt")) << out;
  // A damaged package is reported with the cause the library recorded, not a list of guesses.
  kmztest::WriteFile(work_ + "a.kmz", std::string(64, 'x'));
  EXPECT_EQ(1, RunCli("tile " + Path("w") + tile + " -o " + Path("y.kmz"), out));
  EXPECT_NE(std::string::npos, out.find("a.kmz: no end of central directory")) << out;
  EXPECT_FALSE(kmztest::Exists(Path("y.kmz")));
}
