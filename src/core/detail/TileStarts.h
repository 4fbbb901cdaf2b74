#pragma once
// The start of a tile document, kept between tiles: the first model's
// document without the features the models replace, with the stand-in
// placemark their texts go into, imported (for its ids) and serialised.
// Tiles whose first model is the same (the tiles above a model's finest
// tile often start with it) share it.
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "kml/engine.h"

namespace kmztile::core {

/** One start: the imported document (its ids) and its text. */
struct TileStart {
  kmlengine::KmlFilePtr file;
  std::string text;
};

/** Starts by first model and number of features removed, within one area. */
class TileStarts {
 public:
  /** How many features named "Model" the first document of @p package holds, when known. */
  std::optional<std::size_t> ModelFeatures(const std::string& package) const {
    const auto it = features_.find(package);
    return it == features_.end() ? std::nullopt : std::optional<std::size_t>(it->second);
  }
  void KeepModelFeatures(const std::string& package, std::size_t count) { features_[package] = count; }

  const TileStart* Find(const std::string& package, std::size_t removed) const {
    const auto it = starts_.find({package, removed});
    return it == starts_.end() ? nullptr : &it->second;
  }
  const TileStart& Keep(const std::string& package, std::size_t removed, TileStart start) {
    return starts_[{package, removed}] = std::move(start);
  }

  void Clear() {
    features_.clear();
    starts_.clear();
  }

 private:
  std::map<std::string, std::size_t> features_;
  std::map<std::pair<std::string, std::size_t>, TileStart> starts_;
};

}  // namespace kmztile::core
