// Reading image references out of COLLADA files and resolving them to
// files the way COLLADA readers do.
#include "TestSupport.h"
#include "placement/detail/ColladaImages.h"
#include "placement/detail/ColladaUri.h"

using namespace kmztile::placement::detail;

namespace {

std::vector<std::string> Uris(const std::string& xml) {
  std::vector<std::string> uris;
  std::string error;
  EXPECT_TRUE(ReadColladaImageUris(xml, uris, error)) << error;
  return uris;
}

std::string Resolve(const std::string& uri, const std::string& base = "/src") {
  const ResolvedUri r = ResolveColladaUri(uri, base);
  switch (r.kind) {
    case UriKind::kExternal: return "<external>";
    case UriKind::kEmpty: return "<empty>";
    default: return r.path;
  }
}

}  // namespace

TEST(ColladaImageUris, OnlyImageSourcesCountNotSurfaceImageIds) {
  const std::string v14 = R"(<?xml version="1.0"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
 <library_images><image id="file1"><init_from>
   ./tex/a.png
 </init_from></image></library_images>
 <library_effects><effect id="e"><profile_COMMON>
  <newparam sid="s"><surface type="2D"><init_from>file1</init_from></surface></newparam>
  <image id="inner"><init_from>b.jpg</init_from></image>
 </profile_COMMON></effect></library_effects>
</COLLADA>)";
  EXPECT_EQ(Uris(v14), (std::vector<std::string>{"./tex/a.png", "b.jpg"}));

  const std::string v15 = R"(<c:COLLADA xmlns:c="http://www.collada.org/2008/03/COLLADASchema" version="1.5.0">
 <c:library_images><c:image id="i"><c:init_from><c:ref>c%20d.png</c:ref></c:init_from></c:image>
 <c:image id="j"><c:init_from><c:hex format="RGB">00ff00</c:hex></c:init_from></c:image></c:library_images>
</c:COLLADA>)";
  EXPECT_EQ(Uris(v15), std::vector<std::string>{"c%20d.png"});
}

TEST(ColladaImageUris, RejectsBrokenXmlAndOtherDocuments) {
  std::vector<std::string> uris;
  std::string error;
  EXPECT_FALSE(ReadColladaImageUris("<COLLADA><library_images>", uris, error));
  EXPECT_NE(error.find("line"), std::string::npos) << error;
  EXPECT_FALSE(ReadColladaImageUris("", uris, error));
  EXPECT_FALSE(ReadColladaImageUris("<kml><Folder/></kml>", uris, error));
  EXPECT_NE(error.find("<kml>"), std::string::npos) << error;
  EXPECT_TRUE(uris.empty());
}

TEST(ColladaImageUris, RealModels) {
  EXPECT_EQ(Uris(kmztest::ReadFile(kmztest::RealData("collada/duck/duck_triangles.dae"))),
            std::vector<std::string>{"./duckCM.png"});
  EXPECT_EQ(Uris(kmztest::ReadFile(kmztest::RealData("collada/imageindifdir1/imageindifdir1.dae"))),
            (std::vector<std::string>{"Textures/tex1/collada.png", "Textures/tex2/logo/checkerboard.png"}));
  const auto macky = Uris(kmztest::ReadFile(kmztest::RealData("collada/cu_macky/files/CU Macky.dae")));
  ASSERT_EQ(macky.size(), 20u) << "surface init_from ids are not images";
  EXPECT_EQ(macky.front(), "../files/CU-Macky-4sideturretnoCulling.jpg");
  EXPECT_TRUE(Uris(kmztest::ReadFile(kmztest::RealData("collada/stress_untextured/multiModel_01_stressTest_00.dae")))
                  .empty());
}

TEST(ColladaUri, RelativeReferencesResolveAgainstTheModelFolder) {
  EXPECT_EQ(Resolve("./duckCM.png"), "/src/duckCM.png");
  EXPECT_EQ(Resolve("../two_dots/PASSIMAGE.png", "/tmp/two_dots"), "/tmp/two_dots/PASSIMAGE.png");
  EXPECT_EQ(Resolve("textures\\sub\\..\\a.jpg"), "/src/textures/a.jpg");
  EXPECT_EQ(Resolve("./With%20%53%70aces/PassImage.png"), "/src/With Spaces/PassImage.png");
  EXPECT_EQ(Resolve("a%2.png"), "/src/a%2.png") << "a broken escape stays as written";
  EXPECT_EQ(Resolve("tex.png#frag"), "/src/tex.png");
  EXPECT_EQ(Resolve("m/t.png", "rel/src"), "rel/src/m/t.png");
  EXPECT_EQ(Resolve("../../x.png", "a"), "../x.png");
  EXPECT_EQ(Resolve("  \n "), "<empty>");
}

TEST(ColladaUri, FileSchemesAbsolutePathsAndOtherSchemes) {
  EXPECT_EQ(Resolve("file:///data/t%20x.png"), "/data/t x.png");
  EXPECT_EQ(Resolve("FILE://localhost/data/t.png"), "/data/t.png");
  EXPECT_EQ(Resolve("file:/data/t.png"), "/data/t.png");
  EXPECT_EQ(Resolve("file:sub/t.png"), "/src/sub/t.png");
  EXPECT_EQ(Resolve("file:///C:/models/t.png"), "C:/models/t.png");
  EXPECT_EQ(Resolve("C:\\models\\t.png"), "C:/models/t.png");
  EXPECT_EQ(Resolve("/abs/./t.png"), "/abs/t.png");
  EXPECT_EQ(Resolve("file://server/share/t.png"), "<external>");
  EXPECT_EQ(Resolve("\\\\server\\share\\t.png"), "<external>");
  EXPECT_EQ(Resolve("http://example.com/t.png"), "<external>");
}
