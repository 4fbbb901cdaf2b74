// glb tiles from the sample city: every one passes the Khronos validator,
// the bytes are the same on every run, and the float offsets give back the
// placed ECEF positions once the tile's centre and the Y-up turn are undone.
#include <cstdio>
#include <filesystem>
#include <map>

#include "ThreeDTilesTestSupport.h"
#include "tiles/detail/TextureReduction.h"

namespace {

using namespace kmztile::threedtiles;

std::vector<std::string> CityModelNames() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kmztest::CityFile("")))
    if (entry.path().extension() == ".dae") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

Placement PlacementOf(const std::string& name, std::size_t i) {
  Placement p;
  p.longitude = 116.37 + 0.0007 * static_cast<double>(i % 17);
  p.latitude = 39.91 + 0.0006 * static_cast<double>(i / 17);
  p.altitude = 40.0 + static_cast<double>(i % 5);
  p.heading = 13.0 * static_cast<double>(i);
  if (name == "duck") p.scaleX = p.scaleY = p.scaleZ = 0.05;
  return p;
}

// The textures of @p models reduced as the KMZ tile of level folder @p levelFolder reduces them.
TileTextures Reduced(const std::vector<kmztest::CityModel>& models, int levelFolder) {
  TileTextures textures;
  for (const auto& model : models)
    for (auto [key, bytes] : model.textures) {
      const auto outcome = kmztile::tiles::detail::ReduceTexture(key, bytes, levelFolder, 2);
      if (outcome == kmztile::tiles::detail::TextureOutcome::Reduced ||
          outcome == kmztile::tiles::detail::TextureOutcome::Kept)
        textures[key] = bytes;
    }
  return textures;
}

class GlbTest : public kmztest::TempDirTest {};

TEST_F(GlbTest, CityTilesPassTheValidatorAndAreStable) {
  // Every model of the city, in groups of up to 16 tiles' worth, each group
  // at one of the four levels.
  const auto names = CityModelNames();
  ASSERT_GE(names.size(), 303u);
  std::vector<kmztest::CityModel> models;
  std::vector<PlacedModel> placed;
  for (std::size_t i = 0; i < names.size(); ++i) models.push_back(kmztest::LoadCityModel(names[i]));
  for (std::size_t i = 0; i < models.size(); ++i) placed.push_back(PlaceModel(models[i].model, PlacementOf(names[i], i)));

  std::vector<std::string> files;
  std::size_t texturedTiles = 0;
  for (std::size_t start = 0, group = 0; start < models.size(); start += 16, ++group) {
    const std::size_t end = std::min(models.size(), start + 16);
    std::vector<const PlacedModel*> tile;
    Region region = RegionOf(placed[start]);
    for (std::size_t i = start; i < end; ++i) {
      tile.push_back(&placed[i]);
      region = Union(region, RegionOf(placed[i]));
    }
    const TileTextures textures =
        Reduced(std::vector<kmztest::CityModel>(models.begin() + start, models.begin() + end), group % 4 + 1);
    const Ecef centre = TileCentre(region);
    std::string glb, again, error;
    ASSERT_TRUE(WriteTileGlb(tile, textures, centre, glb, error)) << error;
    ASSERT_TRUE(WriteTileGlb(tile, textures, centre, again, error)) << error;
    ASSERT_EQ(glb, again) << "group " << group;

    // Offsets + centre, turned back to Z up, are the placed positions.
    const kmztest::Glb read = kmztest::ReadGlb(glb);
    texturedTiles += read.json.contains("images") ? 1 : 0;
    for (const auto& image : read.json.value("images", nlohmann::json::array()))
      EXPECT_TRUE(image["mimeType"] == "image/jpeg" || image["mimeType"] == "image/png");
    const std::vector<float> offsets = kmztest::GlbPositions(read);
    std::size_t at = 0;
    for (const PlacedModel* model : tile)
      for (const auto& positions : model->positions)
        for (std::size_t i = 0; i < positions.size(); i += 3, at += 3) {
          ASSERT_LT(at + 2, offsets.size());
          ASSERT_NEAR(offsets[at] + centre[0], positions[i], 0.002);
          ASSERT_NEAR(-offsets[at + 2] + centre[1], positions[i + 1], 0.002);
          ASSERT_NEAR(offsets[at + 1] + centre[2], positions[i + 2], 0.002);
        }
    EXPECT_EQ(at, offsets.size());
    files.push_back(Path("tile" + std::to_string(group) + ".glb"));
    kmztest::WriteFile(files.back(), glb);
  }
  EXPECT_GT(texturedTiles, 0u);
  // A tile with no model is still a valid glb.
  std::string empty, error;
  ASSERT_TRUE(WriteTileGlb({}, {}, {0, 0, 0}, empty, error));
  files.push_back(Path("empty.glb"));
  kmztest::WriteFile(files.back(), empty);

  int status = 0;
  const std::string report = kmztest::RunValidator(files, status);
  EXPECT_EQ(status, 0) << "the glTF validator found errors or could not run (node and `npm ci` in tests/js):\n"
                       << report;
}

TEST_F(GlbTest, TexturesAreEmbeddedAsJpegOrPng) {
  // The TIFF of alphatiff becomes a PNG keeping its alpha; a texture that is
  // no image fails the tile with its name.
  const auto alpha = kmztest::LoadCityModel("alphatiff");
  ASSERT_FALSE(alpha.textures.empty());
  const PlacedModel placed = PlaceModel(alpha.model, Placement{});
  std::string glb, error;
  ASSERT_TRUE(WriteTileGlb({&placed}, alpha.textures, {0, 0, 0}, glb, error)) << error;
  const auto read = kmztest::ReadGlb(glb);
  ASSERT_EQ(read.json["images"].size(), 1u);
  EXPECT_EQ(read.json["images"][0]["mimeType"], "image/png");
  EXPECT_EQ(read.json["materials"][0]["alphaMode"], "BLEND");

  TileTextures broken = alpha.textures;
  broken.begin()->second = "not an image";
  EXPECT_FALSE(WriteTileGlb({&placed}, broken, {0, 0, 0}, glb, error));
  EXPECT_NE(error.find(broken.begin()->first), std::string::npos) << error;
}

}  // namespace
