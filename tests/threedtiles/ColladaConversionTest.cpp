// COLLADA conversion: <unit> and <up_axis> reach the vertices, texture
// references reach the lookup as the document names them, and anything that
// is not a COLLADA document is refused with a reason.
#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "ThreeDTilesTestSupport.h"

namespace {

using kmztile::threedtiles::ConvertCollada;
using kmztile::threedtiles::ConvertedModel;

struct Extent {
  std::array<float, 3> lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
  float Size(int axis) const { return hi[axis] - lo[axis]; }
};

Extent ExtentOf(const ConvertedModel& model) {
  Extent e;
  for (const auto& mesh : model.meshes)
    for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
      e.lo[i % 3] = std::min(e.lo[i % 3], mesh.positions[i]);
      e.hi[i % 3] = std::max(e.hi[i % 3], mesh.positions[i]);
    }
  return e;
}

ConvertedModel Convert(const std::string& dae) {
  ConvertedModel model;
  std::string error;
  EXPECT_TRUE(ConvertCollada(dae, nullptr, model, error)) << error;
  return model;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The same document read in inches and in metres differs by exactly 0.0254,
// and its Z_UP and Y_UP readings differ by the turn to Y up.
TEST(ColladaConversion, UnitAndUpAxisAreApplied) {
  const std::string macky = kmztest::ReadFile(kmztest::CityFile("macky.dae"));
  const Extent inches = ExtentOf(Convert(macky));
  const Extent metres = ExtentOf(Convert(Replaced(macky, "meter=\"0.0254\"", "meter=\"1\"")));
  for (int axis = 0; axis < 3; ++axis) {
    ASSERT_GT(metres.Size(axis), 0.0f);
    EXPECT_NEAR(inches.Size(axis) / metres.Size(axis), 0.0254, 1e-5) << axis;
  }
  // A building some tens of metres across, not hundreds (inches read as metres).
  EXPECT_GT(inches.Size(0), 10.0f);
  EXPECT_LT(inches.Size(0), 200.0f);

  const Extent yUp = ExtentOf(Convert(Replaced(macky, "<up_axis>Z_UP</up_axis>", "<up_axis>Y_UP</up_axis>")));
  // Z_UP: the document's z (its height) becomes y, its y becomes -z.
  EXPECT_NEAR(inches.Size(1), yUp.Size(2), 1e-3);
  EXPECT_NEAR(inches.Size(2), yUp.Size(1), 1e-3);
  EXPECT_NEAR(inches.lo[1], yUp.lo[2], 1e-3);
  EXPECT_NEAR(inches.hi[2], -yUp.lo[1], 1e-3);
}

TEST(ColladaConversion, TexturesAreLookedUpByTheirReference) {
  std::set<std::string> asked;
  ConvertedModel model;
  std::string error;
  const auto lookup = [&](const std::string& reference) {
    asked.insert(reference);
    return reference == "duck/duckCM.png" ? std::string("key") : std::string();
  };
  ASSERT_TRUE(ConvertCollada(kmztest::ReadFile(kmztest::CityFile("duck.dae")), lookup, model, error)) << error;
  EXPECT_EQ(asked, std::set<std::string>{"duck/duckCM.png"});
  bool textured = false;
  for (const auto& mesh : model.meshes) {
    const auto& material = model.materials.at(mesh.material);
    if (material.texture != "key") continue;
    textured = true;
    ASSERT_EQ(mesh.texcoords.size() / 2, mesh.positions.size() / 3);
    ASSERT_EQ(mesh.normals.size(), mesh.positions.size());
    for (std::size_t i = 0; i < mesh.normals.size(); i += 3) {
      const float n = std::sqrt(mesh.normals[i] * mesh.normals[i] + mesh.normals[i + 1] * mesh.normals[i + 1] +
                                mesh.normals[i + 2] * mesh.normals[i + 2]);
      ASSERT_NEAR(n, 1.0f, 1e-4f);
    }
    for (std::uint32_t index : mesh.indices) ASSERT_LT(index, mesh.positions.size() / 3);
  }
  EXPECT_TRUE(textured);

  // The reference as the document writes it, escapes and all.
  for (const std::string written : {"duck/duck%20CM.png", "file:///duck/duck%20CM.png"}) {
    asked.clear();
    const std::string dae = Replaced(kmztest::ReadFile(kmztest::CityFile("duck.dae")), "duck/duckCM.png", written);
    ASSERT_TRUE(ConvertCollada(dae, lookup, model, error)) << error;
    EXPECT_EQ(asked, std::set<std::string>{written});
  }

  // A texture the lookup does not have leaves the material with its colour only.
  ASSERT_TRUE(ConvertCollada(kmztest::ReadFile(kmztest::CityFile("duck.dae")),
                             [](const std::string&) { return std::string(); }, model, error));
  for (const auto& material : model.materials) EXPECT_TRUE(material.texture.empty());
}

TEST(ColladaConversion, RefusesWhatIsNoColladaModel) {
  const std::string duck = kmztest::ReadFile(kmztest::CityFile("duck.dae"));
  const std::pair<std::string, std::string> cases[] = {
      {"", "empty"},
      {"  \r\n", "empty"},
      {std::string("\x89PNG\r\n\x1A\n", 8), "not well-formed"},
      {"<?xml version=\"1.0\"?><kml><Document/></kml>", "not a COLLADA"},
      {duck.substr(0, duck.size() / 3), "not well-formed"},
      // Well-formed, but not what assimp can read as COLLADA.
      {"<COLLADA version=\"9\"><library_geometries><geometry><mesh><triangles count=\"99\"><p>0 1 2</p>"
       "</triangles></mesh></geometry></library_geometries></COLLADA>",
       ""},
      {"<?xml version=\"1.0\"?><COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">"
       "<asset/><scene/></COLLADA>",
       ""},
  };
  for (const auto& [bytes, reason] : cases) {
    ConvertedModel model;
    std::string error;
    EXPECT_FALSE(ConvertCollada(bytes, nullptr, model, error)) << reason;
    EXPECT_FALSE(error.empty());
    if (!reason.empty()) {
      EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    EXPECT_TRUE(model.meshes.empty());
  }
}

// Documents the importer cannot survive or turns into a broken glb: a node
// that instances itself (directly or round a loop) made it recurse until the
// stack overflowed (SIGSEGV), a chain of nodes each instancing the next four
// times would make 4^29 copies, and a NaN or 1e999 coordinate reached the glb
// (the validator's ACCESSOR_INVALID_FLOAT). Each is refused with its reason.
TEST(ColladaConversion, RefusesInstanceLoopsBlowUpsAndNonFiniteVertices) {
  const std::string duck = kmztest::ReadFile(kmztest::CityFile("duck.dae"));
  const std::string node = "<node id=\"LOD3sp\" name=\"LOD3sp\">";
  std::string chain = "<library_nodes><node id=\"n0\"/>";
  for (int k = 1; k < 30; ++k) {
    chain += "<node id=\"n" + std::to_string(k) + "\">";
    for (int copy = 0; copy < 4; ++copy) chain += "<instance_node url=\"#n" + std::to_string(k - 1) + "\"/>";
    chain += "</node>";
  }
  chain += "</library_nodes><library_visual_scenes>";
  const std::string loop =
      "<library_nodes><node id=\"a\"><instance_node url=\"#b\"/></node><node id=\"b\"><node>"
      "<instance_node url=\"#a\"/></node></node></library_nodes><library_visual_scenes>";
  const std::string positions = "id=\"LOD3spShape-lib-positions-array\">";
  const std::pair<std::string, std::string> cases[] = {
      {Replaced(duck, node, node + "<instance_node url=\"#LOD3sp\"/>"), "(LOD3sp -> LOD3sp)"},
      {Replaced(Replaced(duck, "<library_visual_scenes>", loop), node, node + "<instance_node url=\"#a\"/>"),
       "(a -> b -> a)"},
      {Replaced(Replaced(duck, "<library_visual_scenes>", chain), node, node + "<instance_node url=\"#n29\"/>"),
       "more than 100000 nodes"},
      {Replaced(duck, positions, positions + "nan "), "not a finite number"},
      {Replaced(duck, positions, positions + "1e999 "), "not a finite number"},
  };
  for (const auto& [bytes, reason] : cases) {
    ConvertedModel model;
    std::string error;
    EXPECT_FALSE(ConvertCollada(bytes, nullptr, model, error)) << reason;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
    EXPECT_TRUE(model.meshes.empty());
  }
  // Instances that end are still read: the duck placed twice through a node.
  const std::string twice = Replaced(Replaced(duck, "<library_visual_scenes>",
                                              "<library_nodes><node id=\"d\"><instance_node url=\"#LOD3sp\"/>"
                                              "<instance_node url=\"#LOD3sp\"/></node></library_nodes>"
                                              "<library_visual_scenes>"),
                                     "<node id=\"testCamera\"", "<node><instance_node url=\"#d\"/></node><node id=\"testCamera\"");
  EXPECT_EQ(Convert(twice).meshes.size(), 3 * Convert(duck).meshes.size());
}

}  // namespace

// Opacity: the real CU Macky building writes <transparency>0</transparency>
// beside an opaque white <transparent> for every material and is drawn solid
// by KML clients; read literally it would vanish from the glb. A material
// that is genuinely half transparent keeps its opacity.
TEST(ColladaConversion, ZeroTransparencyIsDrawnSolidAndPartialTransparencyKept) {
  const std::string macky = kmztest::ReadFile(kmztest::RealData("collada/cu_macky/files/CU Macky.dae"));
  ASSERT_NE(macky.find("<float>0.000000</float>"), std::string::npos);
  ConvertedModel model = Convert(macky);
  ASSERT_FALSE(model.materials.empty());
  for (const auto& material : model.materials) EXPECT_EQ(material.color[3], 1.0f);
  std::string half = macky;
  for (std::size_t at = 0; (at = half.find("<float>0.000000</float>", at)) != std::string::npos;)
    half.replace(at, 23, "<float>0.500000</float>");
  model = Convert(half);
  for (const auto& material : model.materials) EXPECT_NEAR(material.color[3], 0.5f, 1e-6f);
}
