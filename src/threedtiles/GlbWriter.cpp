// One binary glTF per tile: a node and mesh per placed model, a primitive per
// material, positions as float offsets from the tile's centre (small numbers,
// so float keeps millimetres), textures embedded in the binary chunk.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <tuple>

#include "threedtiles/ThreeDTiles.h"

namespace kmztile::threedtiles {
namespace {

using nlohmann::json;

constexpr int kFloat = 5126, kUnsignedShort = 5123, kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;

class GlbBuilder {
 public:
  // Appends @p size bytes as a buffer view (aligned to 4) and returns its index.
  std::size_t View(const void* data, std::size_t size, int target) {
    while (bin_.size() % 4 != 0) bin_.push_back('\0');
    json view{{"buffer", 0}, {"byteOffset", bin_.size()}, {"byteLength", size}};
    if (target != 0) view["target"] = target;
    bin_.append(static_cast<const char*>(data), size);
    views_.push_back(std::move(view));
    return views_.size() - 1;
  }

  std::size_t Accessor(json accessor) {
    accessors_.push_back(std::move(accessor));
    return accessors_.size() - 1;
  }

  // A float attribute of @p width components, with its bounds when @p bounded.
  std::size_t FloatAccessor(const std::vector<float>& values, int width, bool bounded) {
    const std::size_t count = values.size() / width;
    json accessor{{"bufferView", View(values.data(), values.size() * sizeof(float), kArrayBuffer)},
                  {"componentType", kFloat},
                  {"count", count},
                  {"type", width == 3 ? "VEC3" : "VEC2"}};
    if (bounded) {
      std::vector<float> lo(width, std::numeric_limits<float>::max()), hi(width, std::numeric_limits<float>::lowest());
      for (std::size_t i = 0; i < values.size(); ++i) {
        lo[i % width] = std::min(lo[i % width], values[i]);
        hi[i % width] = std::max(hi[i % width], values[i]);
      }
      accessor["min"] = lo;
      accessor["max"] = hi;
    }
    return Accessor(std::move(accessor));
  }

  std::size_t IndexAccessor(const std::vector<std::uint32_t>& indices, std::size_t vertexCount) {
    if (vertexCount <= 0xFFFF) {
      const std::vector<std::uint16_t> narrow(indices.begin(), indices.end());
      return Accessor({{"bufferView", View(narrow.data(), narrow.size() * 2, kElementArrayBuffer)},
                       {"componentType", kUnsignedShort},
                       {"count", narrow.size()},
                       {"type", "SCALAR"}});
    }
    return Accessor({{"bufferView", View(indices.data(), indices.size() * 4, kElementArrayBuffer)},
                     {"componentType", kUnsignedInt},
                     {"count", indices.size()},
                     {"type", "SCALAR"}});
  }

  std::string bin_;
  json views_ = json::array();
  json accessors_ = json::array();
};

void AppendUint32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

bool WriteTileGlb(const std::vector<const PlacedModel*>& models, const TileTextures& textures, const Ecef& centre,
                  std::string& glb, std::string& error) {
  GlbBuilder builder;
  json images = json::array(), gltfTextures = json::array(), materials = json::array();
  json meshes = json::array(), nodes = json::array();
  std::map<std::string, int> imageOf;        // texture key -> texture index (-1: not usable)
  std::map<std::tuple<int, std::array<float, 4>>, std::size_t> materialOf;
  std::map<std::string, bool> alphaOf;
  std::string failure;

  auto textureIndex = [&](const std::string& key) -> int {
    if (key.empty()) return -1;
    auto known = imageOf.find(key);
    if (known != imageOf.end()) return known->second;
    auto bytes = textures.find(key);
    EmbeddedImage image;
    int index = -1;
    if (bytes != textures.end() && !EmbedImage(bytes->second, image))
      failure = "the texture " + key + " is no image that can be embedded";
    else if (bytes != textures.end()) {
      images.push_back({{"bufferView", builder.View(image.bytes.data(), image.bytes.size(), 0)},
                        {"mimeType", image.mimeType}});
      gltfTextures.push_back({{"sampler", 0}, {"source", images.size() - 1}});
      index = static_cast<int>(gltfTextures.size()) - 1;
      alphaOf[key] = image.hasAlpha;
    }
    imageOf.emplace(key, index);
    return index;
  };

  auto materialIndex = [&](const Material& source) {
    const int texture = textureIndex(source.texture);
    const auto key = std::make_tuple(texture, source.color);
    auto known = materialOf.find(key);
    if (known != materialOf.end()) return known->second;
    json pbr{{"baseColorFactor", source.color}, {"metallicFactor", 0.0}, {"roughnessFactor", 1.0}};
    if (texture >= 0) pbr["baseColorTexture"] = {{"index", texture}};
    // Building models are modelled as thin shells seen from both sides.
    json material{{"pbrMetallicRoughness", pbr}, {"doubleSided", true}};
    if (source.color[3] < 1.0f || (texture >= 0 && alphaOf[source.texture])) material["alphaMode"] = "BLEND";
    materials.push_back(std::move(material));
    materialOf.emplace(key, materials.size() - 1);
    return materials.size() - 1;
  };

  for (const PlacedModel* placed : models) {
    json primitives = json::array();
    const ConvertedModel& model = *placed->model;
    for (std::size_t m = 0; m < model.meshes.size() && m < placed->positions.size(); ++m) {
      const Mesh& mesh = model.meshes[m];
      const std::vector<double>& ecef = placed->positions[m];
      const std::vector<float>& ecefNormals = placed->normals[m];
      std::vector<float> positions, normals;
      positions.reserve(ecef.size());
      normals.reserve(ecef.size());
      // glTF is Y up; 3D Tiles turns it to Z up, so (x, y, z) is stored as (x, z, -y).
      for (std::size_t i = 0; i + 2 < ecef.size(); i += 3) {
        positions.insert(positions.end(), {static_cast<float>(ecef[i] - centre[0]),
                                           static_cast<float>(ecef[i + 2] - centre[2]),
                                           static_cast<float>(-(ecef[i + 1] - centre[1]))});
        normals.insert(normals.end(), {ecefNormals[i], ecefNormals[i + 2], -ecefNormals[i + 1]});
      }
      const std::size_t vertexCount = positions.size() / 3;
      json attributes{{"POSITION", builder.FloatAccessor(positions, 3, true)},
                      {"NORMAL", builder.FloatAccessor(normals, 3, false)}};
      Material material = model.materials[mesh.material];
      // A texture needs coordinates to be shown; without them the colour stays.
      if (mesh.texcoords.empty()) material.texture.clear();
      const std::size_t materialId = materialIndex(material);
      if (!failure.empty()) {
        error = failure;
        return false;
      }
      if (materials[materialId]["pbrMetallicRoughness"].contains("baseColorTexture"))
        attributes["TEXCOORD_0"] = builder.FloatAccessor(mesh.texcoords, 2, false);
      // Built in place: a braced json list copies every value it is given.
      json primitive = json::object();
      primitive["attributes"] = std::move(attributes);
      primitive["indices"] = builder.IndexAccessor(mesh.indices, vertexCount);
      primitive["material"] = materialId;
      primitive["mode"] = 4;
      primitives.push_back(std::move(primitive));
    }
    if (primitives.empty()) continue;
    json gltfMesh = json::object();
    gltfMesh["primitives"] = std::move(primitives);
    meshes.push_back(std::move(gltfMesh));
    nodes.push_back({{"mesh", meshes.size() - 1}});
  }

  json document{{"asset", {{"version", "2.0"}, {"generator", "kmztile"}}}, {"scene", 0}};
  // A scene lists its nodes; a tile without models has a scene with none.
  json scene = json::object();
  for (std::size_t i = 0; i < nodes.size(); ++i) scene["nodes"].push_back(i);
  document["scenes"] = json::array({scene});
  if (!nodes.empty()) {
    document["nodes"] = std::move(nodes);
    document["meshes"] = std::move(meshes);
    document["materials"] = std::move(materials);
    document["accessors"] = std::move(builder.accessors_);
  }
  if (!images.empty()) {
    document["images"] = std::move(images);
    document["textures"] = std::move(gltfTextures);
    document["samplers"] = json::array({json{{"magFilter", 9729}, {"minFilter", 9987}, {"wrapS", 10497},
                                             {"wrapT", 10497}}});
  }
  if (!builder.bin_.empty()) {
    while (builder.bin_.size() % 4 != 0) builder.bin_.push_back('\0');
    document["bufferViews"] = std::move(builder.views_);
    document["buffers"] = json::array({json{{"byteLength", builder.bin_.size()}}});
  }

  std::string text = document.dump();
  while (text.size() % 4 != 0) text.push_back(' ');
  const std::size_t total = 12 + 8 + text.size() + (builder.bin_.empty() ? 0 : 8 + builder.bin_.size());
  if (total > std::numeric_limits<std::uint32_t>::max()) {
    error = "the tile's glTF content exceeds 4 GB";
    return false;
  }
  glb.clear();
  glb.reserve(total);
  glb.append("glTF");
  AppendUint32(glb, 2);
  AppendUint32(glb, static_cast<std::uint32_t>(total));
  AppendUint32(glb, static_cast<std::uint32_t>(text.size()));
  glb.append("JSON");
  glb.append(text);
  if (!builder.bin_.empty()) {
    AppendUint32(glb, static_cast<std::uint32_t>(builder.bin_.size()));
    glb.append("BIN", 3);
    glb.push_back('\0');
    glb.append(builder.bin_);
  }
  return true;
}

}  // namespace kmztile::threedtiles
