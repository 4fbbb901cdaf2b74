#pragma once
// An 8-bit RGB picture in memory and the procedural facade drawings of the
// sample city.
#include <cstdint>
#include <vector>

#include "Random.h"

namespace samplegen {

/** An RGB colour. */
struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

/** A width x height picture, rows top to bottom, 3 bytes per pixel. */
struct Raster {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  /** A picture filled with @p fill. */
  Raster(int w, int h, Rgb fill);
  /** Fills the rectangle [x0, x1) x [y0, y1), clipped to the picture. */
  void FillRect(int x0, int y0, int x1, int y1, Rgb colour);
};

/** How a facade looks: wall and window colours and the window grid. */
struct FacadeStyle {
  Rgb wall;
  Rgb window;
  Rgb frame;
  int floors = 4;      ///< window rows in one texture repeat
  int bays = 4;        ///< window columns in one texture repeat
  bool ribbon = false; ///< continuous window bands (office slab) instead of single windows
};

/** A random but pleasant facade style. */
FacadeStyle RandomFacadeStyle(Random& random);

/** Draws a facade of @p style at the given size; @p random adds lit windows and grain. */
Raster DrawFacade(const FacadeStyle& style, int width, int height, Random& random);

/**
 * Adds noise of up to +-@p amplitude levels to every sample, from its own
 * sequence @p seed: photographed surfaces are never flat, and how well a
 * texture compresses (and so what decoding it costs) depends on it.
 */
void AddGrain(Raster& img, int amplitude, std::uint64_t seed);

/** Draws a flat roof: gravel-like grain with a darker parapet edge. */
Raster DrawRoof(Rgb base, int size, Random& random);

}  // namespace samplegen
