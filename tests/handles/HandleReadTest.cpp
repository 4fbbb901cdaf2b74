// Reading entries through an open handle: single entries, texture lists,
// the directory-tolerant rule, damaged entries and real archives.
#include "HandleTestSupport.h"
#include "TestSupport.h"

using kmztest::LazyArchive;
using kmztest::MakeZip;

namespace {

const std::string kModel = "<COLLADA>model</COLLADA>";

std::string ReadArchive() {
  return MakeZip({{"doc.kml", kmztest::MakeModelKml({{"1", "models/m.dae", 3, 4}})},
                  {"images/", ""},
                  {"images/a.jpg", "AAAA"},
                  {"images/empty.png", ""},
                  {"models/m.dae", kModel},
                  {"models/stored.dae", "plain", true}});
}

}  // namespace

TEST(ReadOneKmzData, ReadsAnEntryAsOftenAsAsked) {
  LazyArchive a(ReadArchive());
  ASSERT_TRUE(a.opened);
  std::string first = "old", second;
  EXPECT_TRUE(a.Read("models/m.dae", first));
  EXPECT_TRUE(a.Read("models/m.dae", second));
  EXPECT_EQ(first, kModel);
  EXPECT_EQ(second, kModel);
  EXPECT_TRUE(a.Read("models/stored.dae", first));
  EXPECT_EQ(first, "plain");
}

TEST(ReadOneKmzData, OnlyADirectoryNameMayFailWithoutFailingTheCall) {
  LazyArchive a(ReadArchive());
  ASSERT_TRUE(a.opened);
  std::string data = "host text";
  EXPECT_FALSE(a.Read("models/absent.dae", data)) << "a missing model is reported";
  EXPECT_FALSE(a.Read("MODELS/M.DAE", data)) << "names match case-sensitively";
  EXPECT_FALSE(a.Read("images/empty.png", data)) << "a zero-length file cannot be read";
  EXPECT_FALSE(a.Read("", data));
  EXPECT_EQ(data, "host text");
  EXPECT_TRUE(a.Read("images/", data));
  EXPECT_TRUE(a.Read("not/held/", data)) << "any name ending in / is treated as a directory";
  EXPECT_EQ(data, "host text");
}

TEST(ReadOneKmzData, DamagedEntryFailsItsCrcCheck) {
  std::string bytes = MakeZip({{"m.dae", "<model>intact</model>", true}, {"t.jpg", "TTTT", true}});
  const auto at = bytes.find("intact");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'I';
  LazyArchive a(bytes);
  ASSERT_TRUE(a.opened);
  std::string data = "host";
  EXPECT_FALSE(a.Read("m.dae", data));
  EXPECT_EQ(data, "host");
  EXPECT_TRUE(a.Read("t.jpg", data));
  EXPECT_EQ(data, "TTTT");
}

TEST(ReadTextureToList, FillsContentsInParallelToTheNames) {
  LazyArchive a(ReadArchive());
  ASSERT_TRUE(a.opened);
  std::vector<std::string> contents{"x", "y", "z", "w", "v"};
  EXPECT_TRUE(CBaseParser::ReadTextureToList(a.handle, {"images/", "images/a.jpg", "models/m.dae"}, contents));
  EXPECT_EQ(contents, (std::vector<std::string>{"x", "AAAA", kModel})) << "a directory keeps its element";

  EXPECT_TRUE(CBaseParser::ReadTextureToList(a.handle, {}, contents));
  EXPECT_TRUE(contents.empty());

  // The list ReadKmzToListEx gave holds the empty file, which cannot be read.
  ASSERT_EQ(a.textures["models/m.dae"],
            (std::vector<std::string>{"images/", "images/a.jpg", "images/empty.png"}));
  EXPECT_FALSE(CBaseParser::ReadTextureToList(a.handle, a.textures["models/m.dae"], contents));
}

TEST(ReadTextureToList, StopsAtTheFirstUnreadableEntry) {
  LazyArchive a(ReadArchive());
  ASSERT_TRUE(a.opened);
  std::vector<std::string> contents{"p", "q", "r", "s"};
  EXPECT_FALSE(
      CBaseParser::ReadTextureToList(a.handle, {"images/a.jpg", "images/empty.png", "models/m.dae"}, contents));
  EXPECT_EQ(contents, (std::vector<std::string>{"AAAA", "q", "r"}));
  EXPECT_FALSE(CBaseParser::ReadTextureToList(a.handle, {"missing.jpg"}, contents));
  EXPECT_EQ(contents, std::vector<std::string>{"AAAA"});
}

// Every entry of every real archive (and of one laid out like a SketchUp
// export) reads lazily exactly as ReadKmzToList reads it, and the positions
// agree. (minlodpixels holds zero-length files: both readers fail on the
// first of them.)
TEST(HandleReadRealData, LazyReadsMatchTheWholeArchiveRead) {
  std::vector<std::pair<std::string, std::string>> archives = {{"folder model", kmztest::FolderModelKmz()}};
  for (const char* relative : {
           "kmz/model/MackyBldg.kmz", "kmz/model/SharedTextures.kmz", "kmz/model/model-macky.kmz",
           "kmz/structure/nokml.kmz", "kmz/structure/weather-jpgs.kmz", "kmz/structure/minlodpixels.kmz",
           "kmz/structure/multikml-doc.kmz", "kmz/structure/zermatt-photo-bad.kmz",
           "kmz/structure/rumsey-lc01.kmz", "kmz/structure/networkLink-regions.kmz"})
    archives.emplace_back(relative, kmztest::RealData(relative));
  for (const auto& [label, path] : archives) {
    SCOPED_TRACE(label);
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> eagerLocations;
    const bool eager = CBaseParser::ReadKmzToList(path, names, contents, eagerLocations);
    LazyArchive a(path);
    ASSERT_TRUE(a.opened);
    std::vector<std::string> lazy;
    EXPECT_EQ(CBaseParser::ReadTextureToList(a.handle, names, lazy), eager);
    EXPECT_EQ(lazy, contents);
    if (!eager) continue;
    EXPECT_EQ(a.locations.size(), eagerLocations.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      std::string one;
      EXPECT_TRUE(a.Read(names[i], one)) << names[i];
      EXPECT_EQ(one, contents[i]) << names[i];
    }
  }
}
