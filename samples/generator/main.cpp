// kmztile-samplegen: writes the deterministic sample city (loose COLLADA
// buildings with location texts, texture folders and a template doc.kml).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <iostream>

#include "City.h"

int main(int argc, char** argv) {
  samplegen::CityOptions options;
  CLI::App app{"kmztile-samplegen: writes a deterministic sample city of textured COLLADA buildings"};
  app.add_option("--out", options.out, "Folder to write the city into")->required();
  app.add_option("--models", options.models, "Number of generated buildings")
      ->capture_default_str()
      ->check(CLI::Range(1, 10000000));
  app.add_option("--seed", options.seed, "Seed of every random choice")->capture_default_str();
  app.add_option("--max-texture", options.maxTexture, "Largest texture side in pixels")
      ->capture_default_str()
      ->check(CLI::Range(64, 4096));
  app.add_option("--min-texture", options.minTexture,
                 "Smallest facade texture side in pixels (TIFF facades stay at most 256, roofs 64 or 128)")
      ->capture_default_str()
      ->check(CLI::Range(64, 4096));
  app.add_option("--real", options.realData, "Folder of the real COLLADA sample models to add (duck, cu_macky, alpha_tiff), e.g. tests/data/collada")
      ->check(CLI::ExistingDirectory);
  app.add_option("--grain", options.grain,
                 "Per-pixel noise of every texture in levels (+-N), as photographed surfaces have; 0 keeps the flat drawings")
      ->capture_default_str()
      ->check(CLI::Range(0, 64));
  app.add_option("--lon", options.centreLon, "Longitude of the city centre")->capture_default_str()->check(CLI::Range(-170.0, 170.0));
  app.add_option("--lat", options.centreLat, "Latitude of the city centre")->capture_default_str()->check(CLI::Range(-80.0, 80.0));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  try {
    const samplegen::CityReport report = samplegen::GenerateCity(options);
    std::printf("%d models (%d located by %s grid coordinates), %d textures, %.2f MB in %s\n", report.models,
                report.gridLocated, samplegen::GridCrs(), report.textures, report.bytes / 1048576.0,
                options.out.c_str());
    std::printf("generated buildings span lon %.6f..%.6f, lat %.6f..%.6f\n", report.west, report.east, report.south,
                report.north);
  } catch (const std::exception& e) {
    std::cerr << "kmztile-samplegen: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
