#pragma once
// Reading a model location text the way the build does: the first two
// lines, each read as a number by the C runtime under the user's default
// locale (leading blanks skipped, reading stops at the first character that
// cannot continue the number).
#include <functional>
#include <string>

namespace kmztile::placement::detail {

/** One line of a location text as the build reads it. */
struct LocationNumber {
  /** False when the line is missing or does not begin with a number (the build reads 0). */
  bool present = false;
  double value = 0;
  /** Text after the number that the build ignores (trailing blanks removed). */
  std::string ignored;
};

/** The first two lines of a location text. */
struct LocationLines {
  LocationNumber x;
  LocationNumber y;
};

/** Reads x (line 1) and y (line 2) of the location text @p text. */
LocationLines ReadLocationLines(const std::string& text);

/**
 * Lines 1 and 2 of the location text file @p path as numbers, as packaging
 * reads them (atof: 0 for a missing line, an empty one or one without a
 * number; recorded as a problem). A missing file reads as 0, 0 (recorded
 * as a problem too). @return
 * false when the path exists but is no plain file that can be read (a link
 * or a FIFO is not read).
 */
bool ReadLocationFile(const std::string& path, double& x, double& y);

/** True when a location is given in grid coordinates (both numbers beyond 180 and 90), not as lon/lat. */
bool IsGridLocation(double x, double y);

/**
 * Why a model placed at @p longitude, @p latitude cannot be tiled, as the
 * end of a sentence on the model ("is located at ..., which is no
 * longitude/latitude: ..."); empty when the place is a longitude/latitude.
 * Grid coordinates read without their coordinate system end up so.
 */
std::string WhyNotLonLat(double longitude, double latitude);

/**
 * A coordinate as the coordinates and scope files hold it ("%f "). @return
 * false when the text would not fit the writer's buffer (only a corrupt
 * location gives such a value).
 */
bool FormatCoordinate(double value, std::string& out);

/** A coordinate as tile selection reads it back from the coordinates file (six decimals). */
double CoordinateAsListed(double value);

/** Records that model @p model was left out, naming @p file and why. */
void ReportLeftOut(const std::string& file, const std::string& model, const std::string& why);

/** How placing a model went. */
enum class Placement { Placed, Unreadable, Unusable };

/**
 * Places model @p name of source folder @p folder as packaging does: reads
 * N.txt, converts grid locations with @p convert (which may throw), and
 * formats the position for the coordinates file. A model that cannot be
 * placed is recorded as left out. @return Placed with lon/lat and their
 * texts; Unreadable when N.txt is no plain readable file; Unusable when the
 * position is not finite.
 */
Placement PlaceModel(const std::string& folder, const std::string& name,
                     const std::function<void(double, double, double&, double&)>& convert, double& lon, double& lat,
                     std::string& lonText, std::string& latText);

}  // namespace kmztile::placement::detail
