// The models of one tile read straight from the source folder: documents
// from the catalog, files from their source paths, in package order.
#include "core/detail/SourceCatalog.h"
#include "placement/detail/TemplateRewrite.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace kmztile::core {

SourceModels::SourceModels(const SourceCatalog& catalog, std::vector<std::size_t> indices)
    : catalog_(catalog), indices_(std::move(indices)) {}

bool SourceModels::Document(std::size_t i, std::string& text) {
  text = Model(i).document;
  return true;
}

bool SourceModels::Entries(std::size_t i, std::vector<ModelEntry>& entries) {
  const SourceModel& model = Model(i);
  const std::string textureFolder = catalog_.folder + "\\" + model.name + "\\";
  for (const std::string& texture : model.textures) {
    ModelEntry entry;
    // A texture packaging could not read is not in the package either.
    if (!placement::detail::ReadModelTexture(catalog_.folder, model.name, texture, entry.data)) continue;
    entry.source.package = textureFolder + texture;
    entry.name = placement::detail::PackageTexturePath(model.name, texture);
    entry.source.entry = entry.name;
    entry.cacheable = platform::StatFile(entry.source.package, entry.source.size, entry.source.mtimeNs);
    entry.where = platform::NativePath(entry.source.package);
    entries.push_back(std::move(entry));
  }
  ModelEntry collada;
  collada.name = placement::detail::PackageModelPath(model.name);
  collada.collada = true;
  collada.where = platform::NativePath(model.colladaPath);
  if (!platform::ReadPlainFile(model.colladaPath, collada.data)) return false;
  entries.push_back(std::move(collada));
  return true;
}

}  // namespace kmztile::core
