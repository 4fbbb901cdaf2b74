// COLLADA to meshes through assimp, used as an importer only. The document is
// read from memory; an IO system that opens nothing keeps every other file
// (images, external references) off the disk.
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "placement/detail/ColladaImages.h"
#include "placement/detail/ColladaUri.h"
#include "threedtiles/ThreeDTiles.h"
#include "threedtiles/detail/NodeInstances.h"

namespace kmztile::threedtiles {
namespace {

// Opens no file at all: the in-memory document is served by assimp's own
// memory layer, which asks this one only for anything else.
class NoFiles : public Assimp::IOSystem {
 public:
  bool Exists(const char*) const override { return false; }
  char getOsSeparator() const override { return '/'; }
  Assimp::IOStream* Open(const char*, const char*) override { return nullptr; }
  void Close(Assimp::IOStream*) override {}
};

// The document's image references (as written), after checking that it is
// a well-formed COLLADA document at all.
bool ReadReferences(const std::string& dae, std::vector<std::string>& references, std::string& error) {
  if (dae.find_first_not_of(" \t\r\n") == std::string::npos) {
    error = "the COLLADA file is empty";
    return false;
  }
  return placement::detail::ReadColladaImageUris(dae, references, error);
}

// assimp reports an image by its reference with "file://" dropped and
// percent escapes decoded; the lookup is given the reference as the
// document writes it, as every other reader of the document sees it.
std::string AsWritten(const std::string& reported, const std::vector<std::string>& references) {
  for (const std::string& written : references) {
    std::string plain = placement::detail::PercentDecode(written);
    if (plain == reported) return written;
    if (plain.compare(0, 7, "file://") == 0) plain.erase(0, 7);
    if (plain == reported || (!plain.empty() && plain[0] == '/' && plain.substr(1) == reported)) return written;
  }
  return reported;
}

Material MaterialOf(const aiMaterial& source, const TextureLookup& lookup, const std::vector<std::string>& references) {
  Material material;
  aiColor4D diffuse;
  if (aiGetMaterialColor(&source, AI_MATKEY_COLOR_DIFFUSE, &diffuse) == AI_SUCCESS)
    material.color = {diffuse.r, diffuse.g, diffuse.b, diffuse.a};
  float opacity = 1.0f;
  // Many exporters write <transparency>0</transparency> beside an opaque
  // white <transparent> for a surface they mean to be solid (the inverted
  // reading of the A_ONE rule), and KML clients draw such models solid. Read
  // literally the surface would vanish, so an opacity of exactly zero is
  // taken as that inverted form: fully opaque.
  if (aiGetMaterialFloat(&source, AI_MATKEY_OPACITY, &opacity) == AI_SUCCESS && opacity > 0.0f && opacity <= 1.0f)
    material.color[3] *= opacity;
  for (float& c : material.color) c = std::isfinite(c) ? std::fmin(1.0f, std::fmax(0.0f, c)) : 1.0f;
  aiString path;
  if (source.GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS && path.length > 0 && path.C_Str()[0] != '*') {
    const std::string reference = AsWritten(path.C_Str(), references);
    material.texture = lookup ? lookup(reference) : reference;
    // A textured surface shows its image, not its colour.
    if (!material.texture.empty()) material.color = {1.0f, 1.0f, 1.0f, material.color[3]};
  }
  return material;
}

// A unit normal, or straight up where the source gives none usable.
void PushNormal(std::vector<float>& out, aiVector3D n) {
  const float length = n.Length();
  if (!std::isfinite(length) || length < 1e-12f) n = aiVector3D(0.0f, 1.0f, 0.0f);
  else n /= length;
  out.insert(out.end(), {n.x, n.y, n.z});
}

void AppendMesh(const aiMesh& source, const aiMatrix4x4& transform, ConvertedModel& model) {
  if (!(source.mPrimitiveTypes & aiPrimitiveType_TRIANGLE) || source.mNumVertices == 0) return;
  Mesh mesh;
  mesh.material = source.mMaterialIndex;
  aiMatrix3x3 normalTransform(transform);
  normalTransform.Inverse().Transpose();
  const bool mirrored = aiMatrix3x3(transform).Determinant() < 0.0f;
  const aiVector3D* uv = source.HasTextureCoords(0) ? source.mTextureCoords[0] : nullptr;
  for (unsigned i = 0; i < source.mNumVertices; ++i) {
    const aiVector3D p = transform * source.mVertices[i];
    mesh.positions.insert(mesh.positions.end(), {p.x, p.y, p.z});
    PushNormal(mesh.normals, source.HasNormals() ? normalTransform * source.mNormals[i] : aiVector3D());
    if (uv) {
      const float u = std::isfinite(uv[i].x) ? uv[i].x : 0.0f;
      const float v = std::isfinite(uv[i].y) ? uv[i].y : 0.0f;
      // COLLADA counts v upwards from the image's bottom row, glTF downwards from its top.
      mesh.texcoords.insert(mesh.texcoords.end(), {u, 1.0f - v});
    }
  }
  for (unsigned f = 0; f < source.mNumFaces; ++f) {
    const aiFace& face = source.mFaces[f];
    if (face.mNumIndices != 3) continue;
    // A mirroring transform turns the winding; swap to keep faces facing out.
    mesh.indices.insert(mesh.indices.end(), {face.mIndices[0], face.mIndices[mirrored ? 2 : 1],
                                             face.mIndices[mirrored ? 1 : 2]});
  }
  if (!mesh.indices.empty()) model.meshes.push_back(std::move(mesh));
}

void Walk(const aiScene& scene, const aiNode& node, const aiMatrix4x4& parent, ConvertedModel& model, int depth) {
  if (depth > 256) return;  // a cycle or an absurd hierarchy; assimp validates, this is a guard
  const aiMatrix4x4 transform = parent * node.mTransformation;
  for (unsigned i = 0; i < node.mNumMeshes; ++i)
    if (node.mMeshes[i] < scene.mNumMeshes) AppendMesh(*scene.mMeshes[node.mMeshes[i]], transform, model);
  for (unsigned i = 0; i < node.mNumChildren; ++i) Walk(scene, *node.mChildren[i], transform, model, depth + 1);
}

}  // namespace

bool ConvertCollada(const std::string& dae, const TextureLookup& textureLookup, ConvertedModel& model,
                    std::string& error) {
  model = {};
  std::vector<std::string> references;
  if (!ReadReferences(dae, references, error) || !detail::CheckNodeInstances(dae, error)) return false;
  Assimp::Importer importer;
  importer.SetIOHandler(new NoFiles);  // the importer owns and deletes it
  // The root node carries <unit> (as a scale) and <up_axis> (as a turn to Y up);
  // walking the nodes applies both to the vertices.
  const aiScene* scene = importer.ReadFileFromMemory(
      dae.data(), dae.size(),
      aiProcess_Triangulate | aiProcess_GenNormals | aiProcess_JoinIdenticalVertices | aiProcess_SortByPType |
          aiProcess_ValidateDataStructure,
      "dae");
  if (!scene || !scene->mRootNode) {
    error = std::string("the COLLADA document could not be read: ") + importer.GetErrorString();
    return false;
  }
  for (unsigned i = 0; i < scene->mNumMaterials; ++i)
    model.materials.push_back(MaterialOf(*scene->mMaterials[i], textureLookup, references));
  Walk(*scene, *scene->mRootNode, aiMatrix4x4(), model, 0);
  // A NaN or infinite coordinate (in the source, or made by a node's matrix)
  // would reach the glb and its bounds; such a model has no shape to show.
  for (const Mesh& mesh : model.meshes)
    if (!std::all_of(mesh.positions.begin(), mesh.positions.end(), [](float c) { return std::isfinite(c); })) {
      model = {};
      error = "a vertex position is not a finite number (NaN or infinity, in the source or from a node's transform)";
      return false;
    }
  if (model.meshes.empty()) {
    error = "the COLLADA document holds no triangles";
    return false;
  }
  // Every mesh names a material that exists.
  if (model.materials.empty()) model.materials.push_back(Material{});
  for (Mesh& mesh : model.meshes)
    if (mesh.material >= model.materials.size()) mesh.material = 0;
  return true;
}

}  // namespace kmztile::threedtiles
