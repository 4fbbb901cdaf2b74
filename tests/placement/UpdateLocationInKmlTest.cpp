// Moving a packaged model: the new archive replaces the original only when
// complete; every rejection and failure leaves the original byte-identical.
#include <dirent.h>

#include <cmath>
#include <limits>

#include "BaseParser.h"
#include "SourceFolder.h"
#include "platform/FaultInjection.h"

using namespace placementtest;
using kmztile::platform::FileOp;

namespace {

class UpdateLocation : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    path_ = Path("house.kmz");
    original_ = kmztest::FolderModelKmz();
    kmztest::WriteFile(path_, original_);
  }
  void TearDown() override {
    kmztile::platform::ResetFaultInjection();
    TempDirTest::TearDown();
  }
  // The folder holds the package and nothing else (no temporary left behind).
  void ExpectOnlyThePackage() {
    EXPECT_EQ(kmztest::ReadFile(path_), original_);
    int files = 0;
    if (DIR* d = opendir(Path().c_str())) {
      while (const dirent* e = readdir(d)) files += e->d_name[0] != '.';
      closedir(d);
    }
    EXPECT_EQ(files, 1);
  }
  std::string path_;
  std::string original_;
};

}  // namespace

TEST_F(UpdateLocation, MovesARealPackageKeepingEveryOtherEntry) {
  std::vector<std::string> oldNames, oldContents, names, contents;
  std::map<std::string, LonLatID> oldLocations, locations;
  ASSERT_TRUE(CBaseParser::ReadKmzToList(path_, oldNames, oldContents, oldLocations));
  ASSERT_TRUE(CBaseParser::UpdateLocationInKml(path_, 116.25, 39.75));
  ASSERT_TRUE(CBaseParser::ReadKmzToList(path_, names, contents, locations));

  // Same entries, same bytes, same order; the KML goes last, named after the file.
  ASSERT_EQ(oldNames.front(), "doc.kml");
  ASSERT_EQ(names.size(), oldNames.size());
  for (size_t i = 1; i < oldNames.size(); ++i) {
    EXPECT_EQ(names[i - 1], oldNames[i]);
    EXPECT_EQ(contents[i - 1], oldContents[i]) << oldNames[i];
  }
  EXPECT_EQ(names.back(), "house.kml");

  const kmldom::FolderPtr folder = RootFolder(contents.back());
  ASSERT_TRUE(folder);
  // The nested "Tour" folder stays; the model placemark moved to the end.
  ASSERT_EQ(folder->get_feature_array_size(), 2u);
  EXPECT_EQ(folder->get_feature_array_at(0)->get_name(), "Tour");
  EXPECT_EQ(folder->get_feature_array_at(1)->get_name(), "Model");
  const kmldom::ModelPtr m = LastModel(folder);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->get_altitudemode(), kmldom::ALTITUDEMODE_RELATIVETOGROUND);
  EXPECT_DOUBLE_EQ(m->get_location()->get_longitude(), 116.25);
  EXPECT_DOUBLE_EQ(m->get_location()->get_latitude(), 39.75);
  EXPECT_DOUBLE_EQ(m->get_location()->get_altitude(), 0);
  EXPECT_DOUBLE_EQ(m->get_orientation()->get_heading(), kmztest::kFolderModelHeading);
  EXPECT_DOUBLE_EQ(m->get_scale()->get_y(), 1);
  EXPECT_EQ(m->get_link()->get_href(), "models/Macky.dae");
  ASSERT_EQ(locations.count("models/Macky.dae"), 1u);
}

TEST_F(UpdateLocation, RangeLimitsAreInclusiveAndNaNOrInfinityIsRejected) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [lon, lat] : std::vector<std::pair<double, double>>{
           {180.000001, 0}, {-180.000001, 0}, {0, 90.5}, {0, -90.5}, {nan, 0}, {0, nan}, {inf, 0}, {0, -inf}}) {
    EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path_, lon, lat)) << lon << " " << lat;
    ExpectOnlyThePackage();
  }
  EXPECT_TRUE(CBaseParser::UpdateLocationInKml(path_, 180, -90));
  EXPECT_TRUE(CBaseParser::UpdateLocationInKml(path_, -180, 90));
  EXPECT_FALSE(CBaseParser::UpdateLocationInKml("", 0, 0));
}

TEST_F(UpdateLocation, AFailureWhileWritingLeavesTheOriginalIntact) {
  // Open 1 reads the package, open 2 creates the new archive, open 3 reads it
  // back for the check; then the rename.
  for (long k : {2, 3}) {
    kmztile::platform::FailNthOperation(FileOp::Open, k);
    EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path_, 10, 10)) << k;
    kmztile::platform::ResetFaultInjection();
    ExpectOnlyThePackage();
  }
  kmztile::platform::FailNthOperation(FileOp::Rename, 1);
  EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path_, 10, 10));
  ExpectOnlyThePackage();
}

TEST_F(UpdateLocation, AnEntryTheArchiveWriterRefusesLeavesTheOriginalIntact) {
  original_ = kmztest::MakeZip({{"doc.kml", kmztest::MakeModelKml({{"", "models/m.dae", 1, 2}})},
                                {"models/m.dae", "<COLLADA/>"},
                                {"../outside.png", "png"}});
  kmztest::WriteFile(path_, original_);
  EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path_, 3, 4));
  ExpectOnlyThePackage();
}

TEST_F(UpdateLocation, PackagesWithoutAMovableModelAreRefusedUntouched) {
  const std::string noLink =
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder><Placemark><name>p</name><Model><Location>"
      "<longitude>1</longitude><latitude>2</latitude></Location></Model></Placemark></Folder></kml>";
  const std::string noPlacemark = "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder><name>x</name></Folder></kml>";
  for (const std::string& kml : {noLink, noPlacemark, std::string("<kml/>"), std::string("not xml")}) {
    original_ = kmztest::MakeZip({{"doc.kml", kml}, {"models/m.dae", "<COLLADA/>"}});
    kmztest::WriteFile(path_, original_);
    EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path_, 3, 4)) << kml;
    ExpectOnlyThePackage();
  }
  // A real package without KML.
  for (const char* real : {"kmz/structure/nokml.kmz"}) {
    original_ = kmztest::ReadFile(kmztest::RealData(real));
    kmztest::WriteFile(path_, original_);
    EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path_, 3, 4)) << real;
    ExpectOnlyThePackage();
  }
  // Archive bytes in place of a path name no file to rewrite.
  EXPECT_FALSE(CBaseParser::UpdateLocationInKml(original_, 3, 4));
}

TEST_F(UpdateLocation, RootOtherThanAFolderIsRewrittenUnchangedUnderTheFileName) {
  // A Document root, and a real package whose root is the placemark itself.
  const std::string document = kmztest::MakeModelKml({{"1", "models/m.dae", 1, 2}}, "Document");
  for (const std::string& bytes : {kmztest::MakeZip({{"doc.kml", document}, {"models/m.dae", "<COLLADA/>"}}),
                                   kmztest::ReadFile(kmztest::RealData("kmz/model/MackyBldg.kmz"))}) {
    kmztest::WriteFile(path_, bytes);
    std::vector<std::string> before, beforeContents, after, afterContents;
    std::map<std::string, LonLatID> unused;
    ASSERT_TRUE(CBaseParser::ReadKmzToList(bytes, before, beforeContents, unused));
    ASSERT_TRUE(CBaseParser::UpdateLocationInKml(path_, 3, 4));
    ASSERT_TRUE(CBaseParser::ReadKmzToList(path_, after, afterContents, unused));
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.back(), "house.kml");
    for (size_t i = 0; i + 1 < after.size(); ++i) {
      EXPECT_EQ(after[i], before[i + 1]);  // everything but the KML, in order, byte-identical
      EXPECT_EQ(afterContents[i], beforeContents[i + 1]);
    }
    EXPECT_EQ(afterContents.back().find("<longitude>3</longitude>"), std::string::npos);
  }
}

TEST_F(UpdateLocation, ModelWithoutOrientationOrScaleTakesDefaultsAndOnlyTheFirstPlacemarkMoves) {
  original_ = kmztest::MakeZip({{"doc.kml", kmztest::MakeModelKml({{"1", "models/a.dae", 1, 2},
                                                                    {"2", "models/b.dae", 5, 6}})},
                                {"models/", ""},
                                {"models/a.dae", "<COLLADA/>"},
                                {"other.kml", "<kml/>"}});
  kmztest::WriteFile(path_, original_);
  ASSERT_TRUE(CBaseParser::UpdateLocationInKml(path_, 7, 8));
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  ASSERT_TRUE(CBaseParser::ReadKmzToList(path_, names, contents, locations));
  // Directory entries survive; every other "kml" entry is dropped.
  EXPECT_EQ(names, (std::vector<std::string>{"models/", "models/a.dae", "house.kml"}));
  const kmldom::FolderPtr folder = RootFolder(contents.back());
  ASSERT_EQ(folder->get_feature_array_size(), 2u);
  EXPECT_EQ(folder->get_feature_array_at(0)->get_id(), "2");
  const kmldom::ModelPtr m = LastModel(folder);
  EXPECT_EQ(m->get_link()->get_href(), "models/a.dae");
  ASSERT_TRUE(m->get_orientation() && m->get_scale());
  EXPECT_EQ(m->get_orientation()->get_heading(), 0);
  EXPECT_EQ(m->get_scale()->get_x(), 1);
  EXPECT_EQ(locations["models/a.dae"].Lon, 7);
  EXPECT_EQ(locations["models/b.dae"].Lon, 5);
}
