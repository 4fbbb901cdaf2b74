// Packaging a whole source folder: packages, coordinates file, scope file.
#include <cmath>
#include <filesystem>

#include "BaseParser.h"
#include "SourceFolder.h"
#include "placement/detail/TemplateCheck.h"
#include "platform/Problems.h"

using namespace placementtest;

namespace {

class GenNeededFile : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    F_ = Path("src");
    kmztest::WriteFile(F_ + "/doc.kml", TemplateKml({"pattern"}));
  }
  bool Run(const wchar_t* crs = L"") {
    crs_ = crs;
    return parser_.GenNeededFile(F_, crs_.data(), aux_.data(), result_);
  }
  // Longitude and latitude that a package's KML places its model at.
  void PackagePosition(const std::string& kmz, double& lon, double& lat) {
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    ASSERT_TRUE(CBaseParser::ReadKmzToList(kmz, names, contents, locations));
    ASSERT_EQ(locations.size(), 1u);
    lon = locations.begin()->second.Lon;
    lat = locations.begin()->second.Lat;
  }
  CBaseParser parser_;
  std::string F_;
  std::wstring crs_;
  std::wstring aux_ = L"aux";
  std::string result_ = "unchanged";
};

}  // namespace

TEST_F(GenNeededFile, OneModelAtLonLatWritesTheDocumentedFiles) {
  AddModel(F_, "duck", Duck(), "116.5\n39.9\n");
  ASSERT_TRUE(Run());
  EXPECT_EQ(result_, F_ + "\\middle");
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/coords.txt"), "1\r\nduck.kmz\r\n116.500000 \r\n39.900000 \r\n");
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/scope.txt"), "116.499900 \r\n39.899900 \r\n116.500100 \r\n39.900100 \r\n");
  double lon = 0, lat = 0;
  PackagePosition(F_ + "/middle/duck.kmz", lon, lat);
  EXPECT_DOUBLE_EQ(lon, 116.5);
  EXPECT_DOUBLE_EQ(lat, 39.9);
}

TEST_F(GenNeededFile, GridCoordinatesAreConvertedOnlyForGaussKruger) {
  AddModel(F_, "duck", Duck(), "39443000\r\n4418000\r\n");
  AddModel(F_, "house", TexturedMacky(), "116.4\n39.95\n");
  ASSERT_TRUE(Run(L"EPSG:4527"));
  double lon = 0, lat = 0;
  PackagePosition(F_ + "/middle/duck.kmz", lon, lat);
  EXPECT_NEAR(lon, 116.33353433, 5e-9);
  EXPECT_NEAR(lat, 39.89425132, 5e-9);
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/coords.txt"),
            "2\r\nduck.kmz\r\n116.333534 \r\n39.894251 \r\nhouse.kmz\r\n116.400000 \r\n39.950000 \r\n");
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/scope.txt"), "116.333434 \r\n39.894151 \r\n116.400100 \r\n39.950100 \r\n");

  // Another projection hands the grid values through as they are.
  ASSERT_TRUE(Run(L"EPSG:3857"));
  PackagePosition(F_ + "/middle/duck.kmz", lon, lat);
  EXPECT_EQ(lon, 39443000);
  EXPECT_EQ(lat, 4418000);
  const std::string grid = "2\r\nduck.kmz\r\n39443000.000000 \r\n4418000.000000 \r\n";
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/coords.txt").substr(0, grid.size()), grid);
}

TEST_F(GenNeededFile, OnlyBothValuesAboveTheGeographicRangeAreConverted) {
  AddModel(F_, "a", Duck(), "200\n80\n");
  AddModel(F_, "b", Duck(), "100\n95\n");
  ASSERT_TRUE(Run(L"EPSG:4527"));
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/coords.txt"),
            "2\r\na.kmz\r\n200.000000 \r\n80.000000 \r\nb.kmz\r\n100.000000 \r\n95.000000 \r\n");
}

TEST_F(GenNeededFile, ModelsWithoutAUsablePositionAreLeftOutConsistently) {
  AddModel(F_, "a_ok", Duck(), "116.1\n39.1\n");
  AddModel(F_, "b_noprefix", Duck(), "443000\n4418000\n");  // easting without its zone: PROJ fails
  AddModel(F_, "c_huge", Duck(), "1e300\n5\n");             // "%f " would not fit its buffer
  AddModel(F_, "d_nan", Duck(), "nan\n5\n");
  AddModel(F_, "e_ok", TexturedMacky(), "116.2\n39.2\n");
  ASSERT_TRUE(Run(L"EPSG:4527"));
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/coords.txt"),
            "2\r\na_ok.kmz\r\n116.100000 \r\n39.100000 \r\ne_ok.kmz\r\n116.200000 \r\n39.200000 \r\n");
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/scope.txt"), "116.099900 \r\n39.099900 \r\n116.200100 \r\n39.200100 \r\n");
  for (const char* name : {"b_noprefix", "c_huge", "d_nan"})
    EXPECT_FALSE(kmztest::Exists(F_ + "/middle/" + name + ".kmz")) << name;
  EXPECT_TRUE(kmztest::Exists(F_ + "/middle/e_ok.kmz"));
}

TEST_F(GenNeededFile, UpperCaseModelFileAndMissingLocationText) {
  AddModel(F_, "house", TexturedMacky(), "", true, ".DAE");
  ASSERT_TRUE(Run());
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/coords.txt"), "1\r\nhouse.kmz\r\n0.000000 \r\n0.000000 \r\n");
  EXPECT_TRUE(kmztest::Exists(F_ + "/middle/house.kmz"));
}

TEST_F(GenNeededFile, LongitudesAtOrAbove180LeaveTheSmallestAt180) {
  AddModel(F_, "a", Duck(), "180\n10\n");
  ASSERT_TRUE(Run());
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/scope.txt").substr(0, 12), "179.999900 \r");
}

TEST_F(GenNeededFile, NoModelFileFailsButCreatesMiddleAndStoresTexts) {
  kmztest::WriteFile(F_ + "/readme.txt", "x");
  EXPECT_FALSE(Run(L"EPSG:4527"));
  EXPECT_EQ(result_, "unchanged");
  EXPECT_TRUE(kmztest::Exists(F_ + "/middle"));
  EXPECT_FALSE(kmztest::Exists(F_ + "/middle/coords.txt"));
  // The stored text is what the next conversion applies.
  double lon = 0, lat = 0;
  parser_.ConvertGSToLB(39443000, 4418000, lon, lat);
  EXPECT_NEAR(lon, 116.33353433, 5e-9);
}

TEST_F(GenNeededFile, RunningAgainRewritesEverything) {
  AddModel(F_, "a", Duck(), "10\n20\n");
  AddModel(F_, "b", Duck(), "11\n21\n");
  ASSERT_TRUE(Run());
  kmztest::WriteFile(F_ + "/a.txt", "12\n22\n");
  std::remove((F_ + "/b.dae").c_str());
  ASSERT_TRUE(Run());
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/coords.txt"), "1\r\na.kmz\r\n12.000000 \r\n22.000000 \r\n");
  double lon = 0, lat = 0;
  PackagePosition(F_ + "/middle/a.kmz", lon, lat);
  EXPECT_EQ(lon, 12);
}

TEST_F(GenNeededFile, ModelsWhosePackageFailsAreLeftOutAndTheirStaleArchivesRemoved) {
  AddModel(F_, "a", Duck(), "10\n20\n");
  ASSERT_TRUE(Run());
  ASSERT_TRUE(kmztest::Exists(F_ + "/middle/a.kmz"));
  // A template without a model placemark packages nothing.
  kmztest::WriteFile(F_ + "/doc.kml", "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder/></kml>");
  kmztest::WriteFile(F_ + "/a.txt", "11\n21\n");
  ASSERT_TRUE(Run());
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle/coords.txt"), "0\r\n");
  EXPECT_FALSE(kmztest::Exists(F_ + "/middle/a.kmz"));
}

// The template check says what packaging does: a template it takes packs
// every model through the library's own chain, and one it refuses loses a
// model there. Each model's document is the one before it with its first
// placemark replaced, so a template can break at the first model or a later
// one without failing to read or write.
TEST_F(GenNeededFile, TheTemplateCheckTakesATemplateExactlyWhenEveryModelIsPacked) {
  const std::string usual = TemplateKml({"Model"});
  const auto replaced = [&](const std::string& what, const std::string& with) {
    std::string kml = usual;
    kml.replace(kml.find(what), what.size(), with);
    return kml;
  };
  const std::string folderStart = "<Folder><name>template</name>\n";
  const std::string folderEnd = "</Folder>\n</kml>";
  const std::string point = "<Placemark><name>Model</name><Point><coordinates>1,2</coordinates></Point></Placemark>";
  const struct {
    const char* what;
    std::string kml;
  } templates[] = {
      {"one pattern", usual},
      {"two patterns taken in turn", TemplateKml({"a", "b"})},
      {"a pattern without a name or id", replaced("<Placemark id=\"Model\"><name>Model</name>", "<Placemark>")},
      {"a folder of another name before the pattern",
       replaced(folderStart, folderStart + "<Folder><name>x</name></Folder>")},
      {"a pattern without a name", replaced("<name>Model</name>", "")},
      {"a folder named as the pattern before it",
       replaced(folderStart, folderStart + "<Folder><name>Model</name></Folder>")},
      {"a point placemark named as the pattern after it", replaced(folderEnd, point + folderEnd)},
      {"an attribute value holding &", replaced(folderStart, folderStart + "<Style id=\"a&amp;b\"/>")},
      {"an attribute value escaped twice", replaced(folderStart, folderStart + "<Style id=\"a&amp;amp;b\"/>")},
  };
  for (const char* name : {"1", "2", "3"}) AddModel(F_, name, Duck(), "116.5\n39.9\n", false);
  for (const auto& t : templates) {
    std::filesystem::remove_all(F_ + "/middle");
    kmztest::WriteFile(F_ + "/doc.kml", t.kml);
    const bool taken = kmztile::placement::detail::CheckTemplateKml(t.kml, false).empty();
    Run();
    std::size_t packed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(F_ + "/middle"))
      packed += entry.path().extension() == ".kmz";
    EXPECT_EQ(taken, packed == 3) << t.what << ": " << packed << " of 3 models packed";
  }
}

// A file where the package folder belongs takes no package: packaging says
// so once and stops, leaving the template as it was (it used to rewrite it
// for every model and name each one as left out for an unusable template).
TEST_F(GenNeededFile, AFileWhereThePackageFolderBelongsStopsBeforeAnyModel) {
  AddModel(F_, "duck", Duck(), "116.5\n39.9\n");
  AddModel(F_, "house", TexturedMacky(), "116.4\n39.95\n");
  kmztest::WriteFile(F_ + "/middle", "not a folder");
  const std::string before = kmztest::ReadFile(F_ + "/doc.kml");
  kmztile::platform::TakeProblems();
  EXPECT_FALSE(Run());
  EXPECT_EQ(result_, "unchanged");
  EXPECT_EQ(kmztest::ReadFile(F_ + "/doc.kml"), before);
  EXPECT_EQ(kmztest::ReadFile(F_ + "/middle"), "not a folder");
  const auto problems = kmztile::platform::TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].file, F_ + "/middle");
  EXPECT_NE(problems[0].reason.find("is a file"), std::string::npos) << problems[0].reason;
}
