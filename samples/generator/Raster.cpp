#include "Raster.h"

#include <algorithm>

namespace samplegen {

namespace {

std::uint8_t Clamp(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }

Rgb Shade(Rgb c, int delta) { return {Clamp(c.r + delta), Clamp(c.g + delta), Clamp(c.b + delta)}; }

}  // namespace

Raster::Raster(int w, int h, Rgb fill) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 3) {
  for (size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = fill.r;
    pixels[i + 1] = fill.g;
    pixels[i + 2] = fill.b;
  }
}

void Raster::FillRect(int x0, int y0, int x1, int y1, Rgb colour) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, width);
  y1 = std::min(y1, height);
  for (int y = y0; y < y1; ++y) {
    std::uint8_t* row = pixels.data() + (static_cast<size_t>(y) * width + x0) * 3;
    for (int x = x0; x < x1; ++x, row += 3) {
      row[0] = colour.r;
      row[1] = colour.g;
      row[2] = colour.b;
    }
  }
}

FacadeStyle RandomFacadeStyle(Random& random) {
  static const Rgb kWalls[] = {{214, 205, 188}, {190, 120, 96},  {160, 160, 158}, {232, 226, 210},
                               {120, 132, 140}, {205, 170, 125}, {170, 90, 70},   {225, 215, 180}};
  static const Rgb kGlass[] = {{60, 90, 120}, {40, 60, 80}, {90, 120, 140}, {70, 80, 70}, {30, 40, 55}};
  FacadeStyle style;
  style.wall = kWalls[random.Int(0, 7)];
  style.window = kGlass[random.Int(0, 4)];
  style.frame = Shade(style.wall, -40);
  style.floors = random.Int(2, 6);
  style.bays = random.Int(2, 6);
  style.ribbon = random.Chance(0.25);
  return style;
}

Raster DrawFacade(const FacadeStyle& style, int width, int height, Random& random) {
  Raster img(width, height, style.wall);
  const double cellW = static_cast<double>(width) / style.bays;
  const double cellH = static_cast<double>(height) / style.floors;
  for (int f = 0; f < style.floors; ++f) {
    const int y0 = static_cast<int>(f * cellH + cellH * 0.25);
    const int y1 = static_cast<int>(f * cellH + cellH * 0.80);
    if (style.ribbon) {
      img.FillRect(0, y0 - 1, width, y1 + 1, style.frame);
      img.FillRect(0, y0, width, y1, style.window);
      for (int b = 0; b <= style.bays; ++b) {
        const int x = static_cast<int>(b * cellW);
        img.FillRect(x - 1, y0, x + 1, y1, style.frame);
      }
      continue;
    }
    for (int b = 0; b < style.bays; ++b) {
      const int x0 = static_cast<int>(b * cellW + cellW * 0.22);
      const int x1 = static_cast<int>(b * cellW + cellW * 0.78);
      // One window in ten is lit, which keeps the grid from looking printed.
      const Rgb glass = random.Chance(0.1) ? Rgb{230, 200, 120} : style.window;
      img.FillRect(x0 - 1, y0 - 1, x1 + 1, y1 + 1, style.frame);
      img.FillRect(x0, y0, x1, y1, glass);
      img.FillRect(x0, (y0 + y1) / 2, x1, (y0 + y1) / 2 + 1, style.frame);
    }
  }
  // A floor slab line at the bottom of every repeat so stacked repeats read as storeys.
  img.FillRect(0, height - std::max(1, height / 64), width, height, Shade(style.wall, -25));
  return img;
}

void AddGrain(Raster& img, int amplitude, std::uint64_t seed) {
  if (amplitude <= 0) return;
  Random noise(seed);
  for (std::uint8_t& sample : img.pixels) sample = Clamp(sample + noise.Int(-amplitude, amplitude));
}

Raster DrawRoof(Rgb base, int size, Random& random) {
  Raster img(size, size, base);
  const int grains = size * size / 16;
  for (int i = 0; i < grains; ++i) {
    const int x = random.Int(0, size - 1);
    const int y = random.Int(0, size - 1);
    img.FillRect(x, y, x + 1, y + 1, Shade(base, random.Int(-18, 18)));
  }
  const int edge = std::max(1, size / 32);
  const Rgb parapet = Shade(base, -35);
  img.FillRect(0, 0, size, edge, parapet);
  img.FillRect(0, size - edge, size, size, parapet);
  img.FillRect(0, 0, edge, size, parapet);
  img.FillRect(size - edge, 0, size, size, parapet);
  return img;
}

}  // namespace samplegen
