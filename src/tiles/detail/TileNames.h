#pragma once
// Names shared by the tile combiner and the tile KMZ writer: the level
// folder of a level, a package's base name, and the one renaming rule that
// moves a package's files into a folder of their own in the tile (applied to
// model links and archive entry paths alike, so a link always names its entry).
#include <optional>
#include <string>

namespace kmztile::tiles::detail {

/** The finest level; level folder 1 holds it, each further folder one level coarser. */
inline constexpr long kFinestLevel = 18;
/** Level folders an import fills: levels 18 down to 15. */
inline constexpr int kLevelFolderCount = 4;
/** The coarsest level a level folder holds. */
inline constexpr long kCoarsestLevel = kFinestLevel - kLevelFolderCount + 1;
/** Each level folder divides texture sizes by this base once more. */
inline constexpr int kTextureBase = 2;

/**
 * The level folder number max level - level + 1, when it is a single decimal
 * digit (0 to 9); std::nullopt for every other level, which has no folder.
 */
std::optional<int> LevelFolderNumber(long maxLevel, long level);

/** Working folder + the level folder number (no trailing separator). */
std::string LevelFolder(const std::string& workFolder, int number);

/** A package file name without its last four characters; shorter names are their own base name. */
std::string BaseNameOf(const std::string& packageName);

/** A package file name with its last character replaced by "l" (house.kmz gives house.kml); "" stays "". */
std::string ModelKmlNameOf(const std::string& packageName);

/**
 * Inserts @p baseName after the sixth character of @p path ("models/1234.dae"
 * with "1234" gives "models1234/1234.dae"); a path of six characters or fewer
 * gets the base name at its end.
 */
std::string InsertBaseName(const std::string& path, const std::string& baseName);

/** True when @p text ends with @p suffix (case-sensitive). */
bool EndsWith(const std::string& text, const char* suffix);

}  // namespace kmztile::tiles::detail
