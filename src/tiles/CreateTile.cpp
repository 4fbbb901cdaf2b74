// The tile driver: selection, combination and KMZ writing; the host gets the
// bytes of the KMZ just written (GetLastKmz reads a tile's KMZ from its level
// folder).
#include "BaseParser.h"
#include "core/detail/TileCore.h"
#include "folders/detail/LevelFolderLinks.h"
#include "platform/KmlFiles.h"
#include "platform/LastError.h"
#include "tiles/detail/TileNames.h"

namespace {

bool Fail(std::string reason) {
  kmztile::platform::SetLastError(std::move(reason));
  return false;
}

}  // namespace

bool CBaseParser::CreateTile(IPyramidPtr pyramid, long level, long row, long column, std::string* kmz) {
  // Each refusal records its reason for the host (platform/LastError.h).
  return kmztile::platform::GuardedCall([&] {
    if (!kmz) return Fail("no place for the tile's bytes was given");
    // A level without a level folder (number outside 0 to 9) cannot be built.
    if (!kmztile::tiles::detail::LevelFolderNumber(m_maxLevel, level))
      return Fail("level " + std::to_string(level) + " has no level folder in " + m_workFolder);
    // The tile reads its models from the level folders and writes its files
    // there: a level folder that is a symbolic link may lead anywhere.
    if (kmztile::folders::detail::AnyLevelFolderIsALink(m_workFolder, m_levelFolderCount))
      return Fail("a level folder of " + m_workFolder + " is a symbolic link, which is not followed");
    std::vector<std::string> models;
    if (!SelectKml(m_coordsFile, std::move(pyramid), level, row, column, &models)) {
      if (kmztile::platform::LastError().empty()) Fail("the tile is outside the pyramid");
      return false;
    }
    m_lastTileModelCount = static_cast<int>(models.size());
    if (models.empty()) {
      kmz->clear();
      return true;
    }
    const std::string tileName = kmztile::core::TileName(level, row, column);
    // The document and the archive pass from step to step in memory; the
    // level folder still receives both files, as hosts expect.
    std::string document, archive;
    if (!CombineKml(level, models, tileName, &document)) return false;
    if (!CreateNewKmz(level, models, tileName, &document, &archive)) return false;
    kmz->swap(archive);
    return true;
  });
}

bool CBaseParser::GetLastKmz(long level, std::string tileName, std::string* kmz) {
  if (m_workFolder.empty() || tileName.empty() || !kmz) return false;
  const auto number = kmztile::tiles::detail::LevelFolderNumber(m_maxLevel, level);
  if (!number) return false;
  const std::string path = kmztile::tiles::detail::LevelFolder(m_workFolder, *number) + "\\" + tileName + ".kmz";
  return kmztile::platform::KmlReadFileToString(path, kmz);
}
