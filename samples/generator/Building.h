#pragma once
// The shape of one sample building (extruded footprints) and its COLLADA
// 1.4.1 document, with texture coordinates for a repeating facade texture.
#include <string>
#include <vector>

#include "Raster.h"

namespace samplegen {

/** A point of a footprint, in metres east (x) and north (y) of the model origin. */
struct Point2 {
  double x = 0, y = 0;
};

/** A vertical prism: a simple counter-clockwise footprint from z0 up to z1 metres. */
struct Prism {
  std::vector<Point2> footprint;
  double z0 = 0, z1 = 0;
};

/** The kinds of building the generator draws. */
enum class Shape { Box, LShape, Slab, Tower, UShape };

/** Name of a shape for the location notes ("box", "l-shape", ...). */
const char* ShapeName(Shape shape);

/** A building ready to be written: geometry and the textures its document names. */
struct Building {
  std::string name;             ///< model name N: N.dae, N.txt, N/ folder
  Shape shape = Shape::Box;
  std::vector<Prism> prisms;
  std::string facadeFile;       ///< file name inside N/, e.g. "facade.jpg"
  double facadeRepeatW = 12;    ///< metres of wall one facade texture covers horizontally
  double facadeRepeatH = 12;    ///< and vertically
  std::string roofFile;         ///< file name inside N/, or empty for a plain roof colour
  Rgb roofColour;
};

/** Builds the prisms of a building of @p shape with overall size w x d and height h (metres). */
std::vector<Prism> MakePrisms(Shape shape, double w, double d, double h, Random& random);

/**
 * Triangulates a simple counter-clockwise polygon by ear clipping.
 * @return index triples into @p polygon; empty for fewer than three points.
 */
std::vector<int> Triangulate(const std::vector<Point2>& polygon);

/** The COLLADA 1.4.1 document of @p building (Z up, metres), textures referenced as "N/file". */
std::string ColladaDocument(const Building& building);

}  // namespace samplegen
