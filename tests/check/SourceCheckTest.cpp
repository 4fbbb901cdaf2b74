// Checking whole source folders, built from the real COLLADA samples.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "TestSupport.h"
#include "placement/detail/SourceCheck.h"

namespace fs = std::filesystem;
using namespace kmztile::placement::detail;

namespace {

const char kTemplate[] =
    "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder><name>t</name><Placemark id=\"0\"><name>Model</name>"
    "<Model><Location><longitude>0</longitude><latitude>0</latitude></Location>"
    "<Link><href>models/m.dae</href></Link></Model></Placemark></Folder></kml>";

class SourceCheck : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    src_ = Path("src");
    fs::create_directories(src_);
    kmztest::WriteFile(src_ + "/doc.kml", kTemplate);
  }
  // Copies a real file into the source folder under @p target.
  void CopyReal(const std::string& real, const std::string& target) {
    fs::create_directories(fs::path(src_ + "/" + target).parent_path());
    fs::copy_file(kmztest::RealData(real), src_ + "/" + target, fs::copy_options::overwrite_existing);
  }
  void Location(const std::string& name, const std::string& text) { kmztest::WriteFile(src_ + "/" + name + ".txt", text); }

  // The problems as "error|warning: <file relative to the folder>: <reason>".
  static std::vector<std::string> Lines(const SourceCheckReport& r, const std::string& root) {
    std::vector<std::string> out;
    for (const auto& p : r.problems) {
      std::string file = p.file.compare(0, root.size(), root) == 0 ? p.file.substr(root.size()) : p.file;
      out.push_back(std::string(p.severity == ProblemSeverity::kError ? "error " : "warning ") + file + ": " + p.reason);
    }
    return out;
  }
  std::string Dump(const SourceCheckReport& r) const {
    std::string s;
    for (const auto& l : Lines(r, src_ + "/")) s += l + "\n";
    return s;
  }
  static bool Has(const SourceCheckReport& r, ProblemSeverity severity, const std::string& fileEnd,
                  const std::string& reasonPart) {
    for (const auto& p : r.problems)
      if (p.severity == severity && p.file.size() >= fileEnd.size() &&
          p.file.compare(p.file.size() - fileEnd.size(), fileEnd.size(), fileEnd) == 0 &&
          p.reason.find(reasonPart) != std::string::npos)
        return true;
    return false;
  }

  std::string src_;
};

}  // namespace

TEST_F(SourceCheck, AFolderLaidOutForPackagingIsClean) {
  // The duck, with its texture reference pointing into its texture folder.
  std::string dae = kmztest::ReadFile(kmztest::RealData("collada/duck/duck_triangles.dae"));
  const auto at = dae.find("./duckCM.png");
  ASSERT_NE(at, std::string::npos);
  dae.replace(at, 12, "1001/duckCM.png");
  kmztest::WriteFile(src_ + "/1001.dae", dae);
  CopyReal("collada/duck/duckCM.png", "1001/duckCM.png");
  Location("1001", "116.5\n39.9\n");
  CopyReal("collada/stress_untextured/multiModel_01_stressTest_00.dae", "1002.DAE");
  Location("1002", "39443000\n4418000\n");  // grid coordinates

  const SourceCheckReport r = CheckSourceFolder(src_ + "/");
  EXPECT_TRUE(r.problems.empty()) << Dump(r);
  // Spelled relatively, with "." and ".." steps, the folder is just as clean:
  // the texture folder is compared with resolved references, not as typed.
  const fs::path cwd = fs::current_path();
  fs::current_path(src_);
  for (const char* spelling : {".", "./", "../src", "./../src/."}) {
    const SourceCheckReport relative = CheckSourceFolder(spelling);
    EXPECT_TRUE(relative.problems.empty()) << spelling << "\n" << Dump(relative);
  }
  fs::current_path(cwd);
  ASSERT_EQ(r.models.size(), 2u);
  EXPECT_EQ(r.models[0].name, "1001");
  ASSERT_EQ(r.models[0].textures.size(), 1u);
  EXPECT_TRUE(r.models[0].textures[0].exists && r.models[0].textures[0].packed);
  EXPECT_FALSE(r.models[0].grid);
  EXPECT_EQ(r.models[1].modelFile, "1002.DAE");
  EXPECT_TRUE(r.models[1].grid);
}

TEST_F(SourceCheck, RealCollada) {
  // Each sample keeps its own relative layout; references resolve, so the
  // only findings are textures outside the texture folders (not packed).
  CopyReal("collada/percent_encoding_spaces/percent_encoding_spaces.dae", "1.dae");
  CopyReal("collada/percent_encoding_spaces/With Spaces/Pass Image.png", "With Spaces/Pass Image.png");
  CopyReal("collada/percent_encoding_text/percent_encoding_text.dae", "2.dae");
  CopyReal("collada/percent_encoding_text/With Spaces/PassImage.png", "With Spaces/PassImage.png");
  CopyReal("collada/imageindifdir1/imageindifdir1.dae", "3.dae");
  CopyReal("collada/imageindifdir1/Textures/tex1/collada.png", "Textures/tex1/collada.png");
  CopyReal("collada/imageindifdir1/Textures/tex2/logo/checkerboard.png", "Textures/tex2/logo/checkerboard.png");
  CopyReal("collada/mixed_case/mixed_case.dae", "4.dae");
  CopyReal("collada/mixed_case/PASSIMAGE_mixed.PnG", "PASSIMAGE_mixed.PnG");
  // A SketchUp export, its 20 textures in a sibling folder (../files/X.jpg),
  // one of them referenced by a second image element as well.
  CopyReal("collada/cu_macky/files/CU Macky.dae", "5.dae");
  for (const auto& e : fs::directory_iterator(kmztest::RealData("collada/cu_macky/files")))
    if (e.path().extension() == ".jpg") CopyReal("collada/cu_macky/files/" + e.path().filename().string(),
                                                 "../files/" + e.path().filename().string());
  std::string macky = kmztest::ReadFile(src_ + "/5.dae");
  macky.insert(macky.find("<library_images>") + 16,
               "<image id=\"again\"><init_from>../files/roofnoCulling.jpg</init_from></image>");
  kmztest::WriteFile(src_ + "/5.dae", macky);
  for (const char* n : {"1", "2", "3", "4", "5"}) Location(n, "116.5\n39.9\n");

  const SourceCheckReport r = CheckSourceFolder(src_);
  ASSERT_EQ(r.models.size(), 5u);
  EXPECT_EQ(r.models[0].textures.at(0).path, src_ + "/With Spaces/Pass Image.png");
  EXPECT_EQ(r.models[1].textures.at(0).path, src_ + "/With Spaces/PassImage.png");
  EXPECT_EQ(r.models[2].textures.size(), 2u);
  EXPECT_EQ(r.models[4].textures.size(), 20u) << "one texture is referenced twice";
  for (const auto& m : r.models)
    for (const auto& t : m.textures) EXPECT_TRUE(t.exists) << m.modelFile << " " << t.uri;
  EXPECT_FALSE(r.HasErrors()) << Dump(r);
  EXPECT_TRUE(Has(r, ProblemSeverity::kWarning, "3.dae", "outside the texture folder")) << Dump(r);
  EXPECT_TRUE(Has(r, ProblemSeverity::kWarning, "5.dae", "/files/roofnoCulling.jpg) lies outside"));
  EXPECT_EQ(r.problems.size(), 4u + 1u + 20u) << Dump(r);

  // In its texture folder, and referenced from there, the mixed-case
  // extension is packed but will not stay a PNG in the tiles.
  std::string dae = kmztest::ReadFile(src_ + "/4.dae");
  dae.replace(dae.find("PASSIMAGE_mixed.PnG"), 19, "4/PASSIMAGE_mixed.PnG");
  kmztest::WriteFile(src_ + "/4.dae", dae);
  CopyReal("collada/mixed_case/PASSIMAGE_mixed.PnG", "4/PASSIMAGE_mixed.PnG");
  const SourceCheckReport again = CheckSourceFolder(src_);
  EXPECT_TRUE(again.models[3].textures.at(0).packed);
  EXPECT_TRUE(Has(again, ProblemSeverity::kWarning, "4.dae", "re-encoded as JPEG")) << Dump(again);
}

TEST_F(SourceCheck, TwoDotsLeavesAndReentersItsFolder) {
  src_ = Path("two_dots");
  fs::create_directories(src_);
  kmztest::WriteFile(src_ + "/doc.kml", kTemplate);
  CopyReal("collada/two_dots/two_dots.dae", "9.dae");
  CopyReal("collada/two_dots/PASSIMAGE.png", "PASSIMAGE.png");
  Location("9", "10\n20\n");
  SourceCheckReport r = CheckSourceFolder(src_);
  ASSERT_EQ(r.models.size(), 1u);
  EXPECT_TRUE(r.models[0].textures.at(0).exists) << Dump(r);
  EXPECT_FALSE(r.HasErrors()) << Dump(r);
  // Renamed in letter case only: missing here, with a hint.
  fs::rename(src_ + "/PASSIMAGE.png", src_ + "/passimage.png");
  r = CheckSourceFolder(src_);
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "9.dae", "\"passimage.png\" differs only in letter case")) << Dump(r);
}

TEST_F(SourceCheck, EveryModelProblemIsListedWithItsFile) {
  CopyReal("collada/duck/duck_triangles.dae", "1.dae");  // ./duckCM.png is absent
  Location("1", "116.5 E\nnorth\n");
  CopyReal("collada/seymour_plane/seymour_plane_triangles.dae", "2.dae");
  CopyReal("collada/seymour_plane/planeDiffuse.png", "planeDiffuse.png");
  Location("2", "500\n45\n");
  CopyReal("collada/boy_skinned/JointsInLN.dae", "3.dae");  // no location text at all
  CopyReal("collada/boy_skinned/boy_10.png", "boy_10.png");
  kmztest::WriteFile(src_ + "/3.TXT", "1\n2\n");
  kmztest::WriteFile(src_ + "/4.dae", "<COLLADA><library_images>");
  Location("4", "1\n2\n");
  kmztest::WriteFile(src_ + "/4/empty.jpg", "");
  fs::create_directories(src_ + "/4/sub");
  kmztest::WriteFile(src_ + "/5.dae", "");
  Location("5", "inf\n1\n");
  CopyReal("collada/duck/duck_triangles.dae", "6.dae");
  kmztest::WriteFile(Path("elsewhere.txt"), "116.5\n39.9\n");
  fs::create_symlink(Path("elsewhere.txt"), src_ + "/6.txt");

  const SourceCheckReport r = CheckSourceFolder(src_);
  EXPECT_EQ(r.models.size(), 6u);
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "1.dae", "\"./duckCM.png\"")) << Dump(r);
  EXPECT_TRUE(Has(r, ProblemSeverity::kWarning, "1.txt", "ignored: \"E\""));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "1.txt", "line 2 (y, latitude or northing) holds no number"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "2.txt", "neither a longitude/latitude"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "3.txt", "\"3.TXT\" differs only in letter case"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "4.dae", "not well-formed XML"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "4/empty.jpg", "is empty"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kWarning, "4/sub", "not packed"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "5.dae", "empty"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "5.txt", "not a finite number"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "6.txt", "is a symbolic link"));
  EXPECT_FALSE(Has(r, ProblemSeverity::kError, "2.dae", "")) << Dump(r);
}

TEST_F(SourceCheck, ThreadsGiveTheSameReportInTheSameOrder) {
  // Twelve models with problems of every kind, among them names the
  // listings skip (links), which are recorded apart from the report.
  for (int i = 1; i <= 12; ++i) {
    const std::string n = std::to_string(i);
    CopyReal(i % 2 ? "collada/duck/duck_triangles.dae" : "collada/seymour_plane/seymour_plane_triangles.dae", n + ".dae");
    if (i % 3) Location(n, i % 4 ? "116.5\n39.9\n" : "north\n");
    fs::create_directories(src_ + "/" + n);
    if (i % 2 == 0) CopyReal("collada/seymour_plane/planeDiffuse.png", n + "/planeDiffuse.png");
    if (i % 5 == 0) fs::create_symlink("/etc/hostname", src_ + "/" + n + "/link.png");
    if (i % 6 == 0) kmztest::WriteFile(src_ + "/" + n + "/empty.jpg", "");
  }
  const SourceCheckReport one = CheckSourceFolder(src_);
  ASSERT_EQ(one.models.size(), 12u);
  ASSERT_TRUE(Has(one, ProblemSeverity::kWarning, "5/link.png", "")) << Dump(one);
  ASSERT_TRUE(Has(one, ProblemSeverity::kError, "6/empty.jpg", "is empty")) << Dump(one);
  for (int threads : {2, 3, 5, 12, 40}) {
    const SourceCheckReport many = CheckSourceFolder(src_, threads);
    EXPECT_EQ(Lines(many, src_ + "/"), Lines(one, src_ + "/")) << threads << " threads";
    ASSERT_EQ(many.models.size(), one.models.size());
    for (std::size_t i = 0; i < one.models.size(); ++i) {
      EXPECT_EQ(many.models[i].name, one.models[i].name);
      EXPECT_EQ(many.models[i].textures.size(), one.models[i].textures.size()) << one.models[i].name;
    }
  }
}

// Each thread bounds its list of skipped names on its own: with more names
// than the bound in one chunk, the count of names not recorded depended on
// the number of threads.
TEST_F(SourceCheck, ThreadsGiveTheSameReportBeyondTheBoundOfSkippedNames) {
  const std::pair<const char*, int> links[] = {{"1", 10050}, {"2", 0}, {"3", 40}, {"4", 7}};
  for (const auto& [name, count] : links) {
    CopyReal("collada/duck/duck_triangles.dae", std::string(name) + ".dae");
    Location(name, "116.5\n39.9\n");
    fs::create_directories(src_ + "/" + name);
    for (int i = 0; i < count; ++i) fs::create_symlink("x", src_ + "/" + name + "/link" + std::to_string(i) + ".png");
  }
  const SourceCheckReport one = CheckSourceFolder(src_);
  ASSERT_TRUE(Has(one, ProblemSeverity::kWarning, "", "further problems were not recorded")) << one.problems.size();
  for (int threads : {2, 3, 4}) EXPECT_EQ(Lines(CheckSourceFolder(src_, threads), src_ + "/"), Lines(one, src_ + "/")) << threads;
}

TEST_F(SourceCheck, FolderLevelProblems) {
  SourceCheckReport r = CheckSourceFolder(Path("absent"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "absent", "not a folder"));

  fs::remove(src_ + "/doc.kml");
  kmztest::WriteFile(src_ + "/middle", "a file");
  kmztest::WriteFile(src_ + "/readme.txt", "not a model");
  r = CheckSourceFolder(src_);
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "doc.kml", "template KML is missing"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "middle", "is a file"));
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "src", "no model file"));

  kmztest::WriteFile(src_ + "/doc.kml", kmztest::ReadFile(kmztest::RealData("kmz/kml/all-altitudemodes.kml")));
  r = CheckSourceFolder(src_);
  EXPECT_TRUE(Has(r, ProblemSeverity::kError, "doc.kml", "not a <Folder>")) << Dump(r);
}

TEST_F(SourceCheck, CommandExitsOneOnlyForErrors) {
  const char* cli = std::getenv("KMZTILE_CLI");
  if (!cli) GTEST_SKIP() << "KMZTILE_CLI is not set";
  const auto run = [&](const std::string& args, std::string* out) {
    FILE* pipe = popen(("'" + std::string(cli) + "' " + args + " 2>/dev/null").c_str(), "r");
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  CopyReal("collada/alpha_tiff/alpha_transp_from_maya.dae", "house.dae");
  CopyReal("collada/alpha_tiff/AlphaTexture.tif", "AlphaTexture.tif");
  Location("house", "116.5\n39.9\n");
  std::string out;
  EXPECT_EQ(run("check --json '" + src_ + "'", &out), 0) << out;  // warnings only
  const auto doc = nlohmann::json::parse(out);
  EXPECT_EQ(doc["ok"], true);
  EXPECT_EQ(doc["errors"], 0);
  EXPECT_GE(doc["warnings"].get<int>(), 2);
  EXPECT_EQ(doc["models"][0]["textures"][0]["exists"], true);

  fs::remove(src_ + "/AlphaTexture.tif");
  out.clear();
  EXPECT_EQ(run("check '" + src_ + "'", &out), 1);
  EXPECT_NE(out.find("error: " + src_ + "/house.dae: texture \"./AlphaTexture.tif\""), std::string::npos) << out;
  EXPECT_EQ(run("check", &out), 2);
}
