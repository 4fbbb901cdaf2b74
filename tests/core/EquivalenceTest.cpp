// The build command and the designed operations share one tile core: every
// tile `kmztile build` writes straight from a source folder is byte for byte
// the tile GenNeededFile, EarlyPrepare and CreateTile produce from a copy of
// the same folder, and both produce the same set of tiles.
#include <filesystem>
#include <map>
#include <memory>

#include "BaseParser.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kCity = std::string(KMZTILE_SOURCE_DIR) + "/samples/city";

// Every tile below OUT/tiles: "LEVEL/ROW/COLUMN.kmz" -> bytes.
std::map<std::string, std::string> BuiltTiles(const std::string& out) {
  std::map<std::string, std::string> tiles;
  for (const auto& e : fs::recursive_directory_iterator(out + "/tiles"))
    if (e.is_regular_file()) tiles[fs::relative(e.path(), out + "/tiles").string()] = kmztest::ReadFile(e.path().string());
  return tiles;
}

class CoreEquivalence : public kmztest::CliTempDirTest {
 protected:
  // Builds @p source with the command and through the designed operations
  // (in a copy), then compares every tile of levels 15 to 18.
  void ExpectSameTiles(const std::string& source, const std::string& crs) {
    const std::string out = Path("out");
    const auto run = kmztest::RunCli("build '" + source + "' '" + out + "' --quiet" + (crs.empty() ? "" : " --crs " + crs));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto built = BuiltTiles(out);

    const std::string copy = Path("copy");
    fs::copy(source, copy, fs::copy_options::recursive);
    CBaseParser parser;
    std::unique_ptr<wchar_t[]> crsText(parser.StringToBSTR(crs));
    std::wstring aux;
    std::string middle;
    ASSERT_TRUE(parser.GenNeededFile(copy, crsText.get(), aux.data(), middle));
    parser.SetRequireFile(middle + "/", middle + "/scope.txt", middle + "/coords.txt");
    ASSERT_TRUE(parser.EarlyPrepare(""));
    double west = 0, east = 0, south = 0, north = 0;
    parser.GetScopeRange(west, east, south, north);
    IPyramidPtr pyramid = CreateGeographicPyramid();
    std::map<std::string, std::string> designed;
    for (long level = 15; level <= 18; ++level) {
      long r0 = 0, c0 = 0, r1 = -1, c1 = -1;
      parser.TileIndex(west, east, south, north, level, pyramid, &r0, &c0, &r1, &c1);
      for (long r = r0; r <= r1; ++r)
        for (long c = c0; c <= c1; ++c) {
          std::string kmz;
          ASSERT_TRUE(parser.CreateTile(pyramid, level, r, c, &kmz)) << level << "/" << r << "/" << c;
          if (!kmz.empty())
            designed[std::to_string(level) + "/" + std::to_string(r) + "/" + std::to_string(c) + ".kmz"] = kmz;
        }
    }
    ASSERT_EQ(built.size(), designed.size());
    for (const auto& [path, bytes] : designed) {
      const auto it = built.find(path);
      ASSERT_NE(it, built.end()) << path << " was not built";
      EXPECT_TRUE(it->second == bytes) << path << " differs (" << it->second.size() << " vs " << bytes.size() << " bytes)";
    }
  }
};

}  // namespace

TEST_F(CoreEquivalence, SampleCityTilesAreTheDesignedTiles) { ExpectSameTiles(kCity, "EPSG:4527"); }

// Real models (many JPEG textures, a PNG-textured model twice, one exactly on
// a tile corner) share tiles at the coarse levels.
TEST_F(CoreEquivalence, RealModelTilesAreTheDesignedTiles) {
  const std::string src = Path("real");
  fs::create_directories(src + "/0001");
  fs::create_directories(src + "/0002");
  fs::create_directories(src + "/0003");
  fs::copy_file(kCity + "/doc.kml", src + "/doc.kml");
  const std::string macky = kmztest::RealData("collada/cu_macky/files");
  for (const auto& e : fs::directory_iterator(macky)) {
    if (e.path().extension() == ".jpg") fs::copy_file(e.path(), src + "/0001/" + e.path().filename().string());
  }
  // The models reference their images beside them; here those live in the texture folders.
  std::string mackyDae = kmztest::ReadFile(macky + "/CU Macky.dae");
  for (std::size_t at = 0; (at = mackyDae.find("../files/", at)) != std::string::npos;) mackyDae.replace(at, 9, "0001/");
  kmztest::WriteFile(src + "/0001.dae", mackyDae);
  std::string duck = kmztest::ReadFile(kmztest::RealData("collada/duck/duck_triangles.dae"));
  for (const char* n : {"0002", "0003"}) {
    std::string dae = duck;
    for (std::size_t at = 0; (at = dae.find("./duckCM.png", at)) != std::string::npos;) dae.replace(at, 2, std::string(n) + "/");
    kmztest::WriteFile(src + "/" + n + ".dae", dae);
    fs::copy_file(kmztest::RealData("collada/duck/duckCM.png"), src + "/" + n + "/duckCM.png");
  }
  kmztest::WriteFile(src + "/0001.txt", "116.3912\r\n39.9074\r\n");
  kmztest::WriteFile(src + "/0002.txt", "116.3915\r\n39.9071\r\n");
  kmztest::WriteFile(src + "/0003.txt", "116.015625\r\n40.078125\r\n");
  ExpectSameTiles(src, "");
}
