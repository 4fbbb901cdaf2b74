#pragma once
// Helpers of the 3D Tiles suite: the sample city's models converted with
// their textures, and a small glb reader to look at what was written.
#include <nlohmann/json.hpp>

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

}  // namespace kmztest
