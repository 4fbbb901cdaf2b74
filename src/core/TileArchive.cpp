// The tile archive: the tile document first, then every model's files under
// their renamed paths, textures reduced to the level.
#include <cstdio>

#include "core/detail/TileCore.h"
#include "platform/LastError.h"
#include "platform/Problems.h"
#include "platform/ZipWriter.h"
#include "tiles/detail/TextureReduction.h"
#include "tiles/detail/TileNames.h"

namespace kmztile::core {

bool PackTileArchive(TileModels& models, const std::string& tileName, const std::string& document,
                     const LevelDetail& detail, std::string& archive, const PackedEntryListener& listener) {
  if (tileName.empty()) return false;
  platform::ZipWriter zip;
  if (!zip.AddFile(tileName + ".kml", document)) return false;
  std::vector<ModelEntry> entries;
  for (std::size_t i = 0; i < models.Count(); ++i) {
    entries.clear();
    if (!models.Entries(i, entries)) return false;
    const std::string base = tiles::detail::BaseNameOf(models.Package(i));
    for (ModelEntry& entry : entries) {
      using tiles::detail::TextureOutcome;
      // Reads a deferred entry's bytes once; false when they cannot be read.
      const auto readData = [&entry] {
        if (!entry.read) return true;
        const auto read = std::move(entry.read);
        entry.read = nullptr;
        return read(entry.data);
      };
      const bool reduce = !entry.collada && detail.levelFolder > 0;
      TextureOutcome outcome = TextureOutcome::Kept;
      if (reduce)
        outcome = tiles::detail::ReduceTexture(entry.name, entry.data, detail.levelFolder, detail.textureBase,
                                               entry.cacheable ? detail.cache : nullptr, entry.source, readData);
      else if (!readData())
        outcome = TextureOutcome::Unreadable;
      if (outcome == TextureOutcome::Undecodable)
        platform::ReportProblem(entry.where, "the texture does not decode, so the tiles leave it out");
      const std::string archiveName = tiles::detail::InsertBaseName(entry.name, base);
      // A file that cannot be read has been reported by its reader.
      if (outcome == TextureOutcome::Unreadable) continue;
      const bool packed = outcome != TextureOutcome::Dropped && outcome != TextureOutcome::Undecodable;
      if (packed && (entry.deflated ? !zip.AddDeflated(archiveName, *entry.deflated) : !zip.AddFile(archiveName, entry.data))) {
        platform::SetLastError("cannot add " + entry.name + " of model " + models.Package(i) + " to the tile archive");
        return false;
      }
      if (listener) listener(i, entry, archiveName, packed);
    }
  }
  std::string bytes;
  if (!zip.Finish(bytes)) {
    platform::SetLastError("cannot finish the tile archive");
    return false;
  }
  archive.swap(bytes);
  return true;
}

bool BuildTile(TileModels& models, const std::string& tileName, const LevelDetail& detail, std::string& document,
               std::string& archive, const PackedEntryListener& listener) {
  return CombineTileDocument(models, tileName, document) &&
         PackTileArchive(models, tileName, document, detail, archive, listener);
}

LevelDetail DetailOfLevel(long level, tiles::detail::TextureCache* cache) {
  const auto folder = tiles::detail::LevelFolderNumber(tiles::detail::kFinestLevel, level);
  return LevelDetail{folder ? *folder : 0, tiles::detail::kTextureBase, cache};
}

std::string TileName(long level, long row, long column) {
  char name[72];
  std::snprintf(name, sizeof name, "%ld-%ld-%ld", level, row, column);
  return name;
}

}  // namespace kmztile::core
