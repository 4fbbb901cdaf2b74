// KML and model extraction of one package, called directly with its path.
#include "ImportFixture.h"

namespace importtest {
namespace {

using kmztest::ReadFile;

TEST_F(ImportTest, TheFirstKmlAndTheFirstModelOfTheArchiveAreCopied) {
  AddPackage("house.kmz", {{"b.kml", "<kml>first</kml>"},
                           {"models/house.dae", "<COLLADA>first</COLLADA>"},
                           {"doc.kml", "<kml>second</kml>"},
                           {"models/other.dae", "<COLLADA>second</COLLADA>"},
                           {"images/t.png", "png"}});
  MakeLevels();
  EXPECT_TRUE(Access::GetKmlFromKmz(parser_, Package("house.kmz")));
  EXPECT_TRUE(Access::GetDaeFromKmz(parser_, Package("house.kmz")));
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(ReadFile(Level(n, "house.kml")), "<kml>first</kml>");
    EXPECT_EQ(ReadFile(Level(n, "house.dae")), "<COLLADA>first</COLLADA>");
    EXPECT_EQ(LevelNames(n).size(), 2u);
  }
}

TEST_F(ImportTest, ExistingCopiesAreOverwritten) {
  AddPackage("house.kmz", {{"doc.kml", "<kml/>"}, {"m.dae", "<COLLADA/>"}});
  MakeLevels();
  kmztest::WriteFile(Level(3, "house.kml"), std::string(5000, 'x'));
  EXPECT_TRUE(Access::GetKmlFromKmz(parser_, Package("house.kmz")));
  EXPECT_EQ(ReadFile(Level(3, "house.kml")), "<kml/>");
}

TEST_F(ImportTest, APackageWithoutACaseExactKmlEntryYieldsNoKml) {
  AddPackage("caps.kmz", {{"DOC.KML", "<kml/>"}, {"m.dae", "<COLLADA/>"}});
  AddPackage("none.kmz", {{"m.dae", "<COLLADA/>"}, {"dir.kml/", ""}});
  AddPackage("empty.kmz", {{"doc.kml", ""}, {"later.kml", "<kml/>"}});  // an unreadable first match ends the search
  kmztest::WriteFile(Work("garbage.kmz"), "PK\x03\x04 but nothing else");
  MakeLevels();
  for (const char* name : {"caps.kmz", "none.kmz", "empty.kmz", "garbage.kmz", "missing.kmz"})
    EXPECT_FALSE(Access::GetKmlFromKmz(parser_, Package(name))) << name;
  EXPECT_FALSE(Access::GetKmlFromKmz(parser_, ""));
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(LevelNames(n).empty()) << n;
}

TEST_F(ImportTest, APackageWithoutACaseExactModelEntryWritesNoModelButSucceeds) {
  AddPackage("caps.kmz", {{"doc.kml", "<kml/>"}, {"models/M.DAE", "<COLLADA/>"}});
  AddPackage("none.kmz", {{"doc.kml", "<kml/>"}, {"models/", ""}, {"t.jpg", "jpeg"}});
  MakeLevels();
  EXPECT_TRUE(Access::GetDaeFromKmz(parser_, Package("caps.kmz")));
  EXPECT_TRUE(Access::GetDaeFromKmz(parser_, Package("none.kmz")));
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(LevelNames(n).empty()) << n;
}

TEST_F(ImportTest, AnArchiveThatCannotBeOpenedOrAModelThatCannotBeReadFails) {
  kmztest::WriteFile(Work("garbage.kmz"), "not a zip archive");
  AddPackage("emptymodel.kmz", {{"doc.kml", "<kml/>"}, {"m.dae", ""}});
  MakeLevels();
  EXPECT_FALSE(Access::GetDaeFromKmz(parser_, Package("garbage.kmz")));
  EXPECT_FALSE(Access::GetDaeFromKmz(parser_, Package("missing.kmz")));
  EXPECT_FALSE(Access::GetDaeFromKmz(parser_, Package("emptymodel.kmz")));
  EXPECT_FALSE(Access::GetDaeFromKmz(parser_, ""));
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(LevelNames(n).empty()) << n;
}

TEST_F(ImportTest, ABlockedCopyInTheSecondLevelFolderFailsAfterTheFirst) {
  AddPackage("house.kmz", {{"doc.kml", "<kml/>"}, {"m.dae", "<COLLADA/>"}});
  MakeLevels();
  fs::create_directories(Level(2, "house.kml"));  // a folder where the copy should go
  fs::create_directories(Level(3, "house.dae"));
  EXPECT_FALSE(Access::GetKmlFromKmz(parser_, Package("house.kmz")));
  EXPECT_EQ(ReadFile(Level(1, "house.kml")), "<kml/>");
  EXPECT_FALSE(fs::exists(Level(3, "house.kml")));
  EXPECT_FALSE(Access::GetDaeFromKmz(parser_, Package("house.kmz")));
  EXPECT_TRUE(fs::exists(Level(2, "house.dae")));
  EXPECT_FALSE(fs::exists(Level(4, "house.dae")));
}

TEST_F(ImportTest, TheStemIsTheFileNameWithoutItsLastFourCharacters) {
  AddPackage("a.b.kmz", {{"doc.kml", "<kml/>"}, {"m.dae", "<COLLADA/>"}});
  MakeLevels();
  // A package outside the working folder, given with "/" or "\".
  kmztest::WriteFile(Path("elsewhere/far.kmz"), kmztest::MakeZip({{"doc.kml", "<kml>far</kml>"}}));
  EXPECT_TRUE(Access::GetKmlFromKmz(parser_, Package("a.b.kmz")));
  EXPECT_TRUE(Access::GetKmlFromKmz(parser_, Path("elsewhere") + "\\far.kmz"));
  EXPECT_EQ(LevelNames(1), (std::vector<std::string>{"a.b.kml", "far.kml"}));
  EXPECT_FALSE(fs::exists(Path("elsewhere/far.kml")));
}

}  // namespace
}  // namespace importtest
