// Which textures ReadKmzToListEx attributes to each model, and the positions
// it reads, for built and real archives.
#include "HandleTestSupport.h"
#include "TestSupport.h"

using kmztest::LazyArchive;
using kmztest::MakeZip;
using Textures = std::map<std::string, std::vector<std::string>>;

TEST(TextureGrouping, EachModelGetsTheEntriesStoredSinceThePreviousModel) {
  LazyArchive a(MakeZip({{"doc.kml", kmztest::MakeModelKml({{"1", "models/m1.dae", 116.5, 39.9}})},
                         {"images/a.jpg", "A"},
                         {"models/m1.dae", "<m1/>"},
                         {"images/b.jpg", "B"},
                         {"images/c.png", "C"},
                         {"models/m2.dae", "<m2/>"},
                         {"images/late.jpg", "L"}}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(a.textures, (Textures{{"models/m1.dae", {"images/a.jpg"}},
                                  {"models/m2.dae", {"images/b.jpg", "images/c.png"}}}));
  ASSERT_EQ(a.locations.size(), 1u);
  EXPECT_DOUBLE_EQ(a.locations["models/m1.dae"].Lon, 116.5);
  EXPECT_EQ(a.locations["models/m1.dae"].ID, 1);
}

TEST(TextureGrouping, ModelStoredBeforeItsTexturesGetsNone) {
  LazyArchive a(MakeZip({{"models/m.dae", "<m/>"}, {"images/t.jpg", "T"}}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(a.textures, (Textures{{"models/m.dae", {}}}));
  EXPECT_TRUE(a.locations.empty());
}

TEST(TextureGrouping, ExtensionsCompareWithoutCaseButTheKmlDocumentOnlyInLowerCase) {
  // "x.Kml" is neither a texture nor the KML document; "a.jp" is too short to
  // be considered; the directory entry counts as a texture of the next model.
  LazyArchive a(MakeZip({{"x.Kml", kmztest::MakeModelKml({{"5", "M.DAE", 1, 2}})},
                         {"a.jp", "J"},
                         {"images/", ""},
                         {"images/t.JPG", "T"},
                         {"M.DAE", "<m/>"},
                         {"n.Dae", "<n/>"}}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(a.textures, (Textures{{"M.DAE", {"images/", "images/t.JPG"}}, {"n.Dae", {}}}));
  EXPECT_TRUE(a.locations.empty()) << "only a name ending in lower-case .kml is the KML document";
}

TEST(TextureGrouping, ExistingKeysKeepTheirValues) {
  Textures textures{{"models/m1.dae", {"kept"}}};
  std::map<std::string, LonLatID> locations{{"models/m1.dae", LonLatID{1, 2, 3}}};
  long* handle = nullptr;
  ASSERT_TRUE(CBaseParser::ReadKmzToListEx(
      MakeZip({{"doc.kml", kmztest::MakeModelKml({{"9", "models/m1.dae", 50, 60}, {"10", "models/m2.dae", 7, 8}})},
               {"t.jpg", "T"},
               {"models/m1.dae", "<m/>"},
               {"u.jpg", "U"},
               {"models/m2.dae", "<m/>"}}),
      textures, locations, handle));
  EXPECT_EQ(textures, (Textures{{"models/m1.dae", {"kept"}}, {"models/m2.dae", {"u.jpg"}}}));
  EXPECT_DOUBLE_EQ(locations["models/m1.dae"].Lon, 1);
  EXPECT_EQ(locations["models/m1.dae"].ID, 3);
  EXPECT_EQ(locations["models/m2.dae"].ID, 10);
  std::string unused;
  EXPECT_TRUE(CBaseParser::ReadOneKmzData(handle, unused, unused, true));
}

TEST(TextureGrouping, DocumentRootAndUnparsableKmlPlaceNothingButStillOpen) {
  LazyArchive doc(MakeZip({{"doc.kml", kmztest::MakeModelKml({{"1", "m.dae", 1, 1}}, "Document")},
                           {"m.dae", "<m/>"}}));
  ASSERT_TRUE(doc.opened);
  EXPECT_TRUE(doc.locations.empty());
  LazyArchive junk(MakeZip({{"doc.kml", "<kml><Folder><Placemark"}, {"m.dae", "<m/>"}}));
  ASSERT_TRUE(junk.opened);
  EXPECT_TRUE(junk.locations.empty());
  EXPECT_EQ(junk.textures.size(), 1u);
}

// Real archives (and one laid out like a SketchUp export): their textures
// mostly follow the model file, so the grouping (made for tile archives, which
// store textures first) shows what it takes.
TEST(TextureGroupingRealData, PublishedModelArchives) {
  LazyArchive house(kmztest::FolderModelKmz());
  ASSERT_TRUE(house.opened);
  EXPECT_EQ(house.textures, (Textures{{"models/Macky.dae", {}}}));
  ASSERT_EQ(house.locations.size(), 1u) << "the camera placemark in the nested Folder is not entered";
  EXPECT_NEAR(house.locations["models/Macky.dae"].Lon, kmztest::kFolderModelLon, 1e-12);

  LazyArchive macky(kmztest::RealData("kmz/model/MackyBldg.kmz"));
  ASSERT_TRUE(macky.opened);
  EXPECT_EQ(macky.textures, (Textures{{"files/CU Macky.dae", {"textures.txt"}}}));

  LazyArchive shared(kmztest::RealData("kmz/model/SharedTextures.kmz"));
  ASSERT_TRUE(shared.opened);
  EXPECT_EQ(shared.textures,
            (Textures{{"models/bldg.dae", {"Models.Shared_Textures.kml.html"}}, {"models/wall.dae", {}}}));

  LazyArchive jpgs(kmztest::RealData("kmz/structure/weather-jpgs.kmz"));
  ASSERT_TRUE(jpgs.opened);
  EXPECT_TRUE(jpgs.textures.empty());
  EXPECT_TRUE(jpgs.locations.empty());
}
