// The sample-city generator: deterministic output in the source layout that
// packaging reads, valid documents, textures where the models say, and grid
// locations that convert back to the intended place.
#include <expat.h>
#include <gtest/gtest.h>
#include <png.h>
#include <proj.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <regex>

#include "Building.h"
#include "City.h"
#include "TestSupport.h"
#include "kml/dom.h"

namespace fs = std::filesystem;

namespace {

class SampleCityTest : public kmztest::TempDirTest {
 protected:
  samplegen::CityReport Generate(const std::string& folder, int models, std::uint64_t seed = 7, int maxTexture = 1024,
                                 bool real = false, int grain = 0) {
    samplegen::CityOptions options;
    options.out = Path(folder);
    options.models = models;
    options.seed = seed;
    options.maxTexture = maxTexture;
    options.grain = grain;
    if (real) options.realData = kmztest::RealData("collada");
    return samplegen::GenerateCity(options);
  }

  /** Every file below @p folder, by relative path, with its bytes. */
  std::map<std::string, std::string> Files(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(Path(folder)))
      if (e.is_regular_file()) files[fs::relative(e.path(), Path(folder)).string()] = kmztest::ReadFile(e.path());
    return files;
  }
};

/** Collects the <init_from> texts of <image> elements; false when the XML is not well formed. */
bool ImageReferences(const std::string& xml, std::vector<std::string>& refs) {
  struct State {
    std::vector<std::string>* refs;
    bool inImage = false, inInit = false;
    std::string text;
  } state{&refs, false, false, {}};
  struct ParserFree {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
  };
  std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree> parser(XML_ParserCreate(nullptr));
  XML_SetUserData(parser.get(), &state);
  XML_SetElementHandler(
      parser.get(),
      [](void* d, const XML_Char* name, const XML_Char**) {
        auto* s = static_cast<State*>(d);
        const std::string n = name;
        if (n == "image") s->inImage = true;
        if (n == "init_from" && s->inImage) {
          s->inInit = true;
          s->text.clear();
        }
      },
      [](void* d, const XML_Char* name) {
        auto* s = static_cast<State*>(d);
        const std::string n = name;
        if (n == "init_from" && s->inInit) {
          s->refs->push_back(s->text);
          s->inInit = false;
        }
        if (n == "image") s->inImage = false;
      });
  XML_SetCharacterDataHandler(parser.get(), [](void* d, const XML_Char* t, int len) {
    auto* s = static_cast<State*>(d);
    if (s->inInit) s->text.append(t, static_cast<size_t>(len));
  });
  return XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
}

/** Width and height of a JPEG, PNG or TIFF file; false when the codec cannot read it. */
bool ImageSize(const std::string& path, int& w, int& h) {
  const std::string bytes = kmztest::ReadFile(path);
  const std::string ext = fs::path(path).extension().string();
  if (ext == ".jpg") {
    std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitDecompress(), tjDestroy);
    int sub = 0, cs = 0;
    return tjDecompressHeader3(tj.get(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &w, &h,
                               &sub, &cs) == 0;
  }
  if (ext == ".png") {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    const bool ok = png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) != 0;
    w = static_cast<int>(image.width);
    h = static_cast<int>(image.height);
    png_image_free(&image);
    return ok;
  }
  if (ext == ".tif") {
    std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(path.c_str(), "r"), TIFFClose);
    if (!tiff) return false;
    uint32_t tw = 0, th = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &tw);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &th);
    // Decoding the whole picture proves the deflate strip is readable.
    std::vector<uint32_t> raster(static_cast<size_t>(tw) * th);
    if (!TIFFReadRGBAImage(tiff.get(), tw, th, raster.data(), 0)) return false;
    w = static_cast<int>(tw);
    h = static_cast<int>(th);
    return true;
  }
  return false;
}

TEST_F(SampleCityTest, SameOptionsGiveTheSameBytesAndAnotherSeedDiffers) {
  Generate("a", 24);
  Generate("b", 24);
  Generate("c", 24, 8);
  const auto a = Files("a");
  EXPECT_EQ(a, Files("b"));
  EXPECT_NE(a, Files("c"));
  // Rerunning into the same folder rewrites the same files, nothing more.
  Generate("a", 24);
  EXPECT_EQ(a, Files("a"));
}

TEST_F(SampleCityTest, EveryModelHasLocationTextureFolderAndValidCollada) {
  const samplegen::CityReport report = Generate("city", 40);
  EXPECT_EQ(report.models, 40);
  EXPECT_EQ(report.gridLocated, 20);
  int daes = 0;
  std::map<std::string, int> formats;
  for (const auto& e : fs::directory_iterator(Path("city"))) {
    if (e.path().extension() != ".dae") continue;
    ++daes;
    const std::string n = e.path().stem().string();
    EXPECT_TRUE(fs::is_directory(Path("city/" + n))) << n;
    const std::string dae = kmztest::ReadFile(e.path());
    EXPECT_NE(dae.find("version=\"1.4.1\""), std::string::npos);
    std::vector<std::string> refs;
    ASSERT_TRUE(ImageReferences(dae, refs)) << n << ".dae is not well-formed XML";
    ASSERT_FALSE(refs.empty()) << n;
    for (const std::string& ref : refs) {
      // Relative to the model file, as COLLADA resolves it: the model's own folder.
      EXPECT_EQ(ref.rfind(n + "/", 0), 0u) << ref;
      int w = 0, h = 0;
      ASSERT_TRUE(ImageSize(Path("city/" + ref), w, h)) << ref;
      EXPECT_GE(std::min(w, h), 64) << ref;
      EXPECT_LE(std::max(w, h), 1024) << ref;
      ++formats[fs::path(ref).extension().string()];
    }
    // Triangle lists index whole triangles within the vertex count.
    const std::regex triangles("<triangles material=\"\\w+\" count=\"(\\d+)\">[^<]*(?:<input[^>]*>\\s*)+<p>([^<]*)</p>");
    int groups = 0;
    for (std::sregex_iterator it(dae.begin(), dae.end(), triangles), end; it != end; ++it) {
      ++groups;
      std::istringstream indices((*it)[2].str());
      size_t count = 0;
      for (long v; indices >> v;) ++count;
      EXPECT_EQ(count, 3 * std::stoul((*it)[1].str())) << n;
    }
    EXPECT_EQ(groups, 2) << n;  // walls and roof
  }
  EXPECT_EQ(daes, 40);
  EXPECT_GT(formats[".jpg"], 0);
  EXPECT_GT(formats[".png"], 0);
  EXPECT_GT(formats[".tif"], 0);
}

TEST_F(SampleCityTest, LocationsAreCrLfLinesAndGridOnesConvertBack) {
  Generate("city", 30);
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* grid = proj_create(ctx, "EPSG:4527");
  PJ* geo = proj_crs_get_geodetic_crs(ctx, grid);
  PJ* raw = proj_create_crs_to_crs_from_pj(ctx, grid, geo, nullptr, nullptr);
  PJ* op = proj_normalize_for_visualization(ctx, raw);
  int gridCount = 0;
  for (int i = 1; i <= 30; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", i);
    const std::string text = kmztest::ReadFile(Path(std::string("city/") + name + ".txt"));
    const std::regex lines("([0-9.]+)\r\n([0-9.]+)\r\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, lines)) << name << ": " << text;
    double x = std::stod(m[1]), y = std::stod(m[2]);
    if (x > 180 && y > 90) {
      ++gridCount;
      EXPECT_EQ(static_cast<long>(x / 1e6), 39) << "easting carries the zone number";
      const PJ_COORD c = proj_trans(op, PJ_FWD, proj_coord(x, y, 0, 0));
      x = c.lp.lam;
      y = c.lp.phi;
    }
    // Near the centre and well inside a few level-15 tiles of it.
    EXPECT_NEAR(x, 116.39, 0.03) << name;
    EXPECT_NEAR(y, 39.91, 0.02) << name;
  }
  EXPECT_EQ(gridCount, 15);
  proj_destroy(op);
  proj_destroy(raw);
  proj_destroy(geo);
  proj_destroy(grid);
  proj_context_destroy(ctx);
}

TEST_F(SampleCityTest, TemplateHasTheFeatureOrderPackagingAndTilingNeed) {
  Generate("city", 1);
  std::string errors;
  const kmldom::ElementPtr root = kmldom::Parse(kmztest::ReadFile(Path("city/doc.kml")), &errors);
  ASSERT_TRUE(root) << errors;
  const kmldom::FolderPtr folder = kmldom::AsFolder(kmldom::AsKml(root)->get_feature());
  ASSERT_TRUE(folder);
  ASSERT_EQ(folder->get_feature_array_size(), 2u);
  // The first feature is no placemark, so the pattern (first placemark) is the
  // second feature, and a rewritten placemark appended after it is second again.
  EXPECT_EQ(folder->get_feature_array_at(0)->Type(), kmldom::Type_Folder);
  EXPECT_NE(folder->get_feature_array_at(0)->get_name(), "Model");
  const kmldom::PlacemarkPtr pattern = kmldom::AsPlacemark(folder->get_feature_array_at(1));
  ASSERT_TRUE(pattern);
  EXPECT_EQ(pattern->get_name(), "Model");
  EXPECT_EQ(pattern->get_id(), "model");
  const kmldom::ModelPtr model = kmldom::AsModel(pattern->get_geometry());
  ASSERT_TRUE(model);
  EXPECT_TRUE(model->has_location() && model->has_orientation() && model->has_scale() && model->has_link());
  EXPECT_EQ(model->get_altitudemode(), kmldom::ALTITUDEMODE_RELATIVETOGROUND);
  EXPECT_EQ(model->get_link()->get_href(), "models/x.dae");
}

TEST_F(SampleCityTest, MaxTextureCapsEveryTexture) {
  Generate("small", 30, 3, 128);
  for (const auto& e : fs::recursive_directory_iterator(Path("small"))) {
    if (!e.is_regular_file() || e.path().parent_path() == fs::path(Path("small"))) continue;
    int w = 0, h = 0;
    ASSERT_TRUE(ImageSize(e.path().string(), w, h)) << e.path();
    EXPECT_LE(std::max(w, h), 128) << e.path();
  }
}

TEST_F(SampleCityTest, MinTextureRaisesEveryFacadeButKeepsTheCap) {
  samplegen::CityOptions options;
  options.out = Path("big");
  options.models = 30;
  options.seed = 3;
  options.minTexture = 256;
  options.maxTexture = 512;
  samplegen::GenerateCity(options);
  int facades = 0;
  for (const auto& e : fs::recursive_directory_iterator(Path("big"))) {
    if (!e.is_regular_file() || e.path().stem() != "facade") continue;
    int w = 0, h = 0;
    ASSERT_TRUE(ImageSize(e.path().string(), w, h)) << e.path();
    EXPECT_GE(std::min(w, h), 256) << e.path();
    EXPECT_LE(std::max(w, h), 512) << e.path();
    ++facades;
  }
  EXPECT_EQ(30, facades);
}

TEST_F(SampleCityTest, GrainChangesOnlyThePixelsAndMakesTexturesPhotoLike) {
  Generate("flat", 20, 5, 256);
  Generate("grain", 20, 5, 256, false, 8);
  const auto flat = Files("flat");
  const auto grain = Files("grain");
  ASSERT_EQ(flat.size(), grain.size());
  std::size_t flatBytes = 0, grainBytes = 0;
  for (const auto& [name, bytes] : flat) {
    ASSERT_EQ(grain.count(name), 1u) << name;
    const bool texture = fs::path(name).parent_path() != fs::path();
    if (!texture) {
      EXPECT_EQ(bytes, grain.at(name)) << name << ": grain touches textures only";
      continue;
    }
    int w = 0, h = 0, gw = 0, gh = 0;
    ASSERT_TRUE(ImageSize(Path("flat/" + name), w, h) && ImageSize(Path("grain/" + name), gw, gh)) << name;
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(gw, gh)) << name;
    EXPECT_NE(bytes, grain.at(name)) << name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) {
      flatBytes += bytes.size();
      grainBytes += grain.at(name).size();
    }
  }
  // Noisy pixels no longer compress like flat drawings.
  EXPECT_GT(grainBytes, 10 * flatBytes);
}

TEST_F(SampleCityTest, RealModelsPointAtTheirOwnFolders) {
  const samplegen::CityReport report = Generate("city", 2, 7, 1024, true);
  EXPECT_EQ(report.models, 5);
  for (const char* name : {"duck", "macky", "alphatiff"}) {
    std::vector<std::string> refs;
    ASSERT_TRUE(ImageReferences(kmztest::ReadFile(Path(std::string("city/") + name + ".dae")), refs)) << name;
    ASSERT_FALSE(refs.empty()) << name;
    for (const std::string& ref : refs) {
      EXPECT_EQ(ref.rfind(std::string(name) + "/", 0), 0u) << ref;
      EXPECT_TRUE(fs::is_regular_file(Path("city/" + ref))) << ref;
    }
  }
  // Textures are unchanged copies.
  EXPECT_EQ(kmztest::ReadFile(Path("city/duck/duckCM.png")), kmztest::ReadFile(kmztest::RealData("collada/duck/duckCM.png")));
}

TEST_F(SampleCityTest, BundledCityIsExactlyTheGeneratorsDefaultOutput) {
  samplegen::CityOptions options;  // the defaults, as samples/city/README.md says
  options.out = Path("city");
  options.realData = kmztest::RealData("collada");
  samplegen::GenerateCity(options);
  const auto generated = Files("city");
  std::map<std::string, std::string> bundled;
  const fs::path root = fs::path(KMZTILE_SOURCE_DIR) / "samples" / "city";
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().extension() != ".md")
      bundled[fs::relative(e.path(), root).string()] = kmztest::ReadFile(e.path());
  ASSERT_EQ(generated.size(), bundled.size());
  EXPECT_TRUE(generated == bundled) << "regenerate samples/city with kmztile-samplegen (see its README.md)";
  std::uint64_t bytes = 0;
  for (const auto& [name, data] : bundled) bytes += data.size();
  EXPECT_LT(bytes, 5u * 1000 * 1000) << "the bundled city must stay under 5 MB";
}

TEST(SampleBuilding, EarClippingCoversConcaveFootprints) {
  using samplegen::Point2;
  const std::vector<Point2> l = {{0, 0}, {10, 0}, {10, 4}, {4, 4}, {4, 10}, {0, 10}};
  const std::vector<int> tris = samplegen::Triangulate(l);
  ASSERT_EQ(tris.size(), 3u * (l.size() - 2));
  double area = 0;
  for (size_t i = 0; i < tris.size(); i += 3) {
    const Point2 &a = l[tris[i]], &b = l[tris[i + 1]], &c = l[tris[i + 2]];
    const double twice = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    EXPECT_GT(twice, 0) << "triangles keep the footprint's counter-clockwise turn";
    area += twice / 2;
  }
  EXPECT_DOUBLE_EQ(area, 10 * 4 + 4 * 6);
  EXPECT_TRUE(samplegen::Triangulate({{0, 0}, {1, 0}}).empty());
}

}  // namespace
