// Placement on WGS84: the ellipsoid arithmetic agrees with PROJ, the KML
// orientation turns the model the way a KML client does, and a model's
// document gives the placement its placemark's Model says.
#include <proj.h>

#include <cmath>
#include <memory>

#include "ThreeDTilesTestSupport.h"
#include "core/detail/ModelDocument.h"

namespace {

using namespace kmztile::threedtiles;

struct ProjDeleter {
  void operator()(PJ_CONTEXT* c) const { proj_context_destroy(c); }
  void operator()(PJ* p) const { proj_destroy(p); }
};

// A model with one triangle: the origin, 10 m along the document's +Y and 10 m up (Z_UP).
std::shared_ptr<const ConvertedModel> Marker() {
  const std::string dae = R"(<?xml version="1.0"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
<asset><unit meter="1"/><up_axis>Z_UP</up_axis></asset>
<library_geometries><geometry id="g"><mesh>
<source id="p"><float_array id="pa" count="9">0 0 0 0 10 0 0 0 10</float_array>
<technique_common><accessor source="#pa" count="3" stride="3"><param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/></accessor></technique_common></source>
<vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>
</mesh></geometry></library_geometries>
<library_visual_scenes><visual_scene id="s"><node id="n"><instance_geometry url="#g"/></node></visual_scene></library_visual_scenes>
<scene><instance_visual_scene url="#s"/></scene>
</COLLADA>)";
  auto model = std::make_shared<ConvertedModel>();
  std::string error;
  EXPECT_TRUE(ConvertCollada(dae, nullptr, *model, error)) << error;
  return model;
}

// The placed vertex nearest to @p want (the triangle's vertices are far apart).
Ecef Vertex(const PlacedModel& placed, std::size_t i) {
  const auto& p = placed.positions.at(0);
  return {p.at(3 * i), p.at(3 * i + 1), p.at(3 * i + 2)};
}

double Dot(const Ecef& a, const Ecef& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Ecef Minus(const Ecef& a, const Ecef& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

TEST(Placement, OriginAgreesWithProjAndRoundTrips) {
  std::unique_ptr<PJ_CONTEXT, ProjDeleter> context(proj_context_create());
  std::unique_ptr<PJ, ProjDeleter> raw(proj_create_crs_to_crs(context.get(), "EPSG:4979", "EPSG:4978", nullptr));
  ASSERT_TRUE(raw);
  std::unique_ptr<PJ, ProjDeleter> transform(proj_normalize_for_visualization(context.get(), raw.get()));
  ASSERT_TRUE(transform);
  const auto marker = Marker();
  const double places[][3] = {{116.3735, 39.9195, 0.0},   {116.3735, 39.9195, 812.5}, {-122.41, 37.77, -30.0},
                              {151.2, -33.86, 45.0},      {0.0, 0.0, 0.0},            {179.99, 89.5, 2000.0},
                              {-179.5, -75.25, 3000.0}};
  for (const auto& [lon, lat, h] : places) {
    const PJ_COORD expected = proj_trans(transform.get(), PJ_FWD, proj_coord(lon, lat, h, 0));
    Placement placement;
    placement.longitude = lon;
    placement.latitude = lat;
    placement.altitude = h;
    const Ecef origin = Vertex(PlaceModel(marker, placement), 0);
    EXPECT_NEAR(origin[0], expected.xyz.x, 0.01) << lon << " " << lat;
    EXPECT_NEAR(origin[1], expected.xyz.y, 0.01) << lon << " " << lat;
    EXPECT_NEAR(origin[2], expected.xyz.z, 0.01) << lon << " " << lat;
    const auto back = EcefToGeodetic(origin);
    EXPECT_NEAR(back[0], lon, 1e-9);
    EXPECT_NEAR(back[1], lat, 1e-9);
    EXPECT_NEAR(back[2], h, 1e-4);
  }
}

TEST(Placement, OrientationAndScaleInTheLocalFrame) {
  const auto marker = Marker();
  Placement placement;
  placement.longitude = 116.3735;
  placement.latitude = 39.9195;
  placement.altitude = 50.0;
  const Ecef origin = GeodeticToEcef(placement.longitude, placement.latitude, placement.altitude);
  // East, north and up of the location, from the ellipsoid itself.
  auto axis = [&](double dLon, double dLat, double dH) {
    Ecef d = Minus(GeodeticToEcef(placement.longitude + dLon, placement.latitude + dLat, placement.altitude + dH), origin);
    const double n = std::sqrt(Dot(d, d));
    return Ecef{d[0] / n, d[1] / n, d[2] / n};
  };
  const Ecef east = axis(1e-6, 0, 0), north = axis(0, 1e-6, 0), up = axis(0, 0, 1);
  auto enu = [&](const PlacedModel& placed, std::size_t vertex) {
    const Ecef d = Minus(Vertex(placed, vertex), origin);
    return std::array<double, 3>{Dot(d, east), Dot(d, north), Dot(d, up)};
  };
  auto expectNear = [](std::array<double, 3> got, std::array<double, 3> want, const char* what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 1e-3) << what << " axis " << i;
  };

  expectNear(enu(PlaceModel(marker, placement), 1), {0, 10, 0}, "no turn: +Y is north");
  expectNear(enu(PlaceModel(marker, placement), 2), {0, 0, 10}, "no turn: +Z is up");
  placement.heading = 90.0;
  expectNear(enu(PlaceModel(marker, placement), 1), {10, 0, 0}, "heading 90: north turns east");
  placement.heading = 180.0;
  expectNear(enu(PlaceModel(marker, placement), 1), {0, -10, 0}, "heading 180: north turns south");
  placement.heading = 0.0;
  placement.tilt = 90.0;
  expectNear(enu(PlaceModel(marker, placement), 2), {0, 10, 0}, "tilt 90 about east: up turns north");
  placement.tilt = 0.0;
  placement.roll = 90.0;
  expectNear(enu(PlaceModel(marker, placement), 2), {-10, 0, 0}, "roll 90 about north: up turns west");
  placement.roll = 0.0;
  placement.scaleY = 2.5;
  placement.scaleZ = 0.5;
  expectNear(enu(PlaceModel(marker, placement), 1), {0, 25, 0}, "scale y");
  expectNear(enu(PlaceModel(marker, placement), 2), {0, 0, 5}, "scale z");
}

// A model document as the build hands it over: a Folder whose first feature
// (with a LookAt elsewhere) is not the model, the second the placemark.
TEST(Placement, ReadFromTheModelsPlacemark) {
  const std::string document = R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2"><Folder><name>7</name>
<Folder><name>About</name><LookAt><longitude>1</longitude><latitude>2</latitude><altitude>3</altitude>
<heading>4</heading><tilt>5</tilt></LookAt></Folder>
<Placemark id="model"><name>Model</name><Model><altitudeMode>relativeToGround</altitudeMode>
<Location><longitude>116.37</longitude><latitude>39.91</latitude><altitude>12.5</altitude></Location>
<Orientation><heading>90</heading><tilt>10</tilt><roll>-20</roll></Orientation>
<Scale><x>2</x><y>3</y><z>4</z></Scale><Link><href>models/7.dae</href></Link></Model></Placemark>
</Folder></kml>)";
  Placement p;
  ASSERT_TRUE(kmztile::core::ReadModelPlacement(document, p));
  const double got[] = {p.longitude, p.latitude, p.altitude, p.heading, p.tilt, p.roll, p.scaleX, p.scaleY, p.scaleZ};
  const double want[] = {116.37, 39.91, 12.5, 90, 10, -20, 2, 3, 4};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(got[i], want[i]) << "value " << i;

  // Orientation and Scale left out take KML's defaults; a Model without a
  // Location, or a document without the placemark, gives no placement.
  std::string bare = document;
  bare.erase(bare.find("<Orientation>"), bare.find("<Link>") - bare.find("<Orientation>"));
  ASSERT_TRUE(kmztile::core::ReadModelPlacement(bare, p));
  EXPECT_EQ(p.heading, 0);
  EXPECT_EQ(p.scaleY, 1);
  std::string unplaced = document;
  unplaced.erase(unplaced.find("<Location>"), unplaced.find("<Orientation>") - unplaced.find("<Location>"));
  EXPECT_FALSE(kmztile::core::ReadModelPlacement(unplaced, p));
  EXPECT_FALSE(kmztile::core::ReadModelPlacement("<kml><Document/></kml>", p));
}

}  // namespace
