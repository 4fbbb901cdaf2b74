#pragma once
// The super-overlay of a build as regionated KML: root.kml links the
// coarsest level's tiles (through a few levels of group files when there
// are many), and every tile has an index file index/L/R/C.kml that shows
// the tile within its level-of-detail band and links the index files of its
// children (its nearest built descendants), each behind a Region. A KML
// client loads only what the view needs, and no file holds more than a
// bounded number of links at any size.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "build/RootKml.h"
#include "build/TileRecord.h"

namespace kmztool::build {

/** One NetworkLink of an overlay file. */
struct OverlayLink {
  std::string name;
  double west = 0, south = 0, east = 0, north = 0;
  LodBand lod;
  std::string href;  ///< relative to the file holding the link
};

/** One KML file of the overlay. */
struct OverlayFile {
  std::string path;  ///< below the output folder: "root.kml" or "index/L/R/C.kml"
  std::vector<OverlayLink> links;
};

/**
 * Hands every file of the overlay over @p tiles to @p visit, root.kml first.
 * The root holds at most @p maxRootLinks links; index and group files hold
 * a tile and its children (at most 4 per level between built levels).
 */
void ForEachOverlayFile(const std::vector<TileRecord>& tiles, const RootKmlOptions& options, std::size_t maxRootLinks,
                        const std::function<void(const OverlayFile&)>& visit);

/** The KML text of one overlay file (the root also gets a view of all tiles). */
std::string OverlayFileText(const OverlayFile& file, const std::vector<TileRecord>& tiles, const RootKmlOptions& options);

/** Links the root holds at most by default. */
inline constexpr std::size_t kMaxRootLinks = 256;

}  // namespace kmztool::build
