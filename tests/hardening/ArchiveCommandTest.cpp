// kmztile read, read --lazy and move on archives that other readers would
// see differently or that declare far more than they hold: each fails with
// exit 1 and the reason, leaves the file as it was, and never dies of an
// exception. Standard input is bounded and always archive bytes.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "CraftedArchives.h"
#include "TestSupport.h"
#include "ZipBytes.h"

namespace fs = std::filesystem;
using kmztest::CliRun;
using kmztest::RunCli;
using namespace hardening;

namespace {

class ArchiveCommand : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (!kmztest::HaveCli()) GTEST_SKIP() << "KMZTILE_CLI is not set";
  }
  std::set<std::string> Files() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.insert(e.path().filename().string());
    return out;
  }
  // Every command on @p bytes as the package pkg.kmz fails with @p reason and
  // leaves the folder exactly as it was.
  void ExpectEveryCommandRefuses(const std::string& bytes, const std::string& reason) {
    const std::string path = Path("pkg.kmz");
    kmztest::WriteFile(path, bytes);
    const auto before = Files();
    for (const std::string command : {"read", "read --lazy", "move"}) {
      SCOPED_TRACE(command);
      const CliRun run = RunCli(command + " '" + path + "'" + (command == "move" ? " 10 20" : ""));
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_NE(run.err.find(path + ": "), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    }
    EXPECT_EQ(kmztest::ReadFile(path), bytes);
    EXPECT_EQ(Files(), before);
  }
};

}  // namespace

TEST_F(ArchiveCommand, ASecondDirectoryInTheCommentIsRefusedAndTheFileKept) {
  // The same package without the hidden directory is read and moved.
  const std::string path = Path("pkg.kmz");
  kmztest::WriteFile(path, SmallPackage());
  ASSERT_EQ(RunCli("read '" + path + "'").exitCode, 0);
  ASSERT_EQ(RunCli("move '" + path + "' 10 20").exitCode, 0);
  // With it, libkml would list only the KML: the move would drop model and texture.
  ExpectEveryCommandRefuses(SecondDirectoryInComment(SmallPackage()), "ambiguous end record");
}

TEST_F(ArchiveCommand, RecordsSharingGigabytesOfDataFailCleanly) {
  // 1.8 MB holding 1,800 MiB of zeros, listed by a hundred records.
  const auto start = std::chrono::steady_clock::now();
  const std::string bytes = SharedDataArchive(ZeroBomb("models/m.dae", 1800), 100);
  EXPECT_LT(bytes.size(), 3u << 20);
  ExpectEveryCommandRefuses(bytes, "overlapping central records");
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 30.0);
}

TEST_F(ArchiveCommand, StandardInputIsBoundedAndAlwaysBytes) {
  // A package with bytes after its end record, as some writers leave them.
  const std::string package = SmallPackage() + "\r\n";
  const std::string path = Path("pkg.kmz");
  kmztest::WriteFile(path, package);
  const CliRun piped = RunCli("read - < '" + path + "'");
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_EQ(piped.out, RunCli("read '" + path + "'").out);

  // A file name on standard input is data, not a file to open.
  kmztest::WriteFile(Path("name.txt"), path);
  const CliRun name = RunCli("read - < '" + Path("name.txt") + "'");
  EXPECT_EQ(name.exitCode, 1);
  EXPECT_NE(name.err.find("standard input is not a KMZ archive"), std::string::npos) << name.err;
  // Its first bytes decide: an endless stream of something else is refused
  // at once, not after a gigabyte of it has been read.
  const auto start = std::chrono::steady_clock::now();
  const CliRun zeros = RunCli("read - < /dev/zero");
  EXPECT_EQ(zeros.exitCode, 1);
  EXPECT_NE(zeros.err.find("standard input is not a KMZ archive"), std::string::npos) << zeros.err;
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);

  // Beyond 1 GiB it is refused before anything is read (a sparse file costs no disk).
  const std::string huge = Path("huge.kmz");
  kmztest::WriteFile(huge, package);
  ASSERT_EQ(truncate(huge.c_str(), (1ll << 30) + 1), 0);
  const CliRun big = RunCli("read - < '" + huge + "'");
  EXPECT_EQ(big.exitCode, 1);
  EXPECT_NE(big.err.find("larger than the 1 GiB limit"), std::string::npos) << big.err;
}
