// Tile selection: the models whose point lies strictly inside one tile.
#include "BaseParser.h"
#include "tiles/detail/CoordinatesFile.h"

bool CBaseParser::SelectKml(std::string coordinatesPath, IPyramidPtr pyramid, long level, long row, long column,
                            std::vector<std::string>* selected) {
  if (coordinatesPath.empty() || !pyramid || !selected) return false;
  double west = 0, south = 0, east = 0, north = 0;
  VARIANT_BOOL valid = VARIANT_FALSE;
  pyramid->GetTileBounds(level, row, column, &west, &south, &east, &north, &valid);
  if (valid == VARIANT_FALSE) return false;

  // A coordinates file that cannot be read is a missing input, not an empty tile.
  const auto list = kmztile::tiles::detail::LoadCoordinates(coordinatesPath);
  if (!list) return false;

  list->SelectInside(west, south, east, north, *selected);
  // Groups the count promised but the file lacks read as an empty name at (0, 0).
  // They are all alike and no empty name can be combined, so one stands for all.
  if (list->missingGroups > 0 && west < 0.0 && 0.0 < east && south < 0.0 && 0.0 < north) selected->push_back("");
  return true;
}
