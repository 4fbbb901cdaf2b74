// The location text as the build reads it, and what makes a template usable.
#include "TestSupport.h"
#include "placement/detail/LocationText.h"
#include "placement/detail/TemplateCheck.h"

using namespace kmztile::placement::detail;

TEST(LocationText, ReadsTheFirstTwoLinesAsNumbers) {
  LocationLines l = ReadLocationLines("  116.5\r\n\t39.9\nignored\n");
  EXPECT_TRUE(l.x.present && l.y.present);
  EXPECT_DOUBLE_EQ(l.x.value, 116.5);
  EXPECT_DOUBLE_EQ(l.y.value, 39.9);
  EXPECT_EQ(l.x.ignored, "");

  l = ReadLocationLines("39443000.25 m\n-4e2");
  EXPECT_EQ(l.x.ignored, "m");
  EXPECT_DOUBLE_EQ(l.y.value, -400);

  l = ReadLocationLines("116.5");
  EXPECT_TRUE(l.x.present);
  EXPECT_FALSE(l.y.present);
  l = ReadLocationLines("\n39.9\n");
  EXPECT_FALSE(l.x.present);
  EXPECT_TRUE(l.y.present);
  l = ReadLocationLines("east\nnorth\n");
  EXPECT_FALSE(l.x.present || l.y.present);
  EXPECT_FALSE(ReadLocationLines("").x.present);
}

namespace {

std::string Template(const std::string& folderBody, const std::string& root = "Folder") {
  return "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><" + root + "><name>t</name>" + folderBody + "</" + root +
         "></kml>";
}

const char kModelMark[] =
    "<Placemark id=\"p\"><name>Model</name><Model><Location><longitude>1</longitude><latitude>2</latitude></Location>"
    "<Link><href>models/m.dae</href></Link></Model></Placemark>";

}  // namespace

TEST(TemplateKml, AFolderWithAModelPlacemarkIsUsable) {
  EXPECT_EQ(CheckTemplateKml(Template(kModelMark)), "") << "Orientation and Scale are optional";
  EXPECT_EQ(CheckTemplateKml(Template("<Folder><name>x</name></Folder>" + std::string(kModelMark))), "");
}

TEST(TemplateKml, ReasonsForUnusableTemplates) {
  const auto fails = [](const std::string& text, const std::string& expected) {
    const std::string reason = CheckTemplateKml(text);
    EXPECT_NE(reason.find(expected), std::string::npos) << "reason: " << reason;
  };
  fails("<kml><Folder>", "does not parse");
  fails("<Folder><name>x</name></Folder>", "root element is not <kml>");
  fails("<kml xmlns=\"http://www.opengis.net/kml/2.2\"/>", "no feature");
  fails(Template(kModelMark, "Document"), "not a <Folder>");
  fails(Template(""), "no <Placemark>");
  fails(Template("<Placemark><Point><coordinates>1,2</coordinates></Point></Placemark>" + std::string(kModelMark)),
        "not a <Model>");
  fails(Template("<Placemark><Model><Link><href>m.dae</href></Link></Model></Placemark>"), "no <Location>");
  fails(Template("<Style id=\"p\"/>" + std::string(kModelMark)), "serialised");
  // Values that read back only escaped: each model's document is the last one written again.
  for (const char* attribute : {"id=\"a&amp;b\"", "id=\"a&lt;b\"", "targetId=\"a&quot;b\"", "id=\"&#38;\""})
    fails(Template("<Style " + std::string(attribute) + "/>" + kModelMark), "no longer reads as KML");
  // Escaped twice, a value reads back once and breaks a write later: the
  // third model's document would not read, and every model from it be lost.
  for (const char* attribute : {"id=\"a&amp;amp;b\"", "targetId=\"a&amp;lt;b\"", "id=\"a&amp;#38;b\"", "foo=\"a&amp;quot;b\""})
    fails(Template("<Style " + std::string(attribute) + "/>" + kModelMark), "changes each time it is written");
  fails(Template(std::string(kModelMark).replace(sizeof("<Placemark") - 1, 0, " x=\"&amp;amp;amp;\"")),
        "changes each time it is written");
  // Text holding the end of a CDATA section is written back in one section, which ends early.
  fails(Template("<Folder><description><![CDATA[a]]]]><![CDATA[>b]]></description></Folder>" + std::string(kModelMark)),
        "no longer reads as KML");
  EXPECT_EQ(CheckTemplateKml(Template("<Style id=\"a&gt;b\"/>" + std::string(kModelMark))), "")
      << "> needs no escape in an attribute";
  fails(kmztest::ReadFile(kmztest::RealData("kmz/kml/all-altitudemodes.kml")), "not a <Folder>");
  fails(kmztest::ReadFile(kmztest::RealData("kmz/kml/100_nested_folders.kml")), "root element is not <kml>");
  // Tiles replace the placemark named "Model" of each package; under any
  // other name it stays, its link naming a model no tile holds.
  fails(kmztest::ReadFile(kmztest::RealData("kmz/kml/model-crazy-orientation.kml")), "not \"Model\"");
}
