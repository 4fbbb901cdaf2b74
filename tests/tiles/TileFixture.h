#pragma once
// A working folder laid out by hand as the import leaves it: source
// packages stem.kmz in W, copies stem.kml and stem.dae in the level folders
// W\1 to W\4, and a coordinates file with CR LF line ends.
#include <cstdio>
#include <string>
#include <vector>

#include "BaseParser.h"
#include "TestSupport.h"
#include "tiles/detail/CoordinatesFile.h"
#include "tiles/detail/TextureCache.h"

class CBaseParserTestAccess {
 public:
  static bool SelectKml(CBaseParser& p, std::string path, IPyramidPtr pyramid, long level, long row, long column,
                        std::vector<std::string>* selected) {
    return p.SelectKml(std::move(path), std::move(pyramid), level, row, column, selected);
  }
  static bool CombineKml(CBaseParser& p, long level, std::vector<std::string> models, std::string tile) {
    return p.CombineKml(level, std::move(models), std::move(tile));
  }
  static bool CreateNewKmz(CBaseParser& p, long level, std::vector<std::string> models, std::string tile) {
    return p.CreateNewKmz(level, std::move(models), std::move(tile));
  }
  static bool GetLastKmz(CBaseParser& p, long level, std::string tile, std::string* kmz) {
    return p.GetLastKmz(level, std::move(tile), kmz);
  }
  static void SetTextureBase(CBaseParser& p, int base) { p.m_textureBase = base; }
};

namespace kmztest {

/** A model placed in the coordinates file. */
struct CoordLine {
  std::string name;
  double lon = 0;
  double lat = 0;
};

/** What a hand-made model document carries. */
struct ModelDocOptions {
  bool orientation = true;
  bool scale = true;
  bool location = true;
  bool link = true;
  bool placemark = true;
  std::string description = "made by hand";
  std::string scaleBody = "<x>2</x><y>3</y><z>4</z>";
};

class TileFolderTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    work_ = Path("w") + "/";
    for (int n = 1; n <= 4; ++n) WriteFile(work_ + std::to_string(n) + "/.keep", "");
    coords_ = work_ + "coords.txt";
    parser_.SetRequireFile(work_, work_ + "scope.txt", coords_);
    kmztile::tiles::detail::ForgetCoordinates();
    kmztile::tiles::detail::TextureCache::Shared().Clear();
  }

  /** A model document in the shape of a packaged model: a Folder holding a tour folder and the "Model" placemark. */
  static std::string ModelDoc(const std::string& href, double lon, double lat, const ModelDocOptions& o = {}) {
    char location[160];
    std::snprintf(location, sizeof location,
                  "<Location><longitude>%.9f</longitude><latitude>%.9f</latitude><altitude>1.5</altitude></Location>",
                  lon, lat);
    std::string model = "<Model><altitudeMode>relativeToGround</altitudeMode>";
    if (o.location) model += location;
    if (o.orientation) model += "<Orientation><heading>10</heading><tilt>20</tilt><roll>30</roll></Orientation>";
    if (o.scale) model += "<Scale>" + o.scaleBody + "</Scale>";
    if (o.link) model += "<Link><href>" + href + "</href></Link>";
    model += "</Model>";
    std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Folder>"
        "<name>pack</name><Folder><name>Tour</name></Folder>";
    if (o.placemark)
      doc += "<Placemark><name>Model</name><description>" + o.description + "</description>" + model + "</Placemark>";
    return doc + "</Folder>\n</kml>\n";
  }

  /** Writes package stem.kmz in W and the stem.kml / stem.dae copies into every level folder. */
  void AddModel(const std::string& stem, const std::vector<ZipItem>& entries, const std::string& kml,
                const std::string& dae) {
    WriteFile(work_ + stem + ".kmz", MakeZip(entries));
    for (int n = 1; n <= 4; ++n) {
      WriteFile(work_ + std::to_string(n) + "/" + stem + ".kml", kml);
      WriteFile(work_ + std::to_string(n) + "/" + stem + ".dae", dae);
    }
  }

  /** A model laid out as the packaging step writes it: texture, model, doc.kml. */
  void AddSimpleModel(const std::string& stem, double lon, double lat, const std::string& texture = "",
                      const std::string& textureName = "wall.jpg") {
    std::vector<ZipItem> entries;
    if (!texture.empty()) entries.push_back({"models/" + stem + "/" + textureName, texture});
    const std::string kml = ModelDoc("models/" + stem + ".dae", lon, lat);
    entries.push_back({"models/" + stem + ".dae", "<COLLADA>" + stem + " in the package</COLLADA>"});
    entries.push_back({"doc.kml", kml});
    AddModel(stem, entries, kml, "<COLLADA>" + stem + " level copy</COLLADA>");
  }

  /** The coordinates file: count, then name, "%f " longitude, "%f " latitude, CR LF line ends. */
  void WriteCoords(const std::vector<CoordLine>& lines, const std::string& countLine = "") {
    std::string text = (countLine.empty() ? std::to_string(lines.size()) : countLine) + "\r\n";
    for (const auto& l : lines) {
      char buf[128];
      std::snprintf(buf, sizeof buf, "%f \r\n%f \r\n", l.lon, l.lat);
      text += l.name + "\r\n" + buf;
    }
    WriteFile(coords_, text);
  }

  /** The tile of @p level holding a point, through the parser's tile index. */
  void TileOf(double lon, double lat, long level, long& row, long& column) {
    long lastRow = 0, lastColumn = 0;
    parser_.TileIndex(lon, lon, lat, lat, level, CreateGeographicPyramid(), &row, &column, &lastRow, &lastColumn);
  }

  std::string work_;
  std::string coords_;
  CBaseParser parser_;
};

}  // namespace kmztest
