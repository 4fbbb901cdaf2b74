#pragma once
// Which entries of a tile KMZ are a model's textures. A tile stores each
// model's texture files right before its ".dae" file, so a model's textures
// are the entries between the previous model (or the archive's start) and
// the model itself.
#include <map>
#include <string>
#include <vector>

namespace kmztile::reading::detail {

/**
 * Adds every model entry of @p names (ending in ".dae", any letter case) to
 * @p textures with the entries that precede it since the previous model.
 * Names shorter than five characters and names ending in ".kml" (any case)
 * are skipped; entries after the last model belong to none. An existing key
 * keeps its value.
 */
void GroupTexturesByModel(const std::vector<std::string>& names,
                          std::map<std::string, std::vector<std::string>>& textures);

}  // namespace kmztile::reading::detail
