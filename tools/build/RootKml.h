#pragma once
// The level-of-detail rules of a build's super-overlay (see SuperOverlay.h):
// each tile is shown through a Region (its box and a level-of-detail band)
// only while it is the right level for the view: a coarse tile hands over to
// the finer tiles below it as the view closes in.
#include <string>
#include <vector>

#include "build/TileRecord.h"

namespace kmztool::build {

/** Settings of the super-overlay. */
struct RootKmlOptions {
  std::string name = "kmztile";  ///< document name (any text; escaped)
  /**
   * Screen size, in pixels, at which a tile takes over from its parent. Every
   * level but the coarsest shows while its tiles span [handover, 2 x
   * handover) pixels; the coarsest appears from handover / 4, the finest
   * never goes away.
   */
  int handoverPixels = 256;
};

/** Level-of-detail band of one level, in pixels; max -1 means no upper limit. */
struct LodBand {
  double minPixels = 0;
  double maxPixels = -1;
};

/**
 * The band of @p level among the built @p levels (sorted, unique). A level
 * that follows its coarser neighbour after a gap of g levels starts at
 * 2 x handover / 2^g, which is where that neighbour stops, its tiles being
 * 2^g times smaller.
 */
LodBand LodBandOf(long level, const std::vector<long>& levels, int handoverPixels);

/** A LookAt (indented for a Document) from which the whole extent of @p tiles is in view; "" without tiles. */
std::string LookAtAll(const std::vector<TileRecord>& tiles);

/** A coordinate or pixel count as KML text: every digit a double holds ("%.17g"). */
std::string KmlNumber(double value);

/** @p text with &, <, >, " and ' replaced by XML character entities. */
std::string XmlEscape(const std::string& text);

}  // namespace kmztool::build
