#pragma once
// The coordinates file as tile selection reads it, parsed once and kept
// while the file stays the same: every tile of a run scans the same list.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tiles/detail/TileOfPoint.h"

namespace kmztile::tiles::detail {

/** One model of the coordinates file. */
struct ModelPoint {
  std::string name;
  double longitude = 0.0;
  double latitude = 0.0;
};

/** The parsed file: the groups present, and how many more the count line promised. */
struct CoordinatesList {
  std::vector<ModelPoint> models;
  /** Groups the count announced but the file does not hold (they read as "" at 0, 0). */
  std::uint64_t missingGroups = 0;
  /** Positions in models ordered by longitude (points with a NaN longitude left out). */
  std::vector<std::size_t> byLongitude;

  /**
   * Appends, in file order, the names of the models that lie in tile
   * @p cell of tiles @p size degrees wide (TileOfPoint's rule; NaN in no
   * tile). Looks only at the models whose longitude falls in the cell's column.
   */
  void SelectInTile(const TileCell& cell, double size, std::vector<std::string>& out) const;
};

/**
 * Parses coordinates-file text: line 1 is the count N (its leading integer;
 * no number gives 0), then N groups of name, longitude, latitude (leading
 * decimal numbers; no number gives 0). Lines end at LF; a CR before it is
 * not part of the line.
 */
CoordinatesList ParseCoordinates(const std::string& text);

/** Builds the longitude order of @p list. */
void IndexByLongitude(CoordinatesList& list);

/**
 * The parsed coordinates file at @p path, read again only when its path,
 * size or modification time changed since the last call. Installs the
 * user's default locale before parsing. @return nullptr when the file cannot
 * be opened or read.
 */
std::shared_ptr<const CoordinatesList> LoadCoordinates(const std::string& path);

/** Forgets the kept list (for tests and after a host rewrote the file in the same instant). */
void ForgetCoordinates();

}  // namespace kmztile::tiles::detail
