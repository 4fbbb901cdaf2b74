// KML and text files built to hurt the parser: deep nesting, entity
// expansion and numbers that are not finite or barely fit a double. Reading
// stays bounded and tile building never takes such a model for a real one.
#include <chrono>
#include <climits>
#include <cmath>

#include "../tiles/TileFixture.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Nested(int depth) {
  std::string k = "<?xml version=\"1.0\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">";
  for (int i = 0; i < depth; ++i) k += "<Folder>";
  k += "<Placemark id=\"1\"><Model><Location><longitude>1</longitude><latitude>2</latitude></Location>"
       "<Link><href>m.dae</href></Link></Model></Placemark>";
  for (int i = 0; i < depth; ++i) k += "</Folder>";
  return k + "</kml>\n";
}

// Ten levels of ten-fold expansion: a billion "lol"s if nothing stops it.
std::string BillionLaughs() {
  std::string k = "<?xml version=\"1.0\"?>\n<!DOCTYPE kml [\n<!ENTITY lol0 \"lol\">\n";
  for (int i = 1; i <= 9; ++i) {
    k += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) k += "&lol" + std::to_string(i - 1) + ";";
    k += "\">\n";
  }
  return k + "]>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder><name>&lol9;</name>"
             "<Placemark id=\"1\"><Model><Location><longitude>1</longitude><latitude>2</latitude></Location>"
             "<Link><href>m.dae</href></Link></Model></Placemark></Folder></kml>\n";
}

bool ReadList(const std::string& kmz, std::map<std::string, LonLatID>& locations) {
  std::vector<std::string> names, contents;
  return CBaseParser::ReadKmzToList(kmz, names, contents, locations);
}

using Hostile = kmztest::TileFolderTest;

}  // namespace

TEST_F(Hostile, DeeplyNestedFoldersAreReadWithoutExhaustingTheStack) {
  for (int depth : {101, 10000, 200000}) {
    const std::string kml = Nested(depth);
    std::map<std::string, LonLatID> locations;
    const auto start = std::chrono::steady_clock::now();
    ReadList(kmztest::MakeZip({{"doc.kml", kml}}), locations);
    // Only placemarks directly in the root Folder count.
    EXPECT_TRUE(locations.empty()) << depth;
    EXPECT_LT(SecondsSince(start), 30.0) << depth;

    const std::string path = Path("deep.kmz");
    const std::string bytes = kmztest::MakeZip({{"deep.kml", kml}, {"m.dae", "<COLLADA/>"}});
    kmztest::WriteFile(path, bytes);
    EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path, 1, 2)) << depth;
    EXPECT_EQ(kmztest::ReadFile(path), bytes);
  }
}

TEST_F(Hostile, EntityExpansionIsBounded) {
  const std::string kml = BillionLaughs();
  const auto start = std::chrono::steady_clock::now();
  std::map<std::string, LonLatID> locations;
  // Expat stops the expansion; the document then does not parse.
  ReadList(kmztest::MakeZip({{"doc.kml", kml}}), locations);
  EXPECT_TRUE(locations.empty());
  const std::string path = Path("laughs.kmz");
  const std::string bytes = kmztest::MakeZip({{"laughs.kml", kml}, {"m.dae", "<COLLADA/>"}});
  kmztest::WriteFile(path, bytes);
  EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path, 1, 2));
  EXPECT_EQ(kmztest::ReadFile(path), bytes);

  // As a model document in a level folder: the tile is refused, nothing is left behind.
  AddSimpleModel("m", 116.4, 39.9);
  kmztest::WriteFile(work_ + "1/m.kml", kml);
  WriteCoords({{"m.kmz", 116.4, 39.9}});
  long row = 0, column = 0;
  TileOf(116.4, 39.9, 18, row, column);
  std::string tile = "unchanged";
  EXPECT_FALSE(parser_.CreateTile(CreateGeographicPyramid(), 18, row, column, &tile));
  EXPECT_EQ(tile, "unchanged");
  EXPECT_FALSE(kmztest::Exists(work_ + "1/18-" + std::to_string(row) + "-" + std::to_string(column) + ".kmz"));
  EXPECT_LT(SecondsSince(start), 30.0);
}

TEST_F(Hostile, NonFiniteAndHugeNumbersInKmlAreCarriedWithoutUndefinedBehaviour) {
  for (const char* value : {"nan", "inf", "-inf", "1e308", "-1e308", "1e400", "0x1p1024"}) {
    const std::string kml = std::string("<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder>") +
                            "<Placemark id=\"" + value + "\"><Model><Location><longitude>" + value +
                            "</longitude><latitude>" + value + "</latitude></Location>"
                            "<Link><href>m.dae</href></Link></Model></Placemark></Folder></kml>";
    std::map<std::string, LonLatID> locations;
    ASSERT_TRUE(ReadList(kmztest::MakeZip({{"doc.kml", kml}}), locations)) << value;
    ASSERT_EQ(locations.size(), 1u) << value;
    // Ids saturate to the 32-bit range whatever the text says.
    EXPECT_GE(locations.begin()->second.ID, -2147483647L - 1) << value;
    EXPECT_LE(locations.begin()->second.ID, 2147483647L) << value;
  }
}

TEST_F(Hostile, NonFiniteAndHugeNumbersInTextFilesNeverSelectAModel) {
  AddSimpleModel("m", 116.4, 39.9);
  kmztest::WriteFile(work_ + "scope.txt", "nan\r\n-inf\r\n1e308\r\n1e400\r\n");
  double west = 1, east = 1, south = 1, north = 1;
  ASSERT_TRUE(parser_.GetScopeRange(west, east, south, north));
  EXPECT_TRUE(std::isnan(west));
  EXPECT_TRUE(std::isinf(south));
  // Rows and columns of such an extent saturate instead of overflowing.
  long r0 = 0, c0 = 0, r1 = 0, c1 = 0;
  parser_.TileIndex(west, east, south, north, 18, CreateGeographicPyramid(), &r0, &c0, &r1, &c1);
  parser_.TileIndex(-1e308, 1e308, -1e308, 1e308, 18, CreateGeographicPyramid(), &r0, &c0, &r1, &c1);
  EXPECT_EQ(c0, LONG_MIN);
  EXPECT_EQ(c1, LONG_MAX);

  kmztest::WriteFile(coords_, "3\r\nm.kmz\r\nnan \r\n39.9 \r\nm.kmz\r\ninf \r\n-inf \r\nm.kmz\r\n1e308 \r\n1e400 \r\n");
  kmztile::tiles::detail::ForgetCoordinates();
  double minLat = 0, minLon = 0, maxLat = 0, maxLon = 0;
  ASSERT_TRUE(parser_.GetAllModelRange("", &minLat, &minLon, &maxLat, &maxLon));
  EXPECT_EQ(minLat, -INFINITY);
  EXPECT_EQ(maxLat, INFINITY);
  // No tile holds a model at a non-finite or enormous position.
  for (long level : {0L, 15L, 18L}) {
    long row = 0, column = 0;
    TileOf(116.4, 39.9, level, row, column);
    std::string tile = "unchanged";
    parser_.CreateTile(CreateGeographicPyramid(), level, row, column, &tile);
    EXPECT_EQ(parser_.GetLastTileModelCount(), 0) << level;
  }
  // A huge count with nothing behind it is not a reason to allocate.
  kmztest::WriteFile(coords_, "2147483647\r\nm.kmz\r\n116.4 \r\n39.9 \r\n");
  kmztile::tiles::detail::ForgetCoordinates();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(parser_.GetAllModelRange("", &minLat, &minLon, &maxLat, &maxLon));
  long row = 0, column = 0;
  TileOf(116.4, 39.9, 18, row, column);
  std::string tile;
  EXPECT_TRUE(parser_.CreateTile(CreateGeographicPyramid(), 18, row, column, &tile));
  EXPECT_EQ(parser_.GetLastTileModelCount(), 1);
  EXPECT_LT(SecondsSince(start), 10.0);
}
