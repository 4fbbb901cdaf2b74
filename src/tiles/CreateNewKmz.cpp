// Tile KMZ writing over the level folders: the tile core packs the archive
// from the packages and the level's COLLADA copies; the archive is also
// written into the level folder.
#include "BaseParser.h"
#include "core/detail/TileCore.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "tiles/detail/LevelFolderModels.h"
#include "tiles/detail/TileNames.h"

using namespace kmztile::tiles::detail;

bool CBaseParser::CreateNewKmz(long level, std::vector<std::string> models, std::string tileName,
                               const std::string* document, std::string* archive) {
  if (m_workFolder.empty() || tileName.empty()) return false;
  const auto number = LevelFolderNumber(m_maxLevel, level);
  if (!number) return false;
  const std::string folder = LevelFolder(m_workFolder, *number) + "\\";

  std::string read;  // the tile document from the level folder, when not handed over
  if (!document) {
    if (!kmztile::platform::ReadWholeFile(folder + tileName + ".kml", read)) return false;
    document = &read;
  }
  LevelFolderModels source(models, m_workFolder, folder);
  const kmztile::core::LevelDetail detail{*number, m_textureBase, &TextureCache::Shared()};
  std::string bytes;
  if (!kmztile::core::PackTileArchive(source, tileName, *document, detail, bytes)) return false;
  // Written beside its final name and renamed into place: a failed tile never
  // leaves a half-written KMZ under that name.
  if (!kmztile::platform::WriteFileAtomically(folder + tileName + ".kmz", bytes)) {
    kmztile::platform::SetLastError("cannot write " + kmztile::platform::NativePath(folder + tileName + ".kmz"));
    return false;
  }
  if (archive) archive->swap(bytes);
  return true;
}
