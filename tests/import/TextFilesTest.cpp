// The scope file, the coordinates file and the placemark location list.
#include <chrono>
#include <climits>

#include "ImportFixture.h"

namespace importtest {
namespace {

using kmztest::ModelMark;
using kmztest::ReadFile;

struct Range {
  double a = -1, b = -1, c = -1, d = -1;
};

class TextFilesTest : public ImportTest {
 protected:
  Range Scope() {
    Range r;
    result_ = parser_.GetScopeRange(r.a, r.b, r.c, r.d);
    return r;
  }
  Range Models() {
    Range r;
    result_ = parser_.GetAllModelRange("ignored", &r.a, &r.b, &r.c, &r.d);
    return r;
  }
  bool result_ = false;
};

void ExpectRange(const Range& r, double a, double b, double c, double d) {
  EXPECT_DOUBLE_EQ(r.a, a);
  EXPECT_DOUBLE_EQ(r.b, b);
  EXPECT_DOUBLE_EQ(r.c, c);
  EXPECT_DOUBLE_EQ(r.d, d);
}

TEST_F(TextFilesTest, TheScopeFileIsDeliveredAsWestEastSouthNorth) {
  kmztest::WriteFile(Work("scope.txt"), "116.300000 \r\n39.900000 \r\n116.500000 \r\n40.100000 \r\n");
  ExpectRange(Scope(), 116.3, 116.5, 39.9, 40.1);
  EXPECT_TRUE(result_);
  kmztest::WriteFile(Work("scope.txt"), "-1.5\n-2.5\n3.5\n4.5");  // LF and no final line end
  ExpectRange(Scope(), -1.5, 3.5, -2.5, 4.5);
}

TEST_F(TextFilesTest, AShortScopeFileGivesZeroForEachMissingLine) {
  kmztest::WriteFile(Work("scope.txt"), "116.3\r\n39.9\r\n");
  ExpectRange(Scope(), 116.3, 0.0, 39.9, 0.0);
  EXPECT_TRUE(result_);
}

TEST_F(TextFilesTest, MissingRangeFilesAreReportedAndLeaveTheOutputsAlone) {
  ExpectRange(Scope(), -1, -1, -1, -1);
  EXPECT_FALSE(result_);
  ExpectRange(Models(), -1, -1, -1, -1);
  EXPECT_FALSE(result_);
  fs::create_directories(Work("scope.txt"));  // a folder cannot be read either
  ExpectRange(Scope(), -1, -1, -1, -1);
  EXPECT_FALSE(result_);
}

TEST_F(TextFilesTest, TheModelExtentCountsEveryModelOfTheCoordinatesFile) {
  kmztest::WriteFile(Work("coords.txt"),
                     "3\r\na.kmz\r\n116.400000 \r\n39.900000 \r\nb.kmz\r\n116.200000 \r\n40.000000 \r\n"
                     "c.kmz\r\n116.600000 \r\n39.800000 \r\n");
  ExpectRange(Models(), 39.8, 116.2, 40.0, 116.6);  // the third model's values count
  EXPECT_TRUE(result_);
  kmztest::WriteFile(Work("coords.txt"), "2\na.kmz\n10\n20\nb.kmz\n-10\n-20\n");
  ExpectRange(Models(), -20, -10, 20, 10);
  kmztest::WriteFile(Work("coords.txt"), "1\r\na.kmz\r\n10\r\n20\r\nb.kmz\r\n-10\r\n-20\r\n");
  ExpectRange(Models(), 20, 10, 20, 10);  // only N models are read
}

TEST_F(TextFilesTest, TheFirstGroupIsReadEvenForACountOfZero) {
  kmztest::WriteFile(Work("coords.txt"), "0\r\na.kmz\r\n116.4\r\n39.9\r\n");
  ExpectRange(Models(), 39.9, 116.4, 39.9, 116.4);
  kmztest::WriteFile(Work("coords.txt"), "");
  ExpectRange(Models(), 0, 0, 0, 0);
  EXPECT_TRUE(result_);
}

TEST_F(TextFilesTest, GroupsMissingFromTheFileCountAsAModelAtZero) {
  kmztest::WriteFile(Work("coords.txt"), "3\r\na.kmz\r\n116.4\r\n39.9\r\nb.kmz\r\n116.6\r\n40.1\r\n");
  ExpectRange(Models(), 0, 0, 40.1, 116.6);
  // A count far beyond the file's content ends as soon as the file does.
  kmztest::WriteFile(Work("coords.txt"), "2000000000\r\na.kmz\r\n-116.4\r\n-39.9\r\n");
  const auto start = std::chrono::steady_clock::now();
  ExpectRange(Models(), -39.9, -116.4, 0, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// --- placemark location list ------------------------------------------

class LocationListTest : public TextFilesTest {
 protected:
  void SetUp() override {
    TextFilesTest::SetUp();
    MakeLevels();
  }
};

TEST_F(LocationListTest, ModelPlacemarksFromTheThirdFeatureOnAreListed) {
  const std::string kml = kmztest::MakeModelKml({{"model_a", "a.dae", 1, 2},
                                                 {"model_b", "b.dae", 3, 4},
                                                 {"model_1", "m.dae", 116.391234, 39.907456},
                                                 {"", "n.dae", -0.5, 0.25}});
  kmztest::WriteFile(Level(1, "house.kml"), kml);
  EXPECT_TRUE(Access::CreateLocationTxt(parser_, 18, "house"));
  EXPECT_EQ(ReadFile(Level(1, "house.txt")),
            "model_1\r\n116.3912340000\r\n39.9074560000\r\n\r\n-0.5000000000\r\n0.2500000000\r\n");
}

TEST_F(LocationListTest, ThreePlacemarksGiveOneGroupAndOtherFeaturesAddNothing) {
  std::string kml = kmztest::MakeModelKml({{"p0", "a.dae", 1, 2}, {"p1", "b.dae", 3, 4}, {"p2", "c.dae", 5, 6}});
  kmztest::WriteFile(Level(4, "three.kml"), kml);
  EXPECT_TRUE(Access::CreateLocationTxt(parser_, 15, "three"));
  EXPECT_EQ(ReadFile(Level(4, "three.txt")), "p2\r\n5.0000000000\r\n6.0000000000\r\n");

  // A point placemark, a model without Location and a nested Folder are skipped.
  const std::string others =
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder><Placemark/><Placemark/>"
      "<Placemark id=\"pt\"><Point><coordinates>1,2</coordinates></Point></Placemark>"
      "<Placemark id=\"noloc\"><Model><Link><href>x.dae</href></Link></Model></Placemark>"
      "<Folder id=\"f\"/>"
      "<Placemark id=\"ok\"><Model><Location><longitude>7</longitude></Location></Model></Placemark>"
      "</Folder></kml>";
  kmztest::WriteFile(Level(2, "mixed.kml"), others);
  EXPECT_TRUE(Access::CreateLocationTxt(parser_, 17, "mixed"));
  EXPECT_EQ(ReadFile(Level(2, "mixed.txt")), "ok\r\n7.0000000000\r\n0.0000000000\r\n");
}

TEST_F(LocationListTest, AnotherStructureOrAMissingKmlGivesAnEmptyList) {
  kmztest::WriteFile(Level(3, "doc.kml"),
                     kmztest::MakeModelKml({{"a", "a", 1, 1}, {"b", "b", 1, 1}, {"c", "c", 1, 1}}, "Document"));
  kmztest::WriteFile(Level(3, "broken.kml"), "<kml><Folder>");
  kmztest::WriteFile(Level(3, "list.txt"), "stale content");
  for (const char* stem : {"doc", "broken", "missing"}) {
    EXPECT_TRUE(Access::CreateLocationTxt(parser_, 16, stem)) << stem;
    EXPECT_EQ(ReadFile(Level(3, std::string(stem) + ".txt")), "") << stem;
  }
}

TEST_F(LocationListTest, LevelsWithoutASingleDigitFolderWriteNothing) {
  kmztest::WriteFile(Level(1, "house.kml"), kmztest::MakeModelKml({}));
  // Folder numbers 0 and 5 to 9 name folders the import never creates.
  EXPECT_TRUE(Access::CreateLocationTxt(parser_, 19, "house"));
  EXPECT_TRUE(Access::CreateLocationTxt(parser_, 10, "house"));
  // Other levels have no one-digit folder at all.
  for (int level : {9, 20, 0, -5, INT_MIN, INT_MAX}) EXPECT_FALSE(Access::CreateLocationTxt(parser_, level, "house"));
  EXPECT_FALSE(Access::CreateLocationTxt(parser_, 18, ""));
  // The stem names one file of the level folder, nothing beyond it.
  EXPECT_FALSE(Access::CreateLocationTxt(parser_, 18, "..\\..\\escape"));
  EXPECT_FALSE(Access::CreateLocationTxt(parser_, 18, "../escape"));
  EXPECT_EQ(LevelNames(1), std::vector<std::string>{"house.kml"});
  std::vector<std::string> top;
  for (const auto& e : fs::directory_iterator(Path())) top.push_back(e.path().filename().string());
  EXPECT_EQ(top, std::vector<std::string>{"work"});
  EXPECT_EQ(std::distance(fs::directory_iterator(Work()), fs::directory_iterator()), 4);
}

TEST_F(LocationListTest, RealPackageWithItsModelAsSecondFeatureGivesAnEmptyList) {
  AddFolderModelPackage("Macky.kmz");
  ASSERT_TRUE(Access::GetKmlFromKmz(parser_, Package("Macky.kmz")));
  EXPECT_TRUE(Access::CreateLocationTxt(parser_, 18, "Macky"));
  // The model placemark is the second feature of the root Folder, one of the
  // two features the list never looks at.
  EXPECT_EQ(ReadFile(Level(1, "Macky.txt")), "");
}

}  // namespace
}  // namespace importtest
