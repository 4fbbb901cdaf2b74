#pragma once
// Reducing one texture of a model package to the detail of a tile level.
#include <functional>
#include <string>

#include "tiles/detail/TextureCache.h"

namespace kmztile::tiles::detail {

/** What texture reduction did with an entry. */
enum class TextureOutcome {
  /** The bytes are unchanged (the reduced image could not be encoded). */
  Kept,
  /** The bytes now hold the reduced, re-encoded image. */
  Reduced,
  /** The entry is left out of the tile: below 8 by 8 pixels at this level, as designed. */
  Dropped,
  /** The entry is left out of the tile because it is no decodable image; the caller reports it. */
  Undecodable,
  /** The entry's bytes could not be read; its reader has reported it and the entry is left out. */
  Unreadable,
};

/**
 * The image format code of an entry by the last three characters of its
 * path: "jpg"/"JPG" 3, "png"/"PNG" 4, "tif"/"TIF" 6, anything else 0.
 */
int TextureFormatOf(const std::string& path);

/**
 * The reduction every level decodes a texture at for reduction base @p base:
 * the one of the finest reduced level (level folder 1), which still holds
 * every level's detail; 1 when that level keeps the full size. A JPEG is
 * decoded straight at the matching DCT scale.
 */
double DecodeReduction(int base);

/**
 * Reduces the texture @p data of entry @p path for level folder number
 * @p levelFolder (above 0) and reduction base @p base: the size is divided by
 * base^levelFolder (single precision, truncated), the image resampled to it
 * with the nearest pixel and encoded again (format 0 as JPEG). A size that
 * truncates to 0 in one direction keeps 1 pixel there.
 *
 * Every level decodes the entry the same way (a JPEG at the reduced DCT
 * scale of level folder 1, which still holds every level's detail), so one
 * decode serves all levels: with @p cache, the decode is looked up under
 * @p source (package path, size and modification time, entry name; the
 * reduction is filled in here) and kept there after a miss. The result is
 * the same with or without the cache.
 *
 * @p readData, when given, fills @p data on demand (it is called only when
 * the bytes are needed: a cache miss, or an image that cannot be encoded);
 * its false gives Unreadable.
 */
TextureOutcome ReduceTexture(const std::string& path, std::string& data, int levelFolder, int base,
                             TextureCache* cache = nullptr, TextureKey source = {},
                             const std::function<bool()>& readData = {});

}  // namespace kmztile::tiles::detail
