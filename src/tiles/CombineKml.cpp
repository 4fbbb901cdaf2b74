// KML combination over the level folders: the tile core combines the
// documents; the tile document is also written into the level folder.
#include "BaseParser.h"
#include "core/detail/TileCore.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "tiles/detail/LevelFolderModels.h"
#include "tiles/detail/TileNames.h"

using namespace kmztile::tiles::detail;

bool CBaseParser::CombineKml(long level, std::vector<std::string> models, std::string tileName,
                             std::string* written) {
  if (m_workFolder.empty() || tileName.empty() || models.empty()) return false;
  const auto number = LevelFolderNumber(m_maxLevel, level);
  if (!number) return false;
  const std::string folder = LevelFolder(m_workFolder, *number) + "\\";
  LevelFolderModels source(models, m_workFolder, folder);
  std::string text;
  if (!kmztile::core::CombineTileDocument(source, tileName, text)) return false;
  if (!kmztile::platform::WriteFileAtomically(folder + tileName + ".kml", text)) {
    kmztile::platform::SetLastError("cannot write " + kmztile::platform::NativePath(folder + tileName + ".kml"));
    return false;
  }
  if (written) written->swap(text);
  return true;
}
