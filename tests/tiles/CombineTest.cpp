// KML combination: the tile document built from the level folder's model documents.
#include "TileFixture.h"
#include "kml/dom.h"

using kmztest::ModelDocOptions;
using kmztest::TileFolderTest;

namespace {

kmldom::FolderPtr ParseTileFolder(const std::string& path) {
  const kmldom::KmlPtr root = kmldom::AsKml(kmldom::Parse(kmztest::ReadFile(path), nullptr));
  if (!root || !root->has_feature()) return nullptr;
  return kmldom::AsFolder(root->get_feature());
}

std::vector<std::string> FeatureNames(const kmldom::FolderPtr& folder) {
  std::vector<std::string> names;
  for (size_t i = 0; i < folder->get_feature_array_size(); ++i)
    names.push_back(folder->get_feature_array_at(i)->get_name());
  return names;
}

kmldom::ModelPtr ModelAt(const kmldom::FolderPtr& folder, size_t i) {
  return kmldom::AsModel(kmldom::AsPlacemark(folder->get_feature_array_at(i))->get_geometry());
}

}  // namespace

TEST_F(TileFolderTest, CombinesOneModelIntoItsOwnDocument) {
  AddSimpleModel("1234", 116.391234, 39.907456);
  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 18, {"1234.kmz"}, "18-1-2"));
  const std::string text = kmztest::ReadFile(work_ + "1/18-1-2.kml");
  EXPECT_EQ(0u, text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n", 0));
  const kmldom::FolderPtr folder = ParseTileFolder(work_ + "1/18-1-2.kml");
  ASSERT_TRUE(folder);
  EXPECT_EQ("pack", folder->get_name());
  EXPECT_EQ((std::vector<std::string>{"Tour", "1234"}), FeatureNames(folder));

  const kmldom::PlacemarkPtr placemark = kmldom::AsPlacemark(folder->get_feature_array_at(1));
  EXPECT_EQ("1234", placemark->get_id());
  EXPECT_EQ("made by hand", placemark->get_description());
  const kmldom::ModelPtr model = ModelAt(folder, 1);
  EXPECT_EQ("models1234/1234.dae", model->get_link()->get_href());
  EXPECT_EQ(kmldom::ALTITUDEMODE_RELATIVETOGROUND, model->get_altitudemode());
  EXPECT_NEAR(116.391234, model->get_location()->get_longitude(), 1e-9);
  EXPECT_NEAR(39.907456, model->get_location()->get_latitude(), 1e-9);
  EXPECT_DOUBLE_EQ(1.5, model->get_location()->get_altitude());
  EXPECT_DOUBLE_EQ(30, model->get_orientation()->get_roll());
  EXPECT_DOUBLE_EQ(4, model->get_scale()->get_z());
  // Nothing is written into the other level folders.
  EXPECT_FALSE(kmztest::Exists(work_ + "2/18-1-2.kml"));
}

TEST_F(TileFolderTest, CombinesSeveralModelsInListOrderFromTheFirstDocument) {
  AddSimpleModel("alpha", 10, 10);
  AddSimpleModel("beta", 11, 11);
  AddSimpleModel("gamma", 12, 12);
  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 17, {"alpha.kmz", "beta.kmz", "gamma.kmz"}, "t"));
  const kmldom::FolderPtr folder = ParseTileFolder(work_ + "2/t.kml");
  ASSERT_TRUE(folder);
  EXPECT_EQ((std::vector<std::string>{"Tour", "alpha", "beta", "gamma"}), FeatureNames(folder));
  EXPECT_EQ("modelsgamma/gamma.dae", ModelAt(folder, 3)->get_link()->get_href());
  EXPECT_DOUBLE_EQ(11, ModelAt(folder, 2)->get_location()->get_latitude());
}

TEST_F(TileFolderTest, AbsentOrientationAndScaleTakeKmlDefaults) {
  ModelDocOptions bare;
  bare.orientation = false;
  bare.scale = false;
  AddModel("bare", {{"models/bare.dae", "<COLLADA/>"}}, ModelDoc("models/bare.dae", 5, 6, bare), "<COLLADA/>");
  ModelDocOptions partial;
  partial.scaleBody = "<x>2.5</x>";
  AddModel("part", {{"models/part.dae", "<COLLADA/>"}}, ModelDoc("models/part.dae", 5, 6, partial), "<COLLADA/>");
  // A Location without altitude, a Model without altitude mode.
  std::string sparse = ModelDoc("models/sp.dae", 5, 6);
  sparse.replace(sparse.find("<altitude>1.5</altitude>"), 24, "");
  sparse.replace(sparse.find("<altitudeMode>relativeToGround</altitudeMode>"), 45, "");
  AddModel("sp", {{"models/sp.dae", "<COLLADA/>"}}, sparse, "<COLLADA/>");

  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 18, {"bare.kmz", "part.kmz", "sp.kmz"}, "t"));
  const kmldom::FolderPtr folder = ParseTileFolder(work_ + "1/t.kml");
  ASSERT_TRUE(folder);
  const kmldom::ModelPtr bareModel = ModelAt(folder, 1);
  ASSERT_TRUE(bareModel->has_orientation() && bareModel->has_scale());
  EXPECT_DOUBLE_EQ(0, bareModel->get_orientation()->get_heading());
  EXPECT_DOUBLE_EQ(1, bareModel->get_scale()->get_y());
  const kmldom::ModelPtr partModel = ModelAt(folder, 2);
  EXPECT_DOUBLE_EQ(2.5, partModel->get_scale()->get_x());
  EXPECT_DOUBLE_EQ(1, partModel->get_scale()->get_z());
  const kmldom::ModelPtr sparseModel = ModelAt(folder, 3);
  EXPECT_DOUBLE_EQ(0, sparseModel->get_location()->get_altitude());
  EXPECT_TRUE(sparseModel->has_altitudemode());
  EXPECT_EQ(kmldom::ALTITUDEMODE_CLAMPTOGROUND, sparseModel->get_altitudemode());
  // Every value is written out, defaults included.
  EXPECT_NE(std::string::npos, kmztest::ReadFile(work_ + "1/t.kml").find("<heading>0</heading>"));
}

TEST_F(TileFolderTest, RefusesTilesItCannotBuildAndWritesNothing) {
  AddSimpleModel("good", 1, 1);
  const auto refuse = [&](const std::string& stem, const ModelDocOptions& o) {
    AddModel(stem, {{"models/" + stem + ".dae", "<COLLADA/>"}}, ModelDoc("models/x.dae", 1, 1, o), "<COLLADA/>");
    EXPECT_FALSE(CBaseParserTestAccess::CombineKml(parser_, 18, {"good.kmz", stem + ".kmz"}, "t")) << stem;
    EXPECT_FALSE(CBaseParserTestAccess::CombineKml(parser_, 18, {stem + ".kmz"}, "t")) << stem;
  };
  ModelDocOptions o;
  o.placemark = false;
  refuse("noplacemark", o);
  o = {};
  o.location = false;
  refuse("nolocation", o);
  o = {};
  o.link = false;
  refuse("nolink", o);
  AddModel("doc", {}, kmztest::MakeModelKml({{"1", "a.dae", 1, 1}}, "Document"), "");
  EXPECT_FALSE(CBaseParserTestAccess::CombineKml(parser_, 18, {"good.kmz", "doc.kmz"}, "t"));
  // The same model twice gives duplicate ids, which the KML import refuses.
  EXPECT_FALSE(CBaseParserTestAccess::CombineKml(parser_, 18, {"good.kmz", "good.kmz"}, "t"));
  EXPECT_FALSE(CBaseParserTestAccess::CombineKml(parser_, 18, {"good.kmz", "missing.kmz"}, "t"));
  EXPECT_FALSE(CBaseParserTestAccess::CombineKml(parser_, 18, {""}, "t"));
  EXPECT_FALSE(CBaseParserTestAccess::CombineKml(parser_, 18, {}, "t"));
  EXPECT_FALSE(CBaseParserTestAccess::CombineKml(parser_, 18, {"good.kmz"}, ""));
  // Levels whose folder number is not one digit have no level folder.
  for (long level : {8L, 20L, -5L}) EXPECT_FALSE(CBaseParserTestAccess::CombineKml(parser_, level, {"good.kmz"}, "t"));
  for (int n = 0; n <= 4; ++n) EXPECT_FALSE(kmztest::Exists(work_ + std::to_string(n) + "/t.kml"));
}

TEST_F(TileFolderTest, ShortHrefsTakeTheBaseNameAtTheEnd) {
  AddModel("abc", {{"a.dae", "<COLLADA/>"}}, ModelDoc("a.dae", 1, 1), "<COLLADA/>");
  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 18, {"abc.kmz"}, "t"));
  EXPECT_EQ("a.daeabc", ModelAt(ParseTileFolder(work_ + "1/t.kml"), 1)->get_link()->get_href());
}

TEST_F(TileFolderTest, CombinesASketchUpStyleDocument) {
  const std::string package = kmztest::FolderModelKmz();
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  ASSERT_TRUE(CBaseParser::ReadKmzToList(package, names, contents, locations));
  kmztest::WriteFile(work_ + "Macky.kmz", package);
  kmztest::WriteFile(work_ + "1/Macky.kml", contents[0]);
  ASSERT_TRUE(CBaseParserTestAccess::CombineKml(parser_, 18, {"Macky.kmz"}, "t"));
  const kmldom::FolderPtr folder = ParseTileFolder(work_ + "1/t.kml");
  ASSERT_TRUE(folder);
  EXPECT_EQ((std::vector<std::string>{"Tour", "Macky"}), FeatureNames(folder));
  EXPECT_EQ("modelsMacky/Macky.dae", ModelAt(folder, 1)->get_link()->get_href());
  EXPECT_NEAR(kmztest::kFolderModelHeading, ModelAt(folder, 1)->get_orientation()->get_heading(), 1e-12);
}
