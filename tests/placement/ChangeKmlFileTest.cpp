// Rewriting the template for one model and packing its KMZ; the folder listing.
#include "BaseParser.h"
#include "SourceFolder.h"
#include "kml/engine.h"
#include "placement/detail/FolderListing.h"
#include "platform/Problems.h"
#include "reading/detail/ZipDirectory.h"

using namespace placementtest;

namespace {

class ChangeKmlFile : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    F_ = Path("src");
    kmztest::WriteFile(F_ + "/middle/.keep", "");
    kmztest::WriteFile(F_ + "/doc.kml", TemplateKml({"pattern"}));
    templatePath_ = F_ + "\\doc.kml";
  }
  bool Change(std::string name, std::string file, double lon, double lat) {
    return parser_.changeKmlFile(F_, templatePath_, name, file, lon, lat);
  }
  // Entry names and contents of a package.
  bool Read(const std::string& kmz, std::vector<std::string>& names, std::vector<std::string>& contents) {
    std::map<std::string, LonLatID> locations;
    return CBaseParser::ReadKmzToList(kmz, names, contents, locations);
  }
  CBaseParser parser_;
  std::string F_;
  std::string templatePath_;
};

}  // namespace

TEST_F(ChangeKmlFile, PacksTexturesModelAndDocumentAtTheNewPosition) {
  AddModel(F_, "duck", Duck(), "");
  ASSERT_TRUE(Change("duck", "duck.dae", 116.391234, 39.907456));

  std::vector<std::string> names, contents;
  ASSERT_TRUE(Read(F_ + "/middle/duck.kmz", names, contents));
  ASSERT_EQ(names, (std::vector<std::string>{"models/duck/duckCM.png", "models/duck.dae", "doc.kml"}));
  EXPECT_EQ(contents[0], kmztest::ReadFile(kmztest::RealData("collada/duck/duckCM.png")));
  EXPECT_EQ(contents[1], kmztest::ReadFile(kmztest::RealData("collada/duck/duck_triangles.dae")));
  // The template was rewritten in place and packed as it now stands.
  EXPECT_EQ(contents[2], kmztest::ReadFile(F_ + "/doc.kml"));

  // The image is stored (it is compressed already), the text deflated; libkml reads every entry back.
  const std::string package = kmztest::ReadFile(F_ + "/middle/duck.kmz");
  kmztile::reading::detail::ZipDirectory directory;
  ASSERT_TRUE(kmztile::reading::detail::ZipDirectory::Parse(package, directory));
  ASSERT_EQ(directory.entries().size(), 3u);
  EXPECT_EQ(directory.entries()[0].method, 0);
  EXPECT_EQ(directory.entries()[1].method, 8);
  EXPECT_EQ(directory.entries()[2].method, 8);
  const kmlengine::KmzFilePtr kmz = kmlengine::KmzFile::OpenFromString(package);
  ASSERT_TRUE(kmz);
  for (size_t i = 0; i < names.size(); ++i) {
    std::string viaLibkml;
    ASSERT_TRUE(kmz->ReadFile(names[i].c_str(), &viaLibkml)) << names[i];
    EXPECT_EQ(viaLibkml, contents[i]) << names[i];
  }

  const kmldom::FolderPtr folder = RootFolder(contents[2]);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->get_name(), "duck");
  ASSERT_EQ(folder->get_feature_array_size(), 1u);
  const kmldom::PlacemarkPtr p = kmldom::AsPlacemark(folder->get_feature_array_at(0));
  EXPECT_EQ(p->get_id(), "pattern");
  EXPECT_EQ(p->get_name(), "pattern");
  EXPECT_EQ(p->get_description(), "pattern pattern");
  const kmldom::ModelPtr m = kmldom::AsModel(p->get_geometry());
  ASSERT_TRUE(m);
  EXPECT_EQ(m->get_altitudemode(), kmldom::ALTITUDEMODE_RELATIVETOGROUND);
  EXPECT_DOUBLE_EQ(m->get_location()->get_longitude(), 116.391234);
  EXPECT_DOUBLE_EQ(m->get_location()->get_latitude(), 39.907456);
  EXPECT_DOUBLE_EQ(m->get_location()->get_altitude(), 12.5);
  EXPECT_DOUBLE_EQ(m->get_orientation()->get_heading(), 45);
  EXPECT_DOUBLE_EQ(m->get_orientation()->get_roll(), 6);
  EXPECT_DOUBLE_EQ(m->get_scale()->get_z(), 4);
  EXPECT_EQ(m->get_link()->get_href(), "models/duck.dae");
}

TEST_F(ChangeKmlFile, RewritesAccumulateAndTakeSeveralPatternsInTurn) {
  kmztest::WriteFile(F_ + "/doc.kml", TemplateKml({"a", "b"}));
  AddModel(F_, "duck", Duck(), "");
  AddModel(F_, "house", TexturedMacky(), "");
  AddModel(F_, "macky", Macky(), "");
  ASSERT_TRUE(Change("duck", "duck.dae", 1, 1));
  ASSERT_TRUE(Change("house", "house.dae", 2, 2));
  ASSERT_TRUE(Change("macky", "macky.dae", 3, 3));

  // a, b -> b, a' -> a', b' -> b', a''
  const kmldom::FolderPtr folder = RootFolder(kmztest::ReadFile(F_ + "/doc.kml"));
  ASSERT_TRUE(folder);
  ASSERT_EQ(folder->get_feature_array_size(), 2u);
  EXPECT_EQ(folder->get_name(), "macky");
  EXPECT_EQ(folder->get_feature_array_at(0)->get_id(), "b");
  EXPECT_EQ(folder->get_feature_array_at(1)->get_id(), "a");
  EXPECT_EQ(LastModel(folder)->get_link()->get_href(), "models/macky.dae");
  EXPECT_DOUBLE_EQ(LastModel(folder)->get_location()->get_longitude(), 3);
  const kmldom::PlacemarkPtr b = kmldom::AsPlacemark(folder->get_feature_array_at(0));
  EXPECT_EQ(kmldom::AsModel(b->get_geometry())->get_link()->get_href(), "models/house.dae");

  std::vector<std::string> names, contents;
  ASSERT_TRUE(Read(F_ + "/middle/house.kmz", names, contents));
  EXPECT_EQ(names.size(), 5u);  // three textures, the model, doc.kml
  EXPECT_EQ(names[3], "models/house.dae");
}

TEST_F(ChangeKmlFile, UpperCaseModelFileLinksAsListedAndPacksUnderTheLowerCaseEntry) {
  AddModel(F_, "house", TexturedMacky(), "", true, ".DAE");
  ASSERT_TRUE(Change("house", "house.DAE", 10, 20));
  std::vector<std::string> names, contents;
  ASSERT_TRUE(Read(F_ + "/middle/house.kmz", names, contents));
  EXPECT_EQ(names[3], "models/house.dae");
  EXPECT_EQ(contents[3], kmztest::ReadFile(kmztest::RealData(TexturedMacky().dae)));
  EXPECT_EQ(LastModel(RootFolder(contents[4]))->get_link()->get_href(), "models/house.DAE");
}

TEST_F(ChangeKmlFile, MissingTextureFolderAndTextureSubfoldersAreNotPacked) {
  AddModel(F_, "duck", Duck(), "", false);
  ASSERT_TRUE(Change("duck", "duck.dae", 1, 2));
  std::vector<std::string> names, contents;
  ASSERT_TRUE(Read(F_ + "/middle/duck.kmz", names, contents));
  EXPECT_EQ(names, (std::vector<std::string>{"models/duck.dae", "doc.kml"}));

  AddModel(F_, "macky", Macky(), "");
  kmztest::WriteFile(F_ + "/macky/sub/deep.jpg", "not packed");
  ASSERT_TRUE(Change("macky", "macky.dae", 1, 2));
  names.clear();
  ASSERT_TRUE(Read(F_ + "/middle/macky.kmz", names, contents));
  EXPECT_EQ(names, (std::vector<std::string>{"models/macky/CU-Macky---Center-StairsnoCulling.jpg", "models/macky.dae",
                                             "doc.kml"}));
}

TEST_F(ChangeKmlFile, PatternWithoutOrientationOrScaleTakesKmlDefaults) {
  kmztest::WriteFile(F_ + "/doc.kml", TemplateKml({"p"}, false));
  AddModel(F_, "duck", Duck(), "");
  ASSERT_TRUE(Change("duck", "duck.dae", 5, 6));
  const kmldom::ModelPtr m = LastModel(RootFolder(kmztest::ReadFile(F_ + "/doc.kml")));
  ASSERT_TRUE(m && m->get_orientation() && m->get_scale());
  EXPECT_EQ(m->get_orientation()->get_heading(), 0);
  EXPECT_EQ(m->get_orientation()->get_tilt(), 0);
  EXPECT_EQ(m->get_scale()->get_x(), 1);
  EXPECT_EQ(m->get_scale()->get_z(), 1);
  EXPECT_DOUBLE_EQ(m->get_location()->get_altitude(), 12.5);
}

TEST_F(ChangeKmlFile, UnusableTemplatesFailBeforeAnythingIsWritten) {
  AddModel(F_, "duck", Duck(), "");
  const std::string noModel =
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder><Placemark><name>p</name><Point><coordinates>1,2"
      "</coordinates></Point></Placemark></Folder></kml>";
  const std::string noLocation =
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder><Placemark><name>p</name><Model><Link><href>x</href>"
      "</Link></Model></Placemark></Folder></kml>";
  const std::string noPlacemark =
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder><name>f</name><Folder><name></name></Folder></Folder></kml>";
  for (const std::string& text : {std::string("not xml at all"), std::string("<kml/>"), noModel, noLocation,
                                  noPlacemark, std::string("<Folder><name>no kml root</name></Folder>")}) {
    kmztest::WriteFile(F_ + "/doc.kml", text);
    EXPECT_FALSE(Change("duck", "duck.dae", 1, 2)) << text;
    EXPECT_EQ(kmztest::ReadFile(F_ + "/doc.kml"), text);
    EXPECT_FALSE(kmztest::Exists(F_ + "/middle/duck.kmz")) << text;
  }
  // A missing template too.
  std::string missing = F_ + "\\missing.kml";
  std::string name = "duck", file = "duck.dae";
  EXPECT_FALSE(parser_.changeKmlFile(F_, missing, name, file, 1, 2));
}

TEST_F(ChangeKmlFile, NoMiddleFolderOrNoModelFileFails) {
  AddModel(F_, "duck", Duck(), "");
  EXPECT_FALSE(Change("ghost", "ghost.dae", 1, 2));  // no F/ghost.dae
  std::string other = Path("other");
  kmztest::WriteFile(other + "/doc.kml", TemplateKml({"p"}));
  AddModel(other, "duck", Duck(), "");
  std::string tpl = other + "\\doc.kml", name = "duck", file = "duck.dae";
  EXPECT_FALSE(parser_.changeKmlFile(other, tpl, name, file, 1, 2));
}

TEST_F(ChangeKmlFile, DocumentRootPassesThroughUnchangedAndIsStillPacked) {
  const std::string doc = kmztest::MakeModelKml({{"7", "models/x.dae", 9, 9}}, "Document");
  kmztest::WriteFile(F_ + "/doc.kml", doc);
  AddModel(F_, "duck", Duck(), "");
  ASSERT_TRUE(Change("duck", "duck.dae", 1, 2));
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> before, after;
  ASSERT_TRUE(CBaseParser::ReadKmzToList(F_ + "/middle/duck.kmz", names, contents, after));
  EXPECT_EQ(names.back(), "doc.kml");
  const kmldom::KmlPtr kml = kmldom::AsKml(kmldom::Parse(contents.back(), nullptr));
  const kmldom::DocumentPtr document = kmldom::AsDocument(kml->get_feature());
  ASSERT_TRUE(document);
  EXPECT_EQ(document->get_name(), "tile");
  EXPECT_DOUBLE_EQ(kmldom::AsModel(kmldom::AsPlacemark(document->get_feature_array_at(0))->get_geometry())
                       ->get_location()->get_longitude(), 9);
}

TEST_F(ChangeKmlFile, ListFolderFilesFiltersByLowerCasedExtension) {
  const std::string dir = Path("list");
  for (const char* name : {"a.DAE", "b.dae", "readme", "d.txt", ".dae", "c.tar.Dae"}) kmztest::WriteFile(dir + "/" + name, "x");
  kmztest::WriteFile(dir + "/sub.dae/inner.dae", "x");
  std::vector<std::string> out{"kept"};
  kmztile::placement::detail::ListFolderFiles(dir, "dae", out);
  EXPECT_EQ(out, (std::vector<std::string>{"kept", "a.DAE", "b.dae", "c.tar.Dae"}));
  out.clear();
  kmztile::placement::detail::ListFolderFiles(dir, "", out);
  EXPECT_EQ(out, (std::vector<std::string>{".dae", "a.DAE", "b.dae", "c.tar.Dae", "d.txt", "readme"}));

  out.clear();
  kmztile::platform::TakeProblems();
  testing::internal::CaptureStdout();
  kmztile::placement::detail::ListFolderFiles(dir + "/d.txt", "", out);
  kmztile::placement::detail::ListFolderFiles(dir + "/missing", "", out);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the library never prints";
  EXPECT_TRUE(out.empty());
  const auto problems = kmztile::platform::TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].file, dir + "/d.txt");
}
