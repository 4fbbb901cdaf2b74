// Tile KMZ writing and the tile driver: layout, entry order, texture
// reduction per level, failures that leave nothing behind, and the bytes
// handed back to the host.
#include "TileFixture.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "platform/Image.h"
#include "platform/detail/Codecs.h"

using kmztest::TileFolderTest;
using kmztest::ZipItem;
using kmztile::platform::Image;
using kmztile::platform::detail::Raster;

namespace {

Raster Gradient(long w, long h, int channels = 3) {
  Raster r{w, h, channels, {}};
  r.pixels.resize(static_cast<size_t>(w) * h * channels);
  for (size_t i = 0; i < r.pixels.size(); ++i) r.pixels[i] = static_cast<std::uint8_t>(i * 7 % 251);
  return r;
}
std::string Jpeg(long w, long h) {
  std::string out;
  EXPECT_TRUE(kmztile::platform::detail::EncodeJpeg(Gradient(w, h), 90, out));
  return out;
}
std::string Png(long w, long h) {
  std::string out;
  EXPECT_TRUE(kmztile::platform::detail::EncodePng(Gradient(w, h, 4), 1, out));
  return out;
}
std::string Tiff(long w, long h) {
  std::string out;
  EXPECT_TRUE(kmztile::platform::detail::EncodeTiff(Gradient(w, h), out));
  return out;
}
// A 24-bit BMP, written by hand.
std::string Bmp(int w, int h) {
  const int row = (w * 3 + 3) & ~3;
  const int size = 54 + row * h;
  std::string b(static_cast<size_t>(size), '\0');
  auto put32 = [&](int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, size);
  put32(10, 54);
  put32(14, 40);
  put32(18, w);
  put32(22, h);
  b[26] = 1;
  b[28] = 24;
  for (int i = 54; i < size; ++i) b[i] = static_cast<char>(i * 13);
  return b;
}

struct TileContents {
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
};
TileContents ReadTile(const std::string& source) {
  TileContents t;
  EXPECT_TRUE(CBaseParser::ReadKmzToList(source, t.names, t.contents, t.locations));
  return t;
}
std::string Content(const TileContents& t, const std::string& name) {
  for (size_t i = 0; i < t.names.size(); ++i)
    if (t.names[i] == name) return t.contents[i];
  ADD_FAILURE() << "no entry " << name;
  return {};
}
std::pair<long, long> SizeOf(const std::string& bytes) {
  Image image(bytes.data(), bytes.size(), 0);
  return {image.GetWidth(), image.GetHeight()};
}

}  // namespace

TEST_F(TileFolderTest, TileKmzLayoutAndEntryOrder) {
  AddSimpleModel("1234", 10, 10, Jpeg(64, 64));
  AddModel("beta",
           {{"models/", ""},
            {"models/beta/roof.png", Png(32, 32)},
            {"models/beta.dae", "package copy"},
            {"models/second.dae", "another model"},
            {"doc.kml", ModelDoc("models/beta.dae", 11, 11)},
            {"models/beta/other.kml", "<kml/>"}},
           ModelDoc("models/beta.dae", 11, 11), "<COLLADA>beta level copy</COLLADA>");
  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 18, {"1234.kmz", "beta.kmz"}, "18-5-6"));
  ASSERT_TRUE(CBaseParserTestAccess::CreateNewKmz(parser_, 18, {"1234.kmz", "beta.kmz"}, "18-5-6"));
  const TileContents t = ReadTile(work_ + "1/18-5-6.kmz");
  EXPECT_EQ((std::vector<std::string>{"18-5-6.kml", "models1234/1234/wall.jpg", "models1234/1234.dae",
                                      "modelsbeta/beta/roof.png", "modelsbeta/beta.dae", "modelsbeta/second.dae"}),
            t.names);
  EXPECT_EQ(kmztest::ReadFile(work_ + "1/18-5-6.kml"), t.contents[0]);
  EXPECT_EQ("<COLLADA>1234 level copy</COLLADA>", t.contents[2]);
  // Every COLLADA entry of a package receives the level's one copy.
  EXPECT_EQ("<COLLADA>beta level copy</COLLADA>", t.contents[4]);
  EXPECT_EQ(t.contents[4], t.contents[5]);
  // Each model link names its COLLADA entry.
  ASSERT_EQ(2u, t.locations.size());
  EXPECT_EQ(1234, t.locations.at("models1234/1234.dae").ID);
  EXPECT_DOUBLE_EQ(11, t.locations.at("modelsbeta/beta.dae").Lat);
}

TEST_F(TileFolderTest, TexturesAreReducedPerLevelAndSmallOnesDropped) {
  AddModel("tex",
           {{"models/tex/wide.jpg", Jpeg(512, 256)},
            {"models/tex/small.png", Png(100, 100)},
            {"models/tex/strip.JPG", Jpeg(1000, 20)},
            {"models/tex/alpha.tif", Tiff(512, 256)},
            {"models/tex/notes.txt", "not an image"},
            {"models/tex.dae", "<COLLADA/>"}},
           ModelDoc("models/tex.dae", 1, 1), "<COLLADA/>");
  for (long level : {18L, 15L}) {
    ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, level, {"tex.kmz"}, "t")) << level;
    ASSERT_TRUE(CBaseParserTestAccess::CreateNewKmz(parser_, level, {"tex.kmz"}, "t")) << level;
  }
  const TileContents one = ReadTile(work_ + "1/t.kmz");
  EXPECT_EQ((std::pair<long, long>{256, 128}), SizeOf(Content(one, "modelstex/tex/wide.jpg")));
  EXPECT_EQ((std::pair<long, long>{50, 50}), SizeOf(Content(one, "modelstex/tex/small.png")));
  EXPECT_EQ((std::pair<long, long>{500, 10}), SizeOf(Content(one, "modelstex/tex/strip.JPG")));
  const std::string tiff = Content(one, "modelstex/tex/alpha.tif");
  EXPECT_EQ(0, tiff.compare(0, 2, "II") & tiff.compare(0, 2, "MM") ? 1 : 0);
  EXPECT_EQ((std::pair<long, long>{256, 128}), SizeOf(tiff));
  EXPECT_EQ(0, Content(one, "modelstex/tex/small.png").compare(0, 4, "\x89PNG"));
  EXPECT_EQ(6u, one.names.size());  // the text file is no image and is left out

  const TileContents four = ReadTile(work_ + "4/t.kmz");
  EXPECT_EQ((std::pair<long, long>{32, 16}), SizeOf(Content(four, "modelstex/tex/wide.jpg")));
  EXPECT_EQ((std::pair<long, long>{62, 1}), SizeOf(Content(four, "modelstex/tex/strip.JPG")));
  EXPECT_EQ((std::vector<std::string>{"t.kml", "modelstex/tex/wide.jpg", "modelstex/tex/strip.JPG",
                                      "modelstex/tex/alpha.tif", "modelstex/tex.dae"}),
            four.names);  // 100 x 100 at factor 16 is 6 x 6: left out
}

TEST_F(TileFolderTest, UnknownExtensionsAreDetectedAndWrittenAsJpeg) {
  const std::string bmp = Bmp(40, 24);
  AddModel("odd",
           {{"models/odd/image.bmp", bmp},
            {"models/odd/photo.jpeg", Jpeg(64, 32)},
            {"models/odd/fake.jpg", Png(64, 64)},
            {"models/odd.dae", "<COLLADA/>"}},
           ModelDoc("models/odd.dae", 1, 1), "<COLLADA/>");
  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 18, {"odd.kmz"}, "t"));
  ASSERT_TRUE(CBaseParserTestAccess::CreateNewKmz(parser_, 18, {"odd.kmz"}, "t"));
  const TileContents t = ReadTile(work_ + "1/t.kmz");
  const std::string fromBmp = Content(t, "modelsodd/odd/image.bmp");
  EXPECT_EQ(0, fromBmp.compare(0, 3, "\xFF\xD8\xFF"));
  EXPECT_EQ((std::pair<long, long>{20, 12}), SizeOf(fromBmp));
  EXPECT_EQ((std::pair<long, long>{32, 16}), SizeOf(Content(t, "modelsodd/odd/photo.jpeg")));
  // PNG bytes under a ".jpg" name are no JPEG: not decodable as stated, left out.
  EXPECT_EQ(4u, t.names.size());
}

TEST_F(TileFolderTest, LevelFolderZeroCopiesEntriesUnchanged) {
  kmztest::WriteFile(work_ + "0/.keep", "");
  const std::string png = Png(100, 100);
  AddModel("raw", {{"images/a.png", png}, {"notes.txt", "kept"}, {"models/raw.dae", "x"}},
           ModelDoc("models/raw.dae", 1, 1), "<COLLADA/>");
  kmztest::WriteFile(work_ + "0/raw.kml", ModelDoc("models/raw.dae", 1, 1));
  kmztest::WriteFile(work_ + "0/raw.dae", "<COLLADA>zero</COLLADA>");
  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 19, {"raw.kmz"}, "t"));
  ASSERT_TRUE(CBaseParserTestAccess::CreateNewKmz(parser_, 19, {"raw.kmz"}, "t"));
  const TileContents t = ReadTile(work_ + "0/t.kmz");
  EXPECT_EQ((std::vector<std::string>{"t.kml", "imagesraw/a.png", "notes.rawtxt", "modelsraw/raw.dae"}), t.names);
  EXPECT_EQ(png, t.contents[1]);
  EXPECT_EQ("<COLLADA>zero</COLLADA>", t.contents[3]);
}

TEST_F(TileFolderTest, AFailedTileLeavesNoKmzBehind) {
  AddSimpleModel("ok", 1, 1, Jpeg(16, 16));
  AddModel("empty", {{"models/empty/blank.jpg", ""}, {"models/empty.dae", "x"}}, ModelDoc("models/empty.dae", 1, 1),
           "<COLLADA/>");
  AddModel("escape", {{"../evil.jpg", Jpeg(16, 16)}, {"models/escape.dae", "x"}},
           ModelDoc("models/escape.dae", 1, 1), "<COLLADA/>");
  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 18, {"ok.kmz"}, "t"));
  // An empty package entry, a package that is missing, a name the KMZ writer refuses.
  for (const char* second : {"empty.kmz", "missing.kmz", "escape.kmz"})
    EXPECT_FALSE(CBaseParserTestAccess::CreateNewKmz(parser_, 18, {"ok.kmz", second}, "t")) << second;
  std::remove((work_ + "1/ok.dae").c_str());
  EXPECT_FALSE(CBaseParserTestAccess::CreateNewKmz(parser_, 18, {"ok.kmz"}, "t"));  // no level copy
  EXPECT_FALSE(CBaseParserTestAccess::CreateNewKmz(parser_, 18, {"ok.kmz"}, "none"));  // no tile document
  EXPECT_FALSE(CBaseParserTestAccess::CreateNewKmz(parser_, 9, {"ok.kmz"}, "t"));      // no level folder
  kmztest::WriteFile(work_ + "1/ok.dae", "<COLLADA/>");
  kmztile::platform::FailNthOperation(kmztile::platform::FileOp::Rename, 1);  // the final rename fails
  EXPECT_FALSE(CBaseParserTestAccess::CreateNewKmz(parser_, 18, {"ok.kmz"}, "t"));
  kmztile::platform::ResetFaultInjection();
  std::vector<kmztile::platform::DirEntry> left;
  kmztile::platform::FindEntries(work_ + "1/*", left);
  for (const auto& e : left) EXPECT_EQ(std::string::npos, e.name.find(".kmz")) << e.name;
}

TEST_F(TileFolderTest, CreateTileHandsBackTheFileBytes) {
  const std::string duckDae = kmztest::ReadFile(kmztest::RealData("collada/duck/duck_triangles.dae"));
  const std::string duckPng = kmztest::ReadFile(kmztest::RealData("collada/duck/duckCM.png"));
  long row = 0, column = 0;
  TileOf(116.3912, 39.9074, 17, row, column);
  IPyramidPtr pyramid = CreateGeographicPyramid();
  double w = 0, s = 0, e = 0, n = 0;
  VARIANT_BOOL valid = 0;
  pyramid->GetTileBounds(17, row, column, &w, &s, &e, &n, &valid);
  const double lon = (w + e) / 2, lat = (s + n) / 2;
  AddModel("duck", {{"models/duck/duckCM.png", duckPng}, {"models/duck.dae", duckDae}, {"doc.kml", "<kml/>"}},
           ModelDoc("models/duck.dae", lon, lat), duckDae);
  AddSimpleModel("77", lon + (e - w) / 4, lat, Jpeg(128, 128));
  WriteCoords({{"duck.kmz", lon, lat}, {"77.kmz", lon + (e - w) / 4, lat}, {"far.kmz", 0.5, 0.5}});

  std::string kmz = "untouched";
  ASSERT_TRUE(parser_.CreateTile(pyramid, 17, row, column, &kmz));
  EXPECT_EQ(2, parser_.GetLastTileModelCount());
  char name[64];
  std::snprintf(name, sizeof name, "17-%ld-%ld", row, column);
  EXPECT_EQ(kmztest::ReadFile(work_ + "2/" + name + ".kmz"), kmz);
  EXPECT_TRUE(kmztest::Exists(work_ + "2/" + name + ".kml"));

  const TileContents fromBytes = ReadTile(kmz);
  const TileContents fromPath = ReadTile(work_ + "2/" + name + ".kmz");
  EXPECT_EQ(fromPath.names, fromBytes.names);
  EXPECT_EQ(fromPath.contents, fromBytes.contents);
  EXPECT_EQ((std::pair<long, long>{128, 128}), SizeOf(Content(fromBytes, "modelsduck/duck/duckCM.png")));
  EXPECT_EQ(duckDae, Content(fromBytes, "modelsduck/duck.dae"));
  EXPECT_EQ(77, fromBytes.locations.at("models77/77.dae").ID);

  // The same tile again gives the same bytes: nothing in it depends on the clock.
  std::string again;
  ASSERT_TRUE(parser_.CreateTile(pyramid, 17, row, column, &again));
  EXPECT_EQ(kmz, again);
  std::string fromDisk;
  ASSERT_TRUE(CBaseParserTestAccess::GetLastKmz(parser_, 17, name, &fromDisk));
  EXPECT_EQ(kmz, fromDisk);
}

TEST_F(TileFolderTest, CreateTileEmptyInvalidAndMissingInput) {
  AddSimpleModel("a", 100, 40);
  WriteCoords({{"a.kmz", 100, 40}});
  std::string kmz = "untouched";
  // A tile without models: true, empty, nothing written.
  ASSERT_TRUE(parser_.CreateTile(CreateGeographicPyramid(), 18, 0, 0, &kmz));
  EXPECT_TRUE(kmz.empty());
  EXPECT_EQ(0, parser_.GetLastTileModelCount());
  EXPECT_FALSE(kmztest::Exists(work_ + "1/18-0-0.kml"));

  // A tile the pyramid does not have, or a level without a level folder: false, nothing changes.
  kmz = "untouched";
  EXPECT_FALSE(parser_.CreateTile(CreateGeographicPyramid(), 18, -1, 0, &kmz));
  EXPECT_FALSE(parser_.CreateTile(CreateGeographicPyramid(), 2, 0, 3, &kmz));
  EXPECT_FALSE(parser_.CreateTile(IPyramidPtr(), 18, 0, 0, &kmz));
  EXPECT_EQ("untouched", kmz);
  EXPECT_EQ(0, parser_.GetLastTileModelCount());
  EXPECT_FALSE(CBaseParserTestAccess::GetLastKmz(parser_, 2, "2-0-3", &kmz));

  // A coordinates file that is missing is reported, not taken as an empty tile.
  std::remove(coords_.c_str());
  EXPECT_FALSE(parser_.CreateTile(CreateGeographicPyramid(), 18, 0, 0, &kmz));
  EXPECT_EQ("untouched", kmz);
}

TEST_F(TileFolderTest, SketchUpStylePackageBecomesATile) {
  const std::string package = kmztest::FolderModelKmz();
  kmztest::WriteFile(work_ + "Macky.kmz", package);
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  ASSERT_TRUE(CBaseParser::ReadKmzToList(package, names, contents, locations));
  for (int n = 1; n <= 4; ++n) {
    kmztest::WriteFile(work_ + std::to_string(n) + "/Macky.kml", contents[0]);
    kmztest::WriteFile(work_ + std::to_string(n) + "/Macky.dae", contents[1]);
  }
  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 16, {"Macky.kmz"}, "t"));
  ASSERT_TRUE(CBaseParserTestAccess::CreateNewKmz(parser_, 16, {"Macky.kmz"}, "t"));
  const TileContents t = ReadTile(work_ + "3/t.kmz");
  // doc.kml and textures.txt are left out; the twenty JPEGs are reduced by 8,
  // sizes truncated (728x700 -> 91x87); one side under 8 pixels still keeps
  // a texture (856x50 -> 107x6).
  ASSERT_EQ(22u, t.names.size()) << testing::PrintToString(t.names);
  EXPECT_EQ("modelsMacky/Macky.dae", t.names[1]);
  EXPECT_EQ((std::pair<long, long>{91, 87}), SizeOf(Content(t, "imagesMacky/roofnoCulling.jpg")));
  EXPECT_EQ((std::pair<long, long>{107, 6}), SizeOf(Content(t, "imagesMacky/CU-Macky---Center-StairsnoCulling.jpg")));
  EXPECT_EQ(1u, t.locations.count("modelsMacky/Macky.dae"));
}
