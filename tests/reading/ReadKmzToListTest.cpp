// Reading whole KMZs: entry names and contents, the model placemark walk,
// the KMZ source rule and the guards in front of libkml.
#include <climits>
#include <filesystem>

#include "BaseParser.h"
#include "TestSupport.h"
#include "kml/engine.h"

using kmztest::MakeModelKml;
using kmztest::MakeZip;
using kmztest::ModelMark;
using kmztest::ZipItem;

namespace {

struct Outputs {
  std::vector<std::string> names;
  std::vector<std::string> contents;
  std::map<std::string, LonLatID> locations;
  bool Read(const std::string& source) { return CBaseParser::ReadKmzToList(source, names, contents, locations); }
};

std::string TileLikeArchive() {
  const std::string kml = MakeModelKml({{"1234", "models1234/1234.dae", 116.391234, 39.907456},
                                        {"77", "models77/77.dae", 116.5, 39.8}});
  return MakeZip({{"0-0-0.kml", kml},
                  {"models1234/1234/wall.jpg", std::string(300, 'j')},
                  {"models1234/1234.dae", "<COLLADA/>"},
                  {"models77/77.dae", "<COLLADA version=\"1.4.1\"/>"}});
}

}  // namespace

class ReadKmzToListTest : public kmztest::TempDirTest {};

TEST_F(ReadKmzToListTest, ReadsNamesContentsAndModelPositions) {
  Outputs out;
  ASSERT_TRUE(out.Read(TileLikeArchive()));
  ASSERT_EQ(out.names.size(), 4u);
  EXPECT_EQ(out.names[0], "0-0-0.kml");
  EXPECT_EQ(out.names[2], "models1234/1234.dae");
  EXPECT_EQ(out.contents[1], std::string(300, 'j'));
  EXPECT_EQ(out.contents[2], "<COLLADA/>");
  ASSERT_EQ(out.locations.size(), 2u);
  const LonLatID& a = out.locations.at("models1234/1234.dae");
  EXPECT_DOUBLE_EQ(a.Lon, 116.391234);
  EXPECT_DOUBLE_EQ(a.Lat, 39.907456);
  EXPECT_EQ(a.ID, 1234);
  EXPECT_EQ(out.locations.at("models77/77.dae").ID, 77);
}

TEST_F(ReadKmzToListTest, BytesAndPathGiveIdenticalOutputs) {
  for (const char* name : {"kmz/model/MackyBldg.kmz", "kmz/model/model-macky.kmz", "kmz/model/SharedTextures.kmz"}) {
    const std::string path = kmztest::RealData(name);
    Outputs byPath, byBytes;
    ASSERT_TRUE(byPath.Read(path)) << name;
    ASSERT_TRUE(byBytes.Read(kmztest::ReadFile(path))) << name;
    EXPECT_EQ(byPath.names, byBytes.names) << name;
    EXPECT_EQ(byPath.contents, byBytes.contents) << name;
    ASSERT_EQ(byPath.locations.size(), byBytes.locations.size()) << name;
    for (const auto& [href, loc] : byPath.locations) {
      EXPECT_EQ(byBytes.locations.at(href).Lon, loc.Lon);
      EXPECT_EQ(byBytes.locations.at(href).ID, loc.ID);
    }
  }
}

TEST_F(ReadKmzToListTest, BackslashPathsReachTheDisk) {
  kmztest::WriteFile(Path("sub/t.kmz"), TileLikeArchive());
  Outputs out;
  EXPECT_TRUE(out.Read(Path() + "\\sub\\t.kmz"));
  EXPECT_EQ(out.names.size(), 4u);
}

TEST_F(ReadKmzToListTest, EveryEntryMatchesWhatLibkmlReads) {
  // Our indexed reader must return exactly libkml's bytes for every real archive.
  int archives = 0;
  for (const auto& dir : {"kmz/model", "kmz/structure"}) {
    for (const auto& f : std::filesystem::directory_iterator(kmztest::RealData(dir))) {
      const std::string bytes = kmztest::ReadFile(f.path().string());
      Outputs out;
      if (!out.Read(bytes)) continue;
      ++archives;
      kmlengine::KmzFilePtr kmz(kmlengine::KmzFile::OpenFromString(bytes));
      ASSERT_TRUE(kmz) << f.path();
      for (size_t i = 0; i < out.names.size(); ++i) {
        std::string expected;
        if (kmz->ReadFile(out.names[i].c_str(), &expected)) {
          EXPECT_EQ(out.contents[i], expected) << out.names[i];
        }
      }
    }
  }
  EXPECT_GE(archives, 20);
}

TEST_F(ReadKmzToListTest, FailuresLeaveTheOutputsUntouched) {
  Outputs out;
  out.names = {"keep"};
  out.contents = {"keep"};
  out.locations["k"] = LonLatID{1, 2, 3};
  EXPECT_FALSE(out.Read(""));
  EXPECT_FALSE(out.Read(Path("missing.kmz")));
  EXPECT_FALSE(out.Read(Path()));  // a folder
  kmztest::WriteFile(Path("garbage.kmz"), "this is not a zip archive");
  EXPECT_FALSE(out.Read(Path("garbage.kmz")));
  EXPECT_FALSE(out.Read(std::string("PK\x03\x04", 4) + std::string(200, 'x')));
  const std::string good = TileLikeArchive();
  EXPECT_FALSE(out.Read(good.substr(0, good.size() - 10)));  // truncated directory
  EXPECT_EQ(out.names, std::vector<std::string>{"keep"});
  EXPECT_EQ(out.contents, std::vector<std::string>{"keep"});
  EXPECT_EQ(out.locations.size(), 1u);
}

TEST_F(ReadKmzToListTest, RealMalformedArchivesAreRefusedWithoutCrashing) {
  for (const auto& f : std::filesystem::directory_iterator(kmztest::RealData("kmz/malformed"))) {
    Outputs out;
    EXPECT_FALSE(out.Read(f.path().string())) << f.path();
  }
}

TEST_F(ReadKmzToListTest, DirectoryEntriesAreListedWithEmptyContent) {
  Outputs out;
  ASSERT_TRUE(out.Read(MakeZip({{"images/", ""}, {"images/a.jpg", "jpeg"}, {"doc.kml", "<kml/>"}})));
  ASSERT_EQ(out.names.size(), 3u);
  EXPECT_EQ(out.names[0], "images/");
  EXPECT_EQ(out.contents[0], "");
  EXPECT_EQ(out.contents[1], "jpeg");
}

TEST_F(ReadKmzToListTest, ZeroLengthFileFailsAfterTheEntriesBeforeIt) {
  Outputs out;
  EXPECT_FALSE(out.Read(MakeZip({{"a.txt", "first"}, {"empty.txt", ""}, {"c.txt", "third"}})));
  ASSERT_EQ(out.names.size(), 3u);
  EXPECT_EQ(out.contents[0], "first");
  EXPECT_EQ(out.contents[2], "");
  EXPECT_TRUE(out.locations.empty());
}

TEST_F(ReadKmzToListTest, ContainersAreResizedNotClearedAndKeysKept) {
  Outputs out;
  out.contents = {"1", "2", "3", "4", "5"};
  out.locations["models77/77.dae"] = LonLatID{1, 2, 3};
  ASSERT_TRUE(out.Read(TileLikeArchive()));
  EXPECT_EQ(out.contents.size(), 4u);
  EXPECT_EQ(out.locations.at("models77/77.dae").ID, 3);
  EXPECT_EQ(out.locations.at("models77/77.dae").Lon, 1);

  Outputs dirs;
  dirs.contents = {"old", "x", "y", "z", "w"};
  ASSERT_TRUE(dirs.Read(MakeZip({{"d/", ""}, {"d/f", "new"}, {"doc.kml", "<kml/>"}})));
  EXPECT_EQ(dirs.contents, (std::vector<std::string>{"old", "new", "<kml/>"}));
}

TEST_F(ReadKmzToListTest, FirstPlacemarkWithAnHrefWins) {
  Outputs out;
  const std::string kml = MakeModelKml({{"1", "m.dae", 10, 20}, {"2", "m.dae", 30, 40}});
  ASSERT_TRUE(out.Read(MakeZip({{"doc.kml", kml}})));
  ASSERT_EQ(out.locations.size(), 1u);
  EXPECT_EQ(out.locations.at("m.dae").ID, 1);
  EXPECT_EQ(out.locations.at("m.dae").Lon, 10);
}

TEST_F(ReadKmzToListTest, IdsAreReadAsNumbersTruncatedAndSaturated) {
  const std::vector<std::pair<std::string, long>> cases = {
      {"7", 7},         {"7.9", 7},           {"x7", 0},           {"", 0},
      {"-3.5", -3},     {"12abc", 12},        {"1e12", INT32_MAX}, {"-1e12", INT32_MIN},
      {"nan", 0},       {"2147483647", INT32_MAX}};
  std::vector<ModelMark> marks;
  for (size_t i = 0; i < cases.size(); ++i) marks.push_back({cases[i].first, "m" + std::to_string(i) + ".dae", 1, 2});
  Outputs out;
  ASSERT_TRUE(out.Read(MakeZip({{"doc.kml", MakeModelKml(marks)}})));
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(out.locations.at("m" + std::to_string(i) + ".dae").ID, cases[i].second) << "id '" << cases[i].first << "'";
}

TEST_F(ReadKmzToListTest, OnlyModelPlacemarksDirectlyInTheRootFolderCount) {
  const std::string kml =
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder>"
      "<Placemark id=\"1\"><Point><coordinates>1,2</coordinates></Point></Placemark>"
      "<Placemark id=\"2\"><Model><Link><href>noloc.dae</href></Link></Model></Placemark>"
      "<Placemark id=\"3\"><Model><Location><longitude>5</longitude></Location></Model></Placemark>"
      "<Placemark id=\"4\"/>"
      "<Folder><Placemark id=\"5\"><Model><Location/><Link><href>nested.dae</href></Link></Model></Placemark></Folder>"
      "<Placemark id=\"6\"><Model><Location><longitude>8</longitude><latitude>9</latitude></Location>"
      "<Link><href>ok.dae</href></Link></Model></Placemark>"
      "</Folder></kml>";
  Outputs out;
  ASSERT_TRUE(out.Read(MakeZip({{"doc.kml", kml}})));
  ASSERT_EQ(out.locations.size(), 1u);
  EXPECT_EQ(out.locations.at("ok.dae").ID, 6);
  EXPECT_EQ(out.locations.at("ok.dae").Lat, 9);
}

TEST_F(ReadKmzToListTest, DocumentRootOrMissingKmlAddsNoLocations) {
  Outputs out;
  ASSERT_TRUE(out.Read(MakeZip({{"doc.kml", MakeModelKml({{"1", "m.dae", 1, 2}}, "Document")}})));
  EXPECT_TRUE(out.locations.empty());
  ASSERT_TRUE(out.Read(MakeZip({{"a.txt", "x"}, {"b.KML", MakeModelKml({{"1", "m.dae", 1, 2}})}})));
  EXPECT_TRUE(out.locations.empty());
  ASSERT_TRUE(out.Read(MakeZip({{"doc.kml", "<not xml"}})));
  EXPECT_TRUE(out.locations.empty());
}

TEST_F(ReadKmzToListTest, TheFirstKmlEntryIsTheDocumentNotDocKml) {
  Outputs out;
  ASSERT_TRUE(out.Read(kmztest::RealData("kmz/structure/multikml-nodoc.kmz")));
  ASSERT_TRUE(out.Read(MakeZip({{"z/c.kml", MakeModelKml({{"1", "first.dae", 1, 2}})},
                                {"doc.kml", MakeModelKml({{"2", "second.dae", 1, 2}})}})));
  EXPECT_EQ(out.locations.count("first.dae"), 1u);
  EXPECT_EQ(out.locations.count("second.dae"), 0u);
}

TEST_F(ReadKmzToListTest, DamagedEntryFailsItsCrcCheck) {
  std::string zip = MakeZip({{"doc.kml", "<kml/>"}, {"data.bin", "0123456789abcdef", true}});
  const auto at = zip.find("0123456789abcdef");
  ASSERT_NE(at, std::string::npos);
  zip[at + 3] = 'X';
  Outputs out;
  EXPECT_FALSE(out.Read(zip));
}

TEST_F(ReadKmzToListTest, LongEntryNamesAreRefusedBeforeLibkmlListsThem) {
  Outputs out;
  EXPECT_FALSE(out.Read(MakeZip({{std::string(1100, 'a') + ".jpg", "x"}, {"doc.kml", "<kml/>"}})));
  EXPECT_TRUE(out.names.empty());
  // libkml lists names of 256 to 1,023 bytes but never reads them.
  EXPECT_FALSE(out.Read(MakeZip({{std::string(300, 'b'), "x"}})));
  EXPECT_EQ(out.names.size(), 1u);
}

TEST_F(ReadKmzToListTest, DuplicateNamesReadTheFirstCopy) {
  Outputs out;
  ASSERT_TRUE(out.Read(MakeZip({{"a.txt", "first"}, {"a.txt", "second"}})));
  ASSERT_EQ(out.names.size(), 2u);
  EXPECT_EQ(out.contents[0], "first");
  EXPECT_EQ(out.contents[1], "first");
}

TEST_F(ReadKmzToListTest, NamesAreCaseSensitive) {
  Outputs out;
  ASSERT_TRUE(out.Read(MakeZip({{"A.txt", "upper"}, {"a.txt", "lower"}})));
  EXPECT_EQ(out.contents, (std::vector<std::string>{"upper", "lower"}));
}

TEST_F(ReadKmzToListTest, NoFileDescriptorIsLeaked) {
  const std::string path = kmztest::RealData("kmz/model/MackyBldg.kmz");
  const int before = kmztest::OpenFdCount();
  for (int i = 0; i < 20; ++i) {
    Outputs out;
    ASSERT_TRUE(out.Read(path));
    out.Read(Path("missing.kmz"));
  }
  EXPECT_EQ(kmztest::OpenFdCount(), before);
}
