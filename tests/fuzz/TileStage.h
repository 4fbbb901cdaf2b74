#pragma once
// A working folder for the tile-building targets, laid out once per process
// as the import leaves it: package m.kmz with a model and a texture, the
// level copies m.kml and m.dae, and a coordinates file placing m.kmz.
#include <string>

#include "BaseParser.h"
#include "FuzzSupport.h"
#include "tiles/detail/CoordinatesFile.h"
#include "platform/ZipWriter.h"

namespace kmzfuzz {

/** Longitude and latitude of the staged model. */
constexpr double kLon = 116.4, kLat = 39.9;

struct TileStage {
  std::string work;  // ends in "/"
  CBaseParser parser;
  long row = 0, column = 0;  // the tile of kLevel holding the model
  static constexpr long kLevel = 15;

  TileStage() {
    work = ProcessFolder() + "/w/";
    MakeFolder(work);
    for (int n = 1; n <= 4; ++n) MakeFolder(work + std::to_string(n));
    const std::string kml = ModelKml();
    kmztile::platform::ZipWriter zip;
    std::string package;
    if (!zip.Add("models/m/wall.png", Read(KMZTILE_REAL_DATA "/images/png/tiny_7x13.png"), false) ||
        !zip.Add("models/m.dae", "<COLLADA/>", true) || !zip.Add("doc.kml", kml, true) || !zip.Finish(package))
      std::abort();
    Write(work + "m.kmz", package);
    for (int n = 1; n <= 4; ++n) {
      Write(work + std::to_string(n) + "/m.kml", kml);
      Write(work + std::to_string(n) + "/m.dae", "<COLLADA>level copy</COLLADA>");
    }
    WriteCoords("1\r\nm.kmz\r\n116.400000 \r\n39.900000 \r\n");
    parser.SetRequireFile(work, work + "scope.txt", work + "coords.txt");
    long lastRow = 0, lastColumn = 0;
    parser.TileIndex(kLon, kLon, kLat, kLat, kLevel, CreateGeographicPyramid(), &row, &column, &lastRow, &lastColumn);
  }

  static std::string ModelKml() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Folder>"
           "<name>pack</name><Folder><name>Tour</name></Folder><Placemark><name>Model</name><Model>"
           "<Location><longitude>116.4</longitude><latitude>39.9</latitude></Location>"
           "<Link><href>models/m.dae</href></Link></Model></Placemark></Folder>\n</kml>\n";
  }

  void WriteCoords(const std::string& text) {
    Write(work + "coords.txt", text);
    kmztile::tiles::detail::ForgetCoordinates();
  }

  /** Level folder of kLevel (max level 18: level 15 is folder 4). */
  std::string LevelFolder() const { return work + "4/"; }

  bool Build() {
    std::string kmz;
    return parser.CreateTile(CreateGeographicPyramid(), kLevel, row, column, &kmz);
  }
};

}  // namespace kmzfuzz
