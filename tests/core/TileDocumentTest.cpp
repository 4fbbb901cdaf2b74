// The tile document is put together as text from placemarks kept between
// tiles; building the whole document as elements is the reference. Over
// generated tiles (models named "Model", templates with several "Model"
// features, ids that collide, descriptions with markup and line breaks,
// unknown elements, documents that do not parse) both ways must give the
// same bytes, or fail with the same reason.
#include <gtest/gtest.h>

#include <clocale>
#include <locale>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/detail/ModelDocument.h"
#include "core/detail/TileCore.h"
#include "core/detail/TilePlacemark.h"
#include "core/detail/TileStarts.h"
#include "kml/dom.h"
#include "placement/detail/TemplateRewrite.h"
#include "platform/LastError.h"
#include "platform/Locale.h"
#include "platform/SimilarTexts.h"

namespace {

using kmztile::core::TileModels;

// Models held in memory; with @p keep and @p starts, placemark texts and
// document starts are kept between tiles the way the build keeps them
// within an area.
class MemoryModels final : public TileModels {
 public:
  MemoryModels(std::vector<std::pair<std::string, std::string>> models, std::map<std::string, std::string>* keep,
               kmztile::core::TileStarts* starts)
      : models_(std::move(models)), keep_(keep), starts_(starts) {}
  kmztile::core::TileStarts* Starts() override { return starts_; }
  std::size_t Count() const override { return models_.size(); }
  const std::string& Package(std::size_t i) const override { return models_[i].first; }
  bool Document(std::size_t i, std::string& text) override {
    text = models_[i].second;
    return true;
  }
  bool Entries(std::size_t, std::vector<kmztile::core::ModelEntry>&) override { return true; }
  bool PlacemarkText(std::size_t i, std::string& text) override {
    if (!keep_) return TileModels::PlacemarkText(i, text);
    const auto known = keep_->find(models_[i].first);
    if (known != keep_->end()) return text = known->second, true;
    if (!TileModels::PlacemarkText(i, text)) return false;
    (*keep_)[models_[i].first] = text;
    return true;
  }

 private:
  std::vector<std::pair<std::string, std::string>> models_;
  std::map<std::string, std::string>* keep_;
  kmztile::core::TileStarts* starts_;
};

// One model's document, varied by @p rng: what comes before and after the
// model's placemark, its description, how many features are named "Model".
std::string ModelDocument(std::mt19937& rng, const std::string& name) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* descriptions[] = {"Sample building",
                                "two\nlines",
                                "<![CDATA[<b>bold</b> & more]]>",
                                "a &amp; b &lt;c&gt;",
                                "  spaced  ",
                                "\xE4\xB8\xAD\xE6\x96\x87",
                                ""};
  std::string xmlName;  // the name as the document's text holds it
  for (const char c : name) xmlName += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
  std::string doc =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Folder>\n";
  doc += "<name>" + xmlName + "</name>\n";
  switch (pick(5)) {
    case 0:
      doc += "<Folder id=\"about\"><name>About</name><description>x\ny</description></Folder>\n";
      break;
    case 1:
      doc += "<Placemark id=\"first\"><name>Model</name></Placemark>\n";
      break;
    case 2:
      doc += "<Document><name>Inner</name><Placemark><name>Model</name></Placemark></Document>\n";
      break;
    case 3:
      // Its id is "a&amp;b", as the placemark of a model named "a&b" is written.
      doc += "<Folder id=\"a&amp;amp;b\"><name>About</name></Folder>\n";
      break;
    default:
      doc += "<Folder><name>About</name><unknownThing a=\"1\">kept</unknownThing></Folder>\n";
  }
  const bool missingLink = pick(40) == 0;
  doc += std::string("<Placemark id=\"") + (pick(8) == 0 ? "about" : "model") + "\"><name>Model</name><description>" +
         descriptions[pick(7)] + "</description><Model><altitudeMode>relativeToGround</altitudeMode><Location>" +
         "<longitude>116.3" + std::to_string(pick(1000)) + "</longitude><latitude>39.9</latitude>" + "<altitude>" +
         std::to_string(pick(30)) + ".25</altitude></Location>" +
         (pick(2) ? "<Orientation><heading>12.5</heading></Orientation>" : "") +
         (pick(2) ? "<Scale><x>2</x><y>2</y><z>2</z></Scale>" : "") +
         (missingLink ? "" : "<Link><href>models/" + xmlName + ".dae</href></Link>") + "</Model></Placemark>\n";
  if (pick(3) == 0) doc += "<Placemark><name>Model</name><description>another</description></Placemark>\n";
  if (pick(4) == 0) doc += "<Placemark id=\"last\"><name>Last</name></Placemark>\n";
  doc += "</Folder>\n</kml>\n";
  if (pick(60) == 0) doc = "<kml><Document/></kml>";
  return doc;
}

TEST(TileDocument, TextAndWholeDocumentAgreeOnGeneratedTiles) {
  std::mt19937 rng(20261208);
  std::map<std::string, std::string> kept;  // one "area": placemarks and starts reused across tiles
  kmztile::core::TileStarts starts;
  std::vector<std::string> firsts;
  int combined = 0, refused = 0;
  for (int tile = 0; tile < 400; ++tile) {
    if (tile % 20 == 0) kept.clear(), starts.Clear(), firsts.clear();
    std::vector<std::pair<std::string, std::string>> models;
    const int count = 1 + static_cast<int>(rng() % 6);
    for (int m = 0; m < count; ++m) {
      // Names repeat (a shared id), "Model", "about" or "last" collide with
      // the template's, and markup characters are escaped in the id.
      const char* special[] = {"Model", "about", "last", "first", "a&b", "q\"x", "l<t"};
      std::string name = rng() % 10 == 0 ? special[rng() % 7] : "b" + std::to_string(rng() % 300);
      // Tiles of an area often start with the same model (its tiles at every level).
      if (m == 0 && !firsts.empty() && rng() % 2 == 0) name = firsts[rng() % firsts.size()];
      if (m == 0) firsts.push_back(name);
      // A model has one document within an area, as in a build.
      std::mt19937 own(static_cast<unsigned>(std::hash<std::string>{}(name)) + static_cast<unsigned>(tile / 20));
      models.emplace_back(name + ".kmz", ModelDocument(own, name));
    }
    MemoryModels whole(models, nullptr, nullptr), text(models, &kept, &starts);
    std::string expected, actual;
    kmztile::platform::ClearLastError();
    const bool wholeOk = kmztile::core::CombineTileDocumentWhole(whole, "15-1-2", expected);
    const std::string wholeError = kmztile::platform::LastError();
    kmztile::platform::ClearLastError();
    const bool textOk = kmztile::core::CombineTileDocument(text, "15-1-2", actual);
    ASSERT_EQ(wholeOk, textOk) << "tile " << tile << ": " << wholeError;
    if (wholeOk) {
      ASSERT_EQ(expected, actual) << "tile " << tile;
      std::string errors;
      EXPECT_TRUE(kmldom::Parse(actual, &errors)) << "tile " << tile << ": not well-formed: " << errors;
      ++combined;
    } else {
      EXPECT_EQ(wholeError, kmztile::platform::LastError()) << "tile " << tile;
      ++refused;
    }
  }
  // Both outcomes are exercised.
  EXPECT_GT(combined, 100);
  EXPECT_GT(refused, 20);
}

}  // namespace

namespace {

// The catalog holds every model's document compressed against the first:
// each comes back exactly, whatever its size (the reference keeps only its
// last 32 KB), and a damaged copy is refused rather than misread.
TEST(SimilarTexts, EveryTextComesBackExactlyAndDamageIsRefused) {
  std::mt19937 rng(7);
  kmztile::platform::SimilarTexts texts;
  std::string reference(40000, 'x');
  for (auto& c : reference) c = static_cast<char>('a' + rng() % 26);
  std::vector<std::string> originals = {reference, "", std::string(1, '\0'),
                                        reference.substr(reference.size() - 1500) + "tail", std::string(200000, 'q')};
  for (int i = 0; i < 50; ++i) {
    std::string t = reference.substr(rng() % 39000, rng() % 5000);
    if (!t.empty()) t[rng() % t.size()] ^= 1;
    originals.push_back(t);
  }
  std::vector<std::string> packed(originals.size());
  for (std::size_t i = 0; i < originals.size(); ++i) ASSERT_TRUE(texts.Pack(originals[i], packed[i])) << i;
  EXPECT_LT(packed[3].size(), 200u);  // nearly the reference: a few bytes
  for (std::size_t i = 0; i < originals.size(); ++i) {
    std::string back;
    ASSERT_TRUE(texts.Unpack(packed[i], back)) << i;
    ASSERT_EQ(originals[i], back) << i;
  }
  std::string back;
  for (const std::string& bad :
       {std::string(), std::string("12"), std::string("x:abc"), std::string("99999999999999999999:"),
        packed[3].substr(0, packed[3].size() / 2), "5" + packed[3]})
    EXPECT_FALSE(texts.Unpack(bad, back)) << bad.size();
}

}  // namespace

namespace {

// A user's locale that writes 2500.5 as "2.500,5", as German ones do.
struct CommaNumbers : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

// KML spells numbers one way whatever the user's locale: the template
// rewritten for a model, a tile placemark and a document read back carry
// the same numbers (no decimal comma, no digit grouping) as under the
// classic locale, and the user's locale is in force again afterwards.
// (How a user's locale reads the text files is another matter: by design
// it reads the coordinates lists.)
TEST(TileDocument, KmlNumbersDoNotFollowTheUsersLocale) {
  const std::string templateText =
      "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder><name>t</name>"
      "<Folder><name>About</name><LookAt><longitude>116.39</longitude><range>2500.5</range></LookAt></Folder>"
      "<Placemark><name>Model</name><Model><Location><longitude>1</longitude><latitude>2</latitude>"
      "<altitude>1234.25</altitude></Location><Scale><x>1000</x><y>0.5</y><z>2</z></Scale>"
      "<Link><href>models/x.dae</href></Link></Model></Placemark></Folder></kml>";
  auto made = [&](std::string& rewritten, std::string& placemark) {
    ASSERT_TRUE(kmztile::placement::detail::RewriteTemplateText(templateText, "b1", "b1.dae", 116.375, 39.5, rewritten));
    kmldom::KmlPtr root;
    kmldom::FolderPtr folder;
    ASSERT_TRUE(kmztile::core::ParseModelDocument(rewritten, root, folder));
    ASSERT_TRUE(kmztile::core::PlacemarkTileText(kmztile::core::BuildTilePlacemark(folder, "b1"), placemark));
  };
  std::locale::global(std::locale::classic());
  std::string classicDocument, classicPlacemark;
  made(classicDocument, classicPlacemark);
  ASSERT_NE(classicDocument.find("<range>2500.5</range>"), std::string::npos) << classicDocument;

  const std::locale comma(std::locale::classic(), new CommaNumbers);
  std::locale::global(comma);
  std::string document, placemark;
  made(document, placemark);
  const bool stillComma = std::use_facet<std::numpunct<char>>(std::locale()).decimal_point() == ',';
  std::locale::global(std::locale::classic());
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(classicDocument, document);
  EXPECT_EQ(classicPlacemark, placemark);
  EXPECT_TRUE(stillComma);
}

}  // namespace
