#pragma once
// Helpers of the 3D Tiles suite: the sample city's models converted with
// their textures, and a small glb reader to look at what was written.
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "threedtiles/ThreeDTiles.h"

namespace kmztest {

/** Path of a file of the sample city in the repository. */
inline std::string CityFile(const std::string& name) {
  return std::string(KMZTILE_SOURCE_DIR) + "/samples/city/" + name;
}

/** A sample-city model converted, with its texture files by reference. */
struct CityModel {
  std::string name;
  std::shared_ptr<const kmztile::threedtiles::ConvertedModel> model;
  kmztile::threedtiles::TileTextures textures;
};

/** Converts samples/city/NAME.dae; texture references are read beside it. */
inline CityModel LoadCityModel(const std::string& name) {
  CityModel city{name, nullptr, {}};
  auto model = std::make_shared<kmztile::threedtiles::ConvertedModel>();
  std::string error;
  const auto lookup = [&](const std::string& reference) {
    if (Exists(CityFile(reference))) city.textures[reference] = ReadFile(CityFile(reference));
    return Exists(CityFile(reference)) ? reference : std::string();
  };
  EXPECT_TRUE(kmztile::threedtiles::ConvertCollada(ReadFile(CityFile(name + ".dae")), lookup, *model, error))
      << name << ": " << error;
  city.model = std::move(model);
  return city;
}

/** The JSON and binary chunks of a glb. */
struct Glb {
  nlohmann::json json;
  std::string bin;
};

inline Glb ReadGlb(const std::string& bytes) {
  Glb glb;
  auto u32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return v;
  };
  EXPECT_EQ(bytes.substr(0, 4), "glTF");
  EXPECT_EQ(u32(8), bytes.size());
  const std::uint32_t jsonLength = u32(12);
  glb.json = nlohmann::json::parse(bytes.substr(20, jsonLength));
  if (20 + jsonLength < bytes.size()) glb.bin = bytes.substr(20 + jsonLength + 8, u32(20 + jsonLength));
  return glb;
}

/** Every POSITION of every primitive, as float triples. */
inline std::vector<float> GlbPositions(const Glb& glb) {
  std::vector<float> out;
  for (const auto& mesh : glb.json.value("meshes", nlohmann::json::array()))
    for (const auto& primitive : mesh["primitives"]) {
      const auto& accessor = glb.json["accessors"][primitive["attributes"]["POSITION"].get<std::size_t>()];
      const auto& view = glb.json["bufferViews"][accessor["bufferView"].get<std::size_t>()];
      const std::size_t count = accessor["count"].get<std::size_t>() * 3;
      std::vector<float> values(count);
      std::memcpy(values.data(), glb.bin.data() + view["byteOffset"].get<std::size_t>(), count * sizeof(float));
      out.insert(out.end(), values.begin(), values.end());
    }
  return out;
}


/**
 * Runs the Khronos glTF validator (tests/js, through node) over @p files;
 * @p status is 0 when every file has no error. @return its report.
 */
inline std::string RunValidator(const std::vector<std::string>& files, int& status) {
  std::string command = "node " + std::string(KMZTILE_SOURCE_DIR) + "/tests/js/validate_gltf.js";
  for (const auto& f : files) command += " '" + f + "'";
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    status = -1;
    return "cannot start node";
  }
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  status = pclose(pipe);
  return output;
}

/**
 * Walks a tileset as a 3D Tiles client does, from tileset.json below root:
 * every content exists, external tilesets are followed, every bounding
 * volume holds its children and every glb vertex (through the accumulated
 * transforms), geometric error falls strictly downwards, refinement is
 * REPLACE. Counts the glbs, vertices and tiles seen.
 */
struct Walker {
  using json = nlohmann::json;
  using Ecef = kmztile::threedtiles::Ecef;
  static constexpr double kPi = 3.14159265358979323846;

  explicit Walker(std::string folder) : root(std::move(folder)) {}

  std::string root;
  std::size_t glbs = 0, vertices = 0, tiles = 0;
  /** Per glb (path relative to root): west, south, east, north of its vertices, degrees. */
  std::map<std::string, std::array<double, 4>> extents;

  static bool Holds(const json& outer, const json& inner, double angle = 1e-12, double height = 1e-6) {
    for (int i : {0, 1}) {
      if (inner[i].get<double>() < outer[i].get<double>() - angle) return false;
      if (inner[i + 2].get<double>() > outer[i + 2].get<double>() + angle) return false;
    }
    return inner[4].get<double>() >= outer[4].get<double>() - height &&
           inner[5].get<double>() <= outer[5].get<double>() + height;
  }

  // Walks @p tile of the tileset file @p file (relative to root) with the
  // translation accumulated above it.
  void Tile(const json& tile, const std::string& file, Ecef offset, double parentError, int depth) {
    ++tiles;
    EXPECT_EQ(tile["refine"], "REPLACE");
    const json& region = tile["boundingVolume"]["region"];
    ASSERT_EQ(region.size(), 6u);
    const double error = tile["geometricError"].get<double>();
    if (depth > 0) {
      EXPECT_LT(error, parentError) << file;
    }
    if (tile.contains("transform")) {
      const auto& m = tile["transform"];
      for (int i = 0; i < 12; ++i) EXPECT_EQ(m[i].get<double>(), (i % 5 == 0) ? 1.0 : 0.0);
      for (int i = 0; i < 3; ++i) offset[i] += m[12 + i].get<double>();
    }
    if (tile.contains("content")) {
      const std::string uri = tile["content"]["uri"];
      const std::string path =
          (std::filesystem::path(root) / std::filesystem::path(file).parent_path() / uri).lexically_normal();
      ASSERT_TRUE(kmztest::Exists(path)) << path;
      if (uri.size() > 5 && uri.substr(uri.size() - 5) == ".json") {
        const json external = json::parse(kmztest::ReadFile(path));
        EXPECT_EQ(external["asset"]["version"], "1.1");
        const json& inner = external["root"];
        EXPECT_TRUE(Holds(region, inner["boundingVolume"]["region"]));
        EXPECT_LE(inner["geometricError"].get<double>(), error);
        // The external root stands for this tile: its error may equal it.
        Tile(inner, std::filesystem::relative(path, root).string(), offset, error * (1 + 1e-12) + 1e-9, depth);
      } else {
        ++glbs;
        auto& extent = extents[std::filesystem::relative(path, root).string()];
        extent = {360, 90, -360, -90};
        const auto positions = kmztest::GlbPositions(kmztest::ReadGlb(kmztest::ReadFile(path)));
        for (std::size_t i = 0; i + 2 < positions.size(); i += 3, ++vertices) {
          // glTF Y up to the tileset's Z up, then the accumulated translation.
          const Ecef ecef{positions[i] + offset[0], -positions[i + 2] + offset[1], positions[i + 1] + offset[2]};
          const auto g = kmztile::threedtiles::EcefToGeodetic(ecef);
          extent = {std::min(extent[0], g[0]), std::min(extent[1], g[1]), std::max(extent[2], g[0]),
                    std::max(extent[3], g[1])};
          const json point = {g[0] * kPi / 180, g[1] * kPi / 180, g[0] * kPi / 180, g[1] * kPi / 180, g[2], g[2]};
          ASSERT_TRUE(Holds(region, point, 1e-9, 0.01)) << path << " vertex " << i / 3;
        }
      }
    }
    for (const json& child : tile.value("children", json::array())) {
      EXPECT_TRUE(Holds(region, child["boundingVolume"]["region"])) << file;
      Tile(child, file, offset, error, depth + 1);
    }
  }
};

}  // namespace kmztest
