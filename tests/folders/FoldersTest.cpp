// Level folders and housekeeping: creating the level folders, clearing them
// with the path guard, and the whole-file copy.
#include <filesystem>

#include "BaseParser.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

class CBaseParserTestAccess {
 public:
  static void SetWork(CBaseParser& p, const std::string& w) { p.m_workFolder = w; }
  static const std::string& Work(const CBaseParser& p) { return p.m_workFolder; }
  static int Create4Folder(CBaseParser& p) { return p.Create4Folder(); }
  static bool CheckFolderExist(CBaseParser& p, const std::string& path) { return p.CheckFolderExist(path); }
  static bool DeleteFiles(CBaseParser& p, const std::string& f) { return p.DeleteFiles(f); }
  static bool DeleteDirectorys(CBaseParser& p, const std::string& f) { return p.DeleteDirectorys(f); }
  static bool CopyFileW(CBaseParser& p, const std::string& s, const std::string& d) { return p.CopyFileW(s, d); }
};
using Access = CBaseParserTestAccess;

namespace {

class FoldersTest : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_directories(Path("work"));
    parser_.SetRequireFile(Path("work"), "", "");
  }
  std::string Level(int n, const std::string& name = "") const {
    return Path("work/" + std::to_string(n)) + (name.empty() ? "" : "/" + name);
  }
  void FillLevels() {
    kmztest::WriteFile(Path("work/a.kmz"), "package");
    for (int n = 1; n <= 4; ++n) {
      fs::create_directories(Level(n));
      for (const char* name : {"a.kml", "a.dae", "18-1-2.kmz"}) kmztest::WriteFile(Level(n, name), name);
    }
  }
  CBaseParser parser_;
};

TEST_F(FoldersTest, Create4FolderCreatesAllFourLevelFoldersOnAFreshWorkingFolder) {
  EXPECT_EQ(Access::Create4Folder(parser_), 0);
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(fs::is_directory(Level(n))) << n;
  EXPECT_FALSE(fs::exists(Level(5)));
}

TEST_F(FoldersTest, Create4FolderStopsAtTheFirstExistingLevelFolder) {
  fs::create_directories(Level(3));
  EXPECT_EQ(Access::Create4Folder(parser_), 2);
  EXPECT_TRUE(fs::is_directory(Level(1)));
  EXPECT_TRUE(fs::is_directory(Level(2)));
  EXPECT_FALSE(fs::exists(Level(4)));

  CBaseParser other;
  other.SetRequireFile(Path("other"), "", "");
  fs::create_directories(Path("other/1"));
  EXPECT_EQ(Access::Create4Folder(other), 2);
  EXPECT_FALSE(fs::exists(Path("other/2")));
}

TEST_F(FoldersTest, Create4FolderWithAnEmptyWorkingFolderDoesNothing) {
  Access::SetWork(parser_, "");
  EXPECT_EQ(Access::Create4Folder(parser_), 1);
}

TEST_F(FoldersTest, APlainFileNamedLikeALevelFolderIsNotAFolder) {
  kmztest::WriteFile(Level(1), "not a folder");
  EXPECT_FALSE(Access::CheckFolderExist(parser_, Access::Work(parser_) + "1"));
  // Its creation fails unnoticed: the code still says "created".
  EXPECT_EQ(Access::Create4Folder(parser_), 0);
  EXPECT_TRUE(fs::is_regular_file(Level(1)));
  EXPECT_TRUE(fs::is_directory(Level(4)));
}

TEST_F(FoldersTest, CheckFolderExistIsTrueOnlyForAFolder) {
  kmztest::WriteFile(Path("file"), "x");
  EXPECT_TRUE(Access::CheckFolderExist(parser_, Path("work")));
  EXPECT_FALSE(Access::CheckFolderExist(parser_, Path("file")));
  EXPECT_FALSE(Access::CheckFolderExist(parser_, Path("missing")));
}

TEST_F(FoldersTest, DeleteFileAndDirectoryClearsTheLevelFoldersAndKeepsThePackages) {
  FillLevels();
  EXPECT_TRUE(parser_.DeleteFileAndDirectory(Access::Work(parser_)));
  for (int n = 1; n <= 4; ++n) EXPECT_FALSE(fs::exists(Level(n))) << n;
  EXPECT_EQ(kmztest::ReadFile(Path("work/a.kmz")), "package");
}

TEST_F(FoldersTest, DeleteFileAndDirectoryRefusesAnyOtherSpellingOfTheWorkingFolder) {
  FillLevels();
  const std::string work = Access::Work(parser_);
  std::string upper = work;
  upper[upper.size() - 2] = 'K';  // ".../worK\"
  for (const std::string& other : {work.substr(0, work.size() - 1), upper, Path("work") + "/", std::string()}) {
    EXPECT_FALSE(parser_.DeleteFileAndDirectory(other)) << other;
    EXPECT_FALSE(Access::DeleteFiles(parser_, other)) << other;
    EXPECT_FALSE(Access::DeleteDirectorys(parser_, other)) << other;
  }
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(fs::exists(Level(n, "a.kml"))) << n;
}

TEST_F(FoldersTest, OtherFilesAndTheirLevelFolderRemain) {
  FillLevels();
  kmztest::WriteFile(Level(2, "a.txt"), "list");
  kmztest::WriteFile(Level(3, "tilekml"), "no dot");     // no name the library writes
  kmztest::WriteFile(Level(3, ".hidden.kml"), "dot");    // names starting with a full stop are skipped
  kmztest::WriteFile(Level(4, "upper.KML"), "capitals");  // case-sensitive
  EXPECT_TRUE(parser_.DeleteFileAndDirectory(Access::Work(parser_)));
  EXPECT_FALSE(fs::exists(Level(1)));
  EXPECT_EQ(kmztest::ReadFile(Level(2, "a.txt")), "list");
  EXPECT_FALSE(fs::exists(Level(2, "a.kml")));
  EXPECT_TRUE(fs::exists(Level(3, "tilekml")));
  EXPECT_TRUE(fs::exists(Level(3, ".hidden.kml")));
  EXPECT_TRUE(fs::exists(Level(4, "upper.KML")));
  EXPECT_FALSE(fs::exists(Level(4, "a.dae")));
}

TEST_F(FoldersTest, AMissingLevelFolderStopsTheClearingAndRemovesNoFolder) {
  FillLevels();
  fs::remove_all(Level(2));
  EXPECT_FALSE(parser_.DeleteFileAndDirectory(Access::Work(parser_)));
  EXPECT_TRUE(fs::is_directory(Level(1)));
  EXPECT_TRUE(fs::is_empty(Level(1)));
  EXPECT_TRUE(fs::exists(Level(3, "a.kml")));
  EXPECT_TRUE(fs::exists(Level(4, "a.kml")));
}

TEST_F(FoldersTest, CopyFileWCopiesAnyBytesExactly) {
  const std::string data = std::string("line\r\nnext\n\0\x01\xff", 14) + std::string(200000, 'z');
  kmztest::WriteFile(Path("src.bin"), data);
  kmztest::WriteFile(Path("dst.bin"), "old content that is longer than nothing");
  EXPECT_TRUE(Access::CopyFileW(parser_, Path("src.bin"), Path("dst.bin")));
  EXPECT_EQ(kmztest::ReadFile(Path("dst.bin")), data);

  kmztest::WriteFile(Path("empty"), "");
  EXPECT_TRUE(Access::CopyFileW(parser_, Path("empty"), Path("dst.bin")));
  EXPECT_EQ(kmztest::ReadFile(Path("dst.bin")), "");
}

TEST_F(FoldersTest, CopyFileWReportsAnUnreadableSourceAndLeavesTheDestination) {
  kmztest::WriteFile(Path("dst.txt"), "keep");
  EXPECT_FALSE(Access::CopyFileW(parser_, Path("missing"), Path("dst.txt")));
  EXPECT_FALSE(Access::CopyFileW(parser_, Path("work"), Path("dst.txt")));  // a folder
  EXPECT_EQ(kmztest::ReadFile(Path("dst.txt")), "keep");
  EXPECT_FALSE(Access::CopyFileW(parser_, Path("missing"), Path("new.txt")));
  EXPECT_FALSE(fs::exists(Path("new.txt")));
}

TEST_F(FoldersTest, CopyFileWOntoItselfKeepsTheContentAndBlockedDestinationsFail) {
  kmztest::WriteFile(Path("same.txt"), "content");
  EXPECT_TRUE(Access::CopyFileW(parser_, Path("same.txt"), Path("same.txt")));
  EXPECT_EQ(kmztest::ReadFile(Path("same.txt")), "content");
  EXPECT_FALSE(Access::CopyFileW(parser_, Path("same.txt"), Path("work")));
  EXPECT_FALSE(Access::CopyFileW(parser_, Path("same.txt"), Path("nofolder/x.txt")));
}

}  // namespace
