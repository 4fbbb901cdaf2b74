// kmztile build --format kmz,3dtiles on the bundled sample city, end to end:
// the glb tiles are exactly the KMZ tiles, every one passes the Khronos
// validator, the tileset holds its content and refines downwards, every glb
// holds its models where its tile is, and its textures are the very bytes
// of its KMZ tile's textures.
#include <minizip/unzip.h>

#include <filesystem>
#include <map>
#include <set>

#include "ThreeDTilesTestSupport.h"

namespace fs = std::filesystem;

namespace {

// "LEVEL/ROW/COL" of every file with extension @p ext below @p folder.
std::set<std::string> TileNames(const std::string& folder, const std::string& ext) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.path().extension() == ext) {
      const std::string relative = fs::relative(e.path(), folder).string();
      names.insert(relative.substr(0, relative.size() - ext.size()));
    }
  return names;
}

// The entries of a zip archive that are no KML or COLLADA file: the tile's textures.
std::vector<std::string> ArchiveTextures(const std::string& path) {
  std::vector<std::string> textures;
  unzFile zip = unzOpen64(path.c_str());
  EXPECT_NE(zip, nullptr) << path;
  if (!zip) return textures;
  for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
    char name[512];
    unz_file_info64 info{};
    unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    const std::string entry = name;
    if (entry.size() > 4 && (entry.substr(entry.size() - 4) == ".kml" || entry.substr(entry.size() - 4) == ".dae"))
      continue;
    std::string bytes(info.uncompressed_size, '\0');
    EXPECT_EQ(unzOpenCurrentFile(zip), UNZ_OK);
    EXPECT_EQ(unzReadCurrentFile(zip, bytes.data(), static_cast<unsigned>(bytes.size())),
              static_cast<int>(bytes.size()));
    unzCloseCurrentFile(zip);
    textures.push_back(std::move(bytes));
  }
  unzClose(zip);
  return textures;
}

// The bytes of every image a glb embeds with their MIME type.
std::vector<std::pair<std::string, std::string>> GlbImages(const kmztest::Glb& glb) {
  std::vector<std::pair<std::string, std::string>> images;
  for (const auto& image : glb.json.value("images", nlohmann::json::array())) {
    const auto& view = glb.json["bufferViews"][image["bufferView"].get<std::size_t>()];
    images.emplace_back(image["mimeType"].get<std::string>(),
                        glb.bin.substr(view["byteOffset"].get<std::size_t>(), view["byteLength"].get<std::size_t>()));
  }
  return images;
}

class CityBuild : public kmztest::CliTempDirTest {};

TEST_F(CityBuild, GlbTilesMirrorTheKmzPyramidAndPassTheValidator) {
  const std::string out = Path("out");
  const auto run = kmztest::RunCli("build '" + kmztest::CityFile("") + "' '" + out +
                                   "' --crs EPSG:4527 --jobs 2 --format kmz,3dtiles --json");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto summary = nlohmann::json::parse(run.out);

  // The same tiles in both formats.
  const auto kmz = TileNames(out + "/tiles", ".kmz");
  const auto glb = TileNames(out + "/3dtiles", ".glb");
  ASSERT_GT(kmz.size(), 400u);
  EXPECT_EQ(glb, kmz);
  EXPECT_EQ(summary["glb_tiles"].get<std::size_t>(), kmz.size());

  // Every glb passes the validator.
  std::vector<std::string> files;
  for (const auto& name : glb) files.push_back(out + "/3dtiles/" + name + ".glb");
  int status = -1;
  const std::string report = kmztest::RunValidator(files, status);
  EXPECT_EQ(status, 0) << "the glTF validator found errors or could not run (node and `npm ci` in tests/js):\n"
                       << report.substr(0, 4000);

  // The tileset lists every glb once, holds its content and its children,
  // and its geometric error falls downwards.
  const auto root = nlohmann::json::parse(kmztest::ReadFile(out + "/3dtiles/tileset.json"));
  kmztest::Walker walker{out + "/3dtiles"};
  walker.Tile(root["root"], "tileset.json", {0, 0, 0}, 0, 0);
  EXPECT_EQ(walker.glbs, kmz.size());
  ASSERT_EQ(walker.extents.size(), kmz.size());

  std::size_t images = 0;
  for (const auto& name : glb) {
    // Each glb's models stand in its tile: the cell, grown by a building's
    // size (placement read from the wrong place would put them elsewhere).
    long level = 0, row = 0, column = 0;
    ASSERT_EQ(std::sscanf(name.c_str(), "%ld/%ld/%ld", &level, &row, &column), 3) << name;
    const double size = 360.0 / std::ldexp(1.0, static_cast<int>(level));
    const double west = -180 + column * size, north = 90 - row * size, margin = 0.003;
    const auto& e = walker.extents.at(name + ".glb");
    EXPECT_TRUE(e[0] >= west - margin && e[2] <= west + size + margin && e[1] >= north - size - margin &&
                e[3] <= north + margin)
        << name << ": models at " << e[0] << ".." << e[2] << ", " << e[1] << ".." << e[3];

    // Its JPEG and PNG images are textures of its KMZ tile, byte for byte
    // (reduced once for both); other formats became PNG.
    const auto textures = ArchiveTextures(out + "/tiles/" + name + ".kmz");
    const std::set<std::string> kmzTextures(textures.begin(), textures.end());
    const auto embedded = GlbImages(kmztest::ReadGlb(kmztest::ReadFile(out + "/3dtiles/" + name + ".glb")));
    std::size_t others = 0, transcoded = 0;
    for (const auto& t : textures) others += t.compare(0, 3, "\xFF\xD8\xFF") != 0 && t.compare(0, 4, "\x89PNG") != 0;
    EXPECT_LE(embedded.size(), textures.size()) << name;
    for (const auto& [mime, bytes] : embedded) {
      if (kmzTextures.count(bytes)) {
        ++images;
        continue;
      }
      EXPECT_EQ(mime, "image/png") << name << ": an image that is no texture of its KMZ tile";
      ++transcoded;
    }
    EXPECT_LE(transcoded, others) << name << ": PNG images that are no texture of its KMZ tile";
  }
  EXPECT_GT(images, 1000u);
}

}  // namespace
