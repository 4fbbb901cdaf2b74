// The tileset of a small city built through the sink, read back as a 3D
// Tiles client reads it: every content exists, every bounding volume holds
// its content (glb vertices through the accumulated transforms) and its
// children, geometric error falls strictly downwards, refinement is REPLACE,
// and the root lists only the coarsest tiles.
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

#include "ThreeDTilesTestSupport.h"
#include "tiles/detail/TextureReduction.h"

namespace {

using namespace kmztile::threedtiles;
using nlohmann::json;


struct Cell {
  long row, column;
  Region region;
};

// The pyramid's tile of a point: square cells of 360 / 2^level degrees, rows
// from latitude 90 southwards, columns from longitude -180 eastwards.
Cell CellOf(double lon, double lat, int level) {
  const double size = 360.0 / std::ldexp(1.0, level);
  const long column = static_cast<long>(std::floor((lon + 180.0) / size));
  const long row = static_cast<long>(std::floor((90.0 - lat) / size));
  return {row, column, {column * size - 180.0, 90.0 - (row + 1) * size, (column + 1) * size - 180.0, 90.0 - row * size, 0, 0}};
}

class ThreeDTilesetTest : public kmztest::TempDirTest {};

TEST_F(ThreeDTilesetTest, CityTilesetHoldsItsContentAndRefinesDownwards) {
  // Models across a level-15 boundary (116.3671875 is one) so that there are
  // several level-15 tiles, each model in its four tiles of levels 15 to 18.
  const std::vector<std::string> names = {"duck", "macky", "alphatiff", "0001", "0002", "0003", "0004", "0005"};
  // One sink for the whole build, and two more that share the tiles by
  // level-15 area as separate processes would.
  ThreeDTilesSink sink(Path("3dtiles"));
  ThreeDTilesSink parts[2] = {ThreeDTilesSink(Path("parts")), ThreeDTilesSink(Path("parts"))};
  std::map<std::tuple<int, long, long>, std::pair<Region, std::vector<std::string>>> tiles;
  std::map<std::string, kmztest::CityModel> models;
  for (std::size_t i = 0; i < names.size(); ++i) {
    models[names[i]] = kmztest::LoadCityModel(names[i]);
    Placement p;
    p.longitude = 116.362 + 0.0031 * static_cast<double>(i);
    p.latitude = 39.905 + 0.0047 * static_cast<double>(i % 3);
    p.altitude = 30.0 * static_cast<double>(i % 2);
    p.heading = 40.0 * static_cast<double>(i);
    if (names[i] == "duck") p.scaleX = p.scaleY = p.scaleZ = 0.1;
    std::string error;
    const auto lookup = [&](const std::string& reference) {
      return models[names[i]].textures.count(reference) ? reference : std::string();
    };
    const std::string dae = kmztest::ReadFile(kmztest::CityFile(names[i] + ".dae"));
    ASSERT_TRUE(sink.AddModel(names[i], dae, lookup, p, error)) << error;
    for (auto& part : parts) ASSERT_TRUE(part.AddModel(names[i], dae, lookup, p, error)) << error;
    for (int level = 15; level <= 18; ++level) {
      const Cell cell = CellOf(p.longitude, p.latitude, level);
      auto& tile = tiles[{level, cell.row, cell.column}];
      tile.first = cell.region;
      tile.second.push_back(names[i]);
    }
  }
  for (const auto& [id, tile] : tiles) {
    const auto [level, row, column] = id;
    TileTextures textures;
    for (const std::string& name : tile.second)
      for (auto [key, bytes] : models[name].textures)
        if (kmztile::tiles::detail::ReduceTexture(key, bytes, 19 - level, 2) ==
            kmztile::tiles::detail::TextureOutcome::Reduced)
          textures[key] = bytes;
    std::string error;
    ASSERT_TRUE(sink.WriteTile(level, row, column, tile.first, tile.second, textures, error)) << error;
    const long area = column >> (level - 15);
    ASSERT_TRUE(parts[area % 2].WriteTile(level, row, column, tile.first, tile.second, textures, error)) << error;
  }
  std::string error;
  ASSERT_TRUE(sink.Finish(error)) << error;
  std::vector<TileEntry> entries = parts[1].Tiles();
  entries.insert(entries.end(), parts[0].Tiles().begin(), parts[0].Tiles().end());
  ASSERT_FALSE(parts[0].Tiles().empty());
  ASSERT_FALSE(parts[1].Tiles().empty());
  ASSERT_TRUE(WriteTilesets(Path("parts"), entries, error)) << error;
  // The same files, byte for byte, however the tiles were shared out.
  std::size_t compared = 0;
  for (const auto& file : std::filesystem::recursive_directory_iterator(Path("3dtiles"))) {
    if (!file.is_regular_file()) continue;
    const auto relative = std::filesystem::relative(file.path(), Path("3dtiles"));
    ASSERT_EQ(kmztest::ReadFile(file.path()), kmztest::ReadFile(Path("parts/" + relative.string()))) << relative;
    ++compared;
  }
  std::set<std::pair<long, long>> coarsest;
  for (const auto& [id, tile] : tiles)
    if (std::get<0>(id) == 15) coarsest.insert({std::get<1>(id), std::get<2>(id)});
  ASSERT_GE(coarsest.size(), 2u);
  // A glb per tile, an external tileset per level-15 tile and the root; nothing else.
  EXPECT_EQ(compared, tiles.size() + coarsest.size() + 1);
  std::size_t written = 0;
  for (const auto& file : std::filesystem::recursive_directory_iterator(Path("parts")))
    written += file.is_regular_file() ? 1 : 0;
  EXPECT_EQ(written, compared);

  const json root = json::parse(kmztest::ReadFile(Path("3dtiles/tileset.json")));
  EXPECT_EQ(root["asset"]["version"], "1.1");
  EXPECT_EQ(root["root"]["children"].size(), coarsest.size());
  EXPECT_FALSE(root["root"].contains("transform"));
  // The root draws nothing: a client that sees the whole city must refine
  // it, so its error is at least the city's extent on the ground.
  const json& all = root["root"]["boundingVolume"]["region"];
  const auto corner = [&](int lon, int lat) {
    constexpr double kDegrees = 180.0 / 3.14159265358979323846;
    return GeodeticToEcef(all[lon].get<double>() * kDegrees, all[lat].get<double>() * kDegrees, 0.0);
  };
  const Ecef sw = corner(0, 1), ne = corner(2, 3);
  EXPECT_GE(root["root"]["geometricError"].get<double>(), std::hypot(ne[0] - sw[0], ne[1] - sw[1], ne[2] - sw[2]));
  EXPECT_GE(root["geometricError"].get<double>(), root["root"]["geometricError"].get<double>());

  kmztest::Walker walker{Path("3dtiles")};
  walker.Tile(root["root"], "tileset.json", {0, 0, 0}, 0, 0);
  EXPECT_EQ(walker.glbs, tiles.size());
  EXPECT_GT(walker.vertices, 1000u);
}

TEST(ThreeDTilesets, RefuseBrokenModelsAndTileLists) {
  ThreeDTilesSink sink("/nonexistent-never-written");
  const std::string duck = kmztest::ReadFile(kmztest::CityFile("duck.dae"));
  std::string failure;
  Placement bad;
  bad.heading = std::nan("");
  EXPECT_FALSE(sink.AddModel("m1", duck, nullptr, bad, failure));
  EXPECT_NE(failure.find("m1"), std::string::npos) << failure;
  bad = Placement{};
  bad.latitude = 91.0;
  EXPECT_FALSE(sink.AddModel("m2", duck, nullptr, bad, failure));
  bad = Placement{};  // a scale that overflowed the glb's floats to infinity
  bad.scaleX = 1e39;
  EXPECT_FALSE(sink.AddModel("m4", duck, nullptr, bad, failure));
  EXPECT_NE(failure.find("m4: with its scale and altitude it reaches farther than 100000 km"), std::string::npos)
      << failure;
  EXPECT_FALSE(sink.AddModel("m3", "", nullptr, Placement{}, failure));
  EXPECT_NE(failure.find("m3: the COLLADA file is empty"), std::string::npos) << failure;
  EXPECT_FALSE(sink.WriteTile(15, 1, 2, Region{}, {"m1"}, {}, failure));
  EXPECT_NE(failure.find("model m1 was not added"), std::string::npos) << failure;


  std::vector<TilesetFile> files;
  std::string error;
  EXPECT_FALSE(BuildTilesets({}, files, error));
  const TileEntry parent{15, 10, 20, {}, "15/10/20.glb"};
  EXPECT_FALSE(BuildTilesets({parent, TileEntry{17, 40, 80, {}, "x.glb"}}, files, error));
  EXPECT_NE(error.find("no parent tile 16/20/40"), std::string::npos) << error;
  EXPECT_FALSE(BuildTilesets({parent, parent}, files, error));
  EXPECT_NE(error.find("twice"), std::string::npos) << error;
  ASSERT_TRUE(BuildTilesets({parent, TileEntry{16, 21, 41, {}, "16/21/41.glb"}}, files, error)) << error;
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1].path, "15/10/20.json");
  // Content seen from the external tileset's own folder.
  EXPECT_NE(files[1].json.find("\"uri\":\"20.glb\""), std::string::npos) << files[1].json;
  EXPECT_NE(files[1].json.find("\"uri\":\"../../16/21/41.glb\""), std::string::npos) << files[1].json;
}

}  // namespace
