// The import driver: every package's KML and model in each level folder,
// once per working folder, stopping at the first package that fails.
#include <algorithm>

#include "ImportFixture.h"
#include "platform/FaultInjection.h"

namespace importtest {
namespace {

using kmztest::MakeZip;
using kmztest::ReadFile;

std::vector<kmztest::ZipItem> SmallPackage(const std::string& tag) {
  return {{"doc.kml", "<kml>" + tag + "</kml>"}, {"models/", ""}, {"models/m.dae", "<COLLADA>" + tag + "</COLLADA>"},
          {"images/t.jpg", "jpeg"}};
}

TEST_F(ImportTest, RealPackagesArriveByteIdenticalInEveryLevelFolder) {
  AddFolderModelPackage("Macky.kmz");
  AddRealPackage("MackyBldg.kmz", "MackyBldg.kmz");
  AddRealPackage("SharedTextures.kmz", "SharedTextures.kmz");
  AddRealPackage("model-macky.kmz", "model-macky.kmz");
  const int fdsBefore = kmztest::OpenFdCount();
  ASSERT_TRUE(parser_.EarlyPrepare("unused"));
  EXPECT_EQ(kmztest::OpenFdCount(), fdsBefore);

  struct Expect {
    const char* stem;
    const char* kml;
    const char* dae;
  };
  const Expect expected[] = {
      {"Macky", "doc.kml", "models/Macky.dae"},
      {"MackyBldg", "doc.kml", "files/CU Macky.dae"},
      {"SharedTextures", "Models.Shared_Textures.kml", "models/bldg.dae"},  // first of two models
      {"model-macky", "doc.kml", "geometry/CU-Macky.dae"},
  };
  for (const auto& e : expected) {
    const std::string package = Work(std::string(e.stem) + ".kmz");
    const std::string kml = LibkmlEntry(package, e.kml);
    const std::string dae = LibkmlEntry(package, e.dae);
    for (int n = 1; n <= 4; ++n) {
      EXPECT_EQ(ReadFile(Level(n, std::string(e.stem) + ".kml")), kml) << e.stem << " " << n;
      EXPECT_EQ(ReadFile(Level(n, std::string(e.stem) + ".dae")), dae) << e.stem << " " << n;
    }
  }
  // Only the KML and the model are copied; textures stay in the packages.
  EXPECT_EQ(LevelNames(3).size(), 8u);
}

TEST_F(ImportTest, ASecondCallSkipsTheImportAndRewritesNothing) {
  AddPackage("a.kmz", SmallPackage("a"));
  ASSERT_TRUE(parser_.EarlyPrepare(""));
  kmztest::WriteFile(Level(2, "a.kml"), "edited");
  AddPackage("b.kmz", SmallPackage("b"));
  EXPECT_TRUE(parser_.EarlyPrepare(""));
  EXPECT_EQ(ReadFile(Level(2, "a.kml")), "edited");
  EXPECT_FALSE(fs::exists(Level(1, "b.kml")));
}

TEST_F(ImportTest, AFailedPackageStopsTheWalkInOrderAndTheNextCallSkips) {
  AddPackage("a.kmz", SmallPackage("a"));
  kmztest::WriteFile(Work("b.kmz"), "not a zip archive");
  AddPackage("c.kmz", SmallPackage("c"));
  EXPECT_FALSE(parser_.EarlyPrepare(""));
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(LevelNames(n), (std::vector<std::string>{"a.dae", "a.kml"})) << n;

  EXPECT_TRUE(parser_.EarlyPrepare(""));  // the level folders mark the import as done
  EXPECT_FALSE(fs::exists(Level(1, "c.kml")));

  // Clearing lets the next call import again.
  fs::remove(Work("b.kmz"));
  ASSERT_TRUE(parser_.DeleteFileAndDirectory(Access::Work(parser_)));
  EXPECT_TRUE(parser_.EarlyPrepare(""));
  for (int n = 1; n <= 4; ++n)
    EXPECT_EQ(LevelNames(n), (std::vector<std::string>{"a.dae", "a.kml", "c.dae", "c.kml"})) << n;
}

TEST_F(ImportTest, AFolderNamedLikeAPackageStopsTheImport) {
  AddPackage("a.kmz", SmallPackage("a"));
  fs::create_directories(Work("b.kmz"));
  AddPackage("c.kmz", SmallPackage("c"));
  EXPECT_FALSE(parser_.EarlyPrepare(""));
  EXPECT_TRUE(fs::exists(Level(4, "a.dae")));
  EXPECT_FALSE(fs::exists(Level(1, "c.kml")));
}

TEST_F(ImportTest, PackagesWithACapitalExtensionAreImportedToo) {
  AddPackage("UPPER.KMZ", SmallPackage("u"));
  AddPackage("Mixed.Kmz", SmallPackage("m"));
  kmztest::WriteFile(Work("notes.kmz.txt"), "not a package");
  ASSERT_TRUE(parser_.EarlyPrepare(""));
  EXPECT_EQ(LevelNames(1), (std::vector<std::string>{"Mixed.dae", "Mixed.kml", "UPPER.dae", "UPPER.kml"}));
  EXPECT_EQ(ReadFile(Level(4, "UPPER.kml")), "<kml>u</kml>");
}

TEST_F(ImportTest, AModelLessPackageDoesNotStopTheImport) {
  AddPackage("a.kmz", {{"doc.kml", "<kml>a</kml>"}, {"model.DAE", "capitals do not count"}});
  AddPackage("b.kmz", SmallPackage("b"));
  ASSERT_TRUE(parser_.EarlyPrepare(""));
  EXPECT_EQ(LevelNames(2), (std::vector<std::string>{"a.kml", "b.dae", "b.kml"}));
}

TEST_F(ImportTest, NoWorkingFolderOrNoPackageFails) {
  CBaseParser empty;
  Access::SetWork(empty, "");
  EXPECT_FALSE(empty.EarlyPrepare(""));
  EXPECT_FALSE(Access::ParseKmz(empty));

  kmztest::WriteFile(Work("readme.txt"), "no packages here");
  EXPECT_FALSE(parser_.EarlyPrepare(""));
  for (int n = 1; n <= 4; ++n) {
    EXPECT_TRUE(fs::is_directory(Level(n))) << n;
    EXPECT_TRUE(LevelNames(n).empty()) << n;
  }
}

TEST_F(ImportTest, AWriteFailureStopsTheImportWithEarlierCopiesInPlace) {
  AddPackage("a.kmz", SmallPackage("a"));
  AddPackage("b.kmz", SmallPackage("b"));
  // The sixth write is a.dae in level folder "2".
  kmztile::platform::FailNthOperation(kmztile::platform::FileOp::Write, 6);
  EXPECT_FALSE(parser_.EarlyPrepare(""));
  kmztile::platform::ResetFaultInjection();
  EXPECT_TRUE(fs::exists(Level(1, "a.dae")));
  EXPECT_FALSE(fs::exists(Level(2, "a.dae")));
  EXPECT_TRUE(fs::exists(Level(4, "a.kml")));
  EXPECT_FALSE(fs::exists(Level(1, "b.kml")));
}

TEST_F(ImportTest, EachPackageIsOpenedOnceForBothCopies) {
  AddPackage("a.kmz", SmallPackage("a"));
  // Opens in order: the package, four KML copies, then the model copies. A
  // second opening of the package would shift the seventh open to the model
  // copy in level folder "1".
  kmztile::platform::FailNthOperation(kmztile::platform::FileOp::Open, 7);
  EXPECT_FALSE(parser_.EarlyPrepare(""));
  kmztile::platform::ResetFaultInjection();
  EXPECT_TRUE(fs::exists(Level(1, "a.dae")));
  EXPECT_FALSE(fs::exists(Level(2, "a.dae")));
}

}  // namespace
}  // namespace importtest
