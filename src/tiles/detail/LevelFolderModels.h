#pragma once
// The models of one tile as an imported working folder holds them: each
// model's document and COLLADA copy in the level folder, its textures in its
// package in the working folder.
#include <string>
#include <vector>

#include "core/detail/TileCore.h"

namespace kmztile::tiles::detail {

class LevelFolderModels final : public core::TileModels {
 public:
  /** @p workFolder ends with its separator; @p levelFolder is that level's folder with a trailing separator. */
  LevelFolderModels(const std::vector<std::string>& packages, std::string workFolder, std::string levelFolder);

  std::size_t Count() const override { return packages_.size(); }
  const std::string& Package(std::size_t i) const override { return packages_[i]; }
  bool Document(std::size_t i, std::string& text) override;
  bool Entries(std::size_t i, std::vector<core::ModelEntry>& entries) override;

 private:
  const std::vector<std::string>& packages_;
  std::string workFolder_;
  std::string levelFolder_;
};

}  // namespace kmztile::tiles::detail
