// The models of one tile read straight from the source folder: documents
// from the catalog, files from their source paths, in package order.
#include "core/detail/SourceCatalog.h"
#include "placement/detail/TemplateRewrite.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

namespace kmztile::core {

SourceModels::SourceModels(const SourceCatalog& catalog, std::vector<std::size_t> indices, AreaModels* area)
    : catalog_(catalog), indices_(std::move(indices)), area_(area) {}

bool SourceModels::Document(std::size_t i, std::string& text) {
  if (catalog_.Document(Model(i), text)) return true;
  platform::SetLastError("model " + Model(i).package + ": its document held in memory is damaged");
  return false;
}

bool SourceModels::Entries(std::size_t i, std::vector<ModelEntry>& entries) {
  const SourceModel& model = Model(i);
  const std::string textureFolder = catalog_.folder + "\\" + model.name + "\\";
  // Each texture file is looked at once per area: its later tiles take the
  // same identity, and so the same cached decode.
  std::vector<TextureStat> ownStats;
  std::vector<TextureStat>* stats = &ownStats;
  bool statted = false;
  if (area_) {
    const auto found = area_->textures.try_emplace(indices_[i]);
    stats = &found.first->second;
    statted = !found.second;
  }
  if (!statted) {
    stats->resize(model.textures.size());
    for (std::size_t t = 0; t < model.textures.size(); ++t) {
      TextureStat& stat = (*stats)[t];
      stat.found = platform::StatFile(textureFolder + model.textures[t], stat.size, stat.mtimeNs);
    }
  }
  for (std::size_t t = 0; t < model.textures.size(); ++t) {
    const std::string& texture = model.textures[t];
    ModelEntry entry;
    // A texture packaging could not read is not in the package either (it is
    // named as a problem). It is read only when its decode is not cached.
    entry.read = [this, &model, &texture](std::string& data) {
      return placement::detail::ReadModelTexture(catalog_.folder, model.name, texture, data);
    };
    entry.source.package = textureFolder + texture;
    entry.name = placement::detail::PackageTexturePath(model.name, texture);
    entry.source.entry = entry.name;
    const TextureStat& stat = (*stats)[t];
    entry.cacheable = stat.found;
    entry.source.size = stat.size;
    entry.source.mtimeNs = stat.mtimeNs;
    entry.where = platform::NativePath(entry.source.package);
    entries.push_back(std::move(entry));
  }
  ModelEntry collada;
  collada.name = placement::detail::PackageModelPath(model.name);
  collada.collada = true;
  collada.where = platform::NativePath(model.colladaPath);
  const auto known = area_ ? area_->colladas.find(indices_[i]) : decltype(area_->colladas)::iterator{};
  if (area_ && known != area_->colladas.end()) {
    collada.deflated = known->second;
  } else {
    if (!platform::ReadPlainFile(model.colladaPath, collada.data)) {
      platform::SetLastError(platform::NativePath(model.colladaPath) + ": " + platform::WhyUnreadable(model.colladaPath));
      return false;
    }
    // Only what AddFile would deflate is kept deflated (a file that begins
    // like an image is stored as it stands).
    auto deflated = std::make_shared<platform::DeflatedText>();
    if (area_ && !platform::IsCompressedImage(collada.data) && platform::DeflateText(collada.data, *deflated)) {
      collada.deflated = deflated;
      area_->colladas[indices_[i]] = std::move(deflated);
    }
  }
  entries.push_back(std::move(collada));
  return true;
}

bool SourceModels::PlacemarkText(std::size_t i, std::string& text) {
  if (!area_) return TileModels::PlacemarkText(i, text);
  const auto known = area_->placemarks.find(indices_[i]);
  if (known != area_->placemarks.end()) {
    text = known->second;
    return true;
  }
  if (!TileModels::PlacemarkText(i, text)) return false;
  area_->placemarks.emplace(indices_[i], text);
  return true;
}

}  // namespace kmztile::core
