#include "City.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Building.h"
#include "Files.h"
#include "GridProjection.h"
#include "ImageFiles.h"
#include "Random.h"
#include "RealModels.h"
#include "Template.h"

namespace samplegen {

namespace {

constexpr double kMetresPerDegree = 111320.0;

/** One texture side in pixels, weighted towards the small sizes real city models use. */
int PickSide(Random& random, int minTexture, int maxTexture) {
  const double r = random.Unit();
  const int side = r < 0.15 ? 64 : r < 0.50 ? 128 : r < 0.82 ? 256 : r < 0.96 ? 512 : 1024;
  return std::max(minTexture, std::min(side, maxTexture));
}

Shape PickShape(Random& random, double centrality) {
  const double r = random.Unit();
  if (centrality > 0.7) return r < 0.5 ? Shape::Tower : r < 0.7 ? Shape::Slab : r < 0.85 ? Shape::LShape : Shape::Box;
  return r < 0.35   ? Shape::Box
         : r < 0.60 ? Shape::LShape
         : r < 0.75 ? Shape::UShape
         : r < 0.90 ? Shape::Slab
                    : Shape::Tower;
}

/** Overall width, depth and height in metres for a shape; footprints stay below 90 m. */
void PickSize(Shape shape, Random& random, double centrality, double& w, double& d, double& h) {
  switch (shape) {
    case Shape::Box: w = random.Range(15, 40); d = random.Range(12, 35); h = random.Range(9, 30); break;
    case Shape::LShape: w = random.Range(30, 55); d = random.Range(30, 55); h = random.Range(12, 36); break;
    case Shape::UShape: w = random.Range(40, 60); d = random.Range(30, 50); h = random.Range(9, 24); break;
    case Shape::Slab:
      w = random.Range(50, 88);
      d = random.Range(10, 16);
      h = random.Range(15, 45);
      if (random.Chance(0.5)) std::swap(w, d);
      break;
    case Shape::Tower:
      w = random.Range(25, 40);
      d = random.Range(25, 40);
      h = random.Range(50, 90) + 90 * centrality * random.Unit();
      break;
  }
}

std::string Digits(int value, int width) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), '0');
  return text;
}

}  // namespace

const char* GridCrs() { return "EPSG:4527"; }

CityReport GenerateCity(const CityOptions& options) {
  CityReport report;
  MakeFolders(options.out);
  const std::string root = options.out + "/";
  const GridProjection grid(GridCrs());

  const std::string templateKml = TemplateKml(options.centreLon, options.centreLat);
  WriteFileBytes(root + "doc.kml", templateKml);
  report.bytes += templateKml.size();

  const int count = std::max(options.models, 0);
  const int cols = std::max(1, static_cast<int>(std::ceil(std::sqrt(count * 4.0 / 3.0))));
  const int rows = std::max(1, (count + cols - 1) / cols);
  const int width = std::max(4, static_cast<int>(std::to_string(count).size()));
  const double metresPerLon = kMetresPerDegree * std::cos(options.centreLat * M_PI / 180.0);
  const double radius = std::hypot(cols, rows) * options.spacing / 2 + 1;
  report.west = report.south = 1e9;
  report.east = report.north = -1e9;

  Random seeder(options.seed);
  for (int i = 0; i < count; ++i) {
    Random random(seeder.Next());
    const int col = i % cols, row = i / cols;
    const double jitter = options.spacing * 0.15;
    const double east = (col - (cols - 1) / 2.0) * options.spacing + random.Range(-jitter, jitter);
    const double north = ((rows - 1) / 2.0 - row) * options.spacing + random.Range(-jitter, jitter);
    const double centrality = 1.0 - std::min(1.0, std::hypot(east, north) / radius);

    Building b;
    b.name = Digits(i + 1, width);
    b.shape = PickShape(random, centrality);
    double w = 0, d = 0, h = 0;
    PickSize(b.shape, random, centrality, w, d, h);
    b.prisms = MakePrisms(b.shape, w, d, h, random);
    FacadeStyle style = RandomFacadeStyle(random);
    if (b.shape == Shape::Slab) style.ribbon = true;
    b.facadeRepeatW = style.bays * 3.6;
    b.facadeRepeatH = style.floors * 3.2;

    // Textures: facade always, a roof texture on some buildings.
    const std::string folder = root + b.name;
    MakeFolders(folder);
    const int minSide = std::max(64, std::min(options.minTexture, options.maxTexture));
    int tw = PickSide(random, minSide, options.maxTexture);
    const double aspect = random.Unit();
    int th = aspect < 0.6 ? tw : aspect < 0.8 ? tw / 2 : tw * 2;
    th = std::max(minSide, std::min(th, options.maxTexture));
    const double format = random.Unit();
    if (format >= 0.85) {  // TIFF textures stay small: they are the bulkiest format
      tw = std::min(tw, 256);
      th = std::min(th, 256);
    }
    Raster facade = DrawFacade(style, tw, th, random);
    // The grain has its own sequence per building, so the city's other
    // choices are the same with or without it.
    AddGrain(facade, options.grain, options.seed ^ (0x9E3779B97F4A7C15ULL * (i + 1)));
    if (format < 0.45) {
      b.facadeFile = "facade.jpg";
      WriteJpeg(folder + "/" + b.facadeFile, facade, 75);
    } else if (format < 0.85) {
      b.facadeFile = "facade.png";
      WritePng(folder + "/" + b.facadeFile, facade);
    } else {
      b.facadeFile = "facade.tif";
      WriteTiff(folder + "/" + b.facadeFile, facade);
    }
    report.bytes += FileSize(folder + "/" + b.facadeFile);
    ++report.textures;
    const Rgb roofColours[] = {{110, 110, 105}, {150, 90, 70}, {90, 100, 95}, {170, 165, 150}};
    b.roofColour = roofColours[random.Int(0, 3)];
    if (random.Chance(0.3)) {
      Raster roof = DrawRoof(b.roofColour, random.Chance(0.5) ? 64 : 128, random);
      AddGrain(roof, options.grain, options.seed ^ (0xD1B54A32D192ED03ULL * (i + 1)));
      b.roofFile = random.Chance(0.5) ? "roof.jpg" : "roof.png";
      if (b.roofFile == "roof.jpg")
        WriteJpeg(folder + "/" + b.roofFile, roof, 70);
      else
        WritePng(folder + "/" + b.roofFile, roof);
      report.bytes += FileSize(folder + "/" + b.roofFile);
      ++report.textures;
    }

    const std::string dae = ColladaDocument(b);
    WriteFileBytes(root + b.name + ".dae", dae);
    report.bytes += dae.size();

    const double lon = options.centreLon + east / metresPerLon;
    const double lat = options.centreLat + north / kMetresPerDegree;
    report.west = std::min(report.west, lon);
    report.east = std::max(report.east, lon);
    report.south = std::min(report.south, lat);
    report.north = std::max(report.north, lat);
    const bool useGrid = (i % 2 == 1);  // every second building is located by grid coordinates
    const std::string text = LocationText(grid, lon, lat, useGrid);
    if (useGrid) ++report.gridLocated;
    WriteFileBytes(root + b.name + ".txt", text);
    report.bytes += text.size();
    ++report.models;
  }

  if (!options.realData.empty()) AddRealModels(options.realData, options.out, options.centreLon, options.centreLat, grid, report);
  return report;
}

}  // namespace samplegen
