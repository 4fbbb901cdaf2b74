// Tile selection: the models whose point lies in one tile (each point lies
// in exactly one tile of a level, see TileOfPoint).
#include "BaseParser.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "tiles/detail/CoordinatesFile.h"
#include "tiles/detail/TileOfPoint.h"

using namespace kmztile::tiles::detail;

bool CBaseParser::SelectKml(std::string coordinatesPath, IPyramidPtr pyramid, long level, long row, long column,
                            std::vector<std::string>* selected) {
  if (coordinatesPath.empty() || !pyramid || !selected) return false;
  // The pyramid says which tiles exist.
  double west = 0, south = 0, east = 0, north = 0;
  VARIANT_BOOL valid = VARIANT_FALSE;
  pyramid->GetTileBounds(level, row, column, &west, &south, &east, &north, &valid);
  if (valid == VARIANT_FALSE) return false;

  // The tile size follows from the extent's width, as in TileIndex; a
  // pyramid that cannot tell its extent is measured by the tile itself.
  double extentWest = 0, extentSouth = 0, extentEast = 0, extentNorth = 0;
  const HRESULT extent = pyramid->GetPyramidExtent(&extentWest, &extentSouth, &extentEast, &extentNorth);
  const double size = SUCCEEDED(extent) ? TileSize(extentEast - extentWest, level) : east - west;
  const TileCell cell{row, column};
  // A coordinates file that cannot be read is a missing input, not an empty tile.
  const auto list = LoadCoordinates(coordinatesPath);
  if (!list) {
    kmztile::platform::SetLastError("the coordinates file " + kmztile::platform::NativePath(coordinatesPath) +
                                    " cannot be read or is not a coordinates list");
    return false;
  }

  list->SelectInTile(cell, size, *selected);
  // Groups the count promised but the file lacks read as an empty name at (0, 0).
  // They are all alike and no empty name can be combined, so one stands for all.
  if (list->missingGroups > 0 && TileOfPoint(0.0, 0.0, size) == std::optional<TileCell>(cell)) selected->push_back("");
  return true;
}
