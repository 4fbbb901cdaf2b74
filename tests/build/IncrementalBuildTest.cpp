// Reruns of kmztile build against its catalog: after models are edited,
// moved, added or removed exactly the tiles that held them before or hold
// them now are built again and tiles left without models are removed; a
// changed setting rebuilds everything; a build killed during the tile stage
// and run again ends byte-identical to an uninterrupted one. In every case
// the tiles equal those of a fresh build of the same source. The glb tiles
// of a build with 3D Tiles follow their KMZ tiles through all of it.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <map>
#include <set>
#include <thread>

#include "SampleCity.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
extern char** environ;

namespace {

const std::string& kCity = kmztest::kSampleCity;

struct TileFile {
  std::string bytes;
  ino_t inode = 0;
  long long mtimeNs = 0;
};

// Every file below OUT/FOLDER (the tiles, or the 3D Tiles) with its bytes and identity on disk.
std::map<std::string, TileFile> Tiles(const std::string& out, const std::string& folder = "tiles") {
  std::map<std::string, TileFile> tiles;
  if (!fs::exists(out + "/" + folder)) return tiles;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(out + "/" + folder, ec), end; !ec && it != end; it.increment(ec)) {
    const auto& e = *it;
    if (!e.is_regular_file(ec)) continue;
    // Read without asserting: while a build runs, a temporary file may be renamed away meanwhile.
    struct stat st {};
    std::ifstream in(e.path(), std::ios::binary);
    if (stat(e.path().c_str(), &st) != 0 || !in) continue;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    tiles[fs::relative(e.path(), out + "/" + folder).string()] = {bytes.str(), st.st_ino,
                                                              st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  }
  return tiles;
}

std::map<std::string, std::string> Bytes(const std::map<std::string, TileFile>& tiles) {
  std::map<std::string, std::string> bytes;
  for (const auto& [path, t] : tiles) bytes[path] = t.bytes;
  return bytes;
}

// Tiles holding model @p stem: its files sit below "models<stem>/" in the archive.
std::set<std::string> Holding(const std::map<std::string, TileFile>& tiles, const std::string& stem) {
  std::set<std::string> holding;
  for (const auto& [path, t] : tiles)
    if (t.bytes.find("models" + stem + "/") != std::string::npos) holding.insert(path);
  return holding;
}

// Tiles that were written again or removed between two snapshots, and new ones.
std::set<std::string> Touched(const std::map<std::string, TileFile>& before, const std::map<std::string, TileFile>& after) {
  std::set<std::string> touched;
  for (const auto& [path, t] : before) {
    const auto it = after.find(path);
    if (it == after.end() || it->second.inode != t.inode || it->second.mtimeNs != t.mtimeNs) touched.insert(path);
  }
  for (const auto& [path, t] : after)
    if (!before.count(path)) touched.insert(path);
  return touched;
}

class IncrementalBuild : public kmztest::CliTempDirTest {
 protected:
  kmztest::CliRun Build(const std::string& src, const std::string& out, const std::string& extra = "--crs EPSG:4527") {
    return kmztest::RunCli("build '" + src + "' '" + out + "' --quiet " + extra);
  }
  // Builds @p src afresh into a new folder and returns its tiles.
  std::map<std::string, std::string> Fresh(const std::string& src, const std::string& extra = "--crs EPSG:4527") {
    const std::string out = Path("fresh" + std::to_string(++fresh_));
    EXPECT_EQ(Build(src, out, extra).exitCode, 0);
    return Bytes(Tiles(out));
  }
  int fresh_ = 0;
};

}  // namespace

TEST_F(IncrementalBuild, EditedMovedAddedAndRemovedModelsRebuildExactlyTheirTiles) {
  const std::string src = Path("city"), out = Path("out");
  kmztest::CopySmallCity(src, 12);
  ASSERT_EQ(Build(src, out).exitCode, 0);

  struct Edit {
    const char* what;
    std::vector<std::string> stems;  // the models it concerns
    std::function<void()> apply;
  };
  const std::vector<Edit> edits = {
      {"a texture edited", {"0003"},
       [&] {
         for (const auto& e : fs::directory_iterator(src + "/0003")) {
           std::string bytes = kmztest::ReadFile(e.path().string());
           kmztest::WriteFile(e.path().string(), bytes + "trailing bytes");  // still decodes
           break;
         }
       }},
      {"a model moved far away", {"0005"}, [&] { kmztest::WriteFile(src + "/0005.txt", "116.5\r\n40.1\r\n"); }},
      {"a model added", {"0013"},
       [&] {
         fs::copy_file(kCity + "/0013.dae", src + "/0013.dae");
         fs::copy_file(kCity + "/0013.txt", src + "/0013.txt");
         fs::copy(kCity + "/0013", src + "/0013", fs::copy_options::recursive);
       }},
      {"a model removed", {"0007"}, [&] { fs::remove(src + "/0007.dae"); }},
  };
  for (const auto& edit : edits) {
    const auto before = Tiles(out);
    edit.apply();
    const auto run = kmztest::RunCli("build '" + src + "' '" + out + "' --crs EPSG:4527 --json");
    ASSERT_EQ(run.exitCode, 0) << edit.what << ": " << run.err;
    const auto after = Tiles(out);
    std::set<std::string> expected;
    for (const auto& stem : edit.stems) {
      for (const auto& p : Holding(before, stem)) expected.insert(p);
      for (const auto& p : Holding(after, stem)) expected.insert(p);
    }
    ASSERT_FALSE(expected.empty()) << edit.what;
    EXPECT_EQ(Touched(before, after), expected) << edit.what;
    EXPECT_EQ(Bytes(after), Fresh(src)) << edit.what << ": the rerun differs from a fresh build";
    EXPECT_NE(run.out.find("\"models_changed\": 1"), std::string::npos) << edit.what << run.out;
  }
}

TEST_F(IncrementalBuild, ChangedSettingsLeaveNoOldTileBehind) {
  const std::string src = Path("city"), out = Path("out");
  kmztest::CopySmallCity(src, 8);  // grid and lon/lat models
  ASSERT_EQ(Build(src, out).exitCode, 0);
  // Another zone puts the grid models elsewhere: their old tiles must go.
  ASSERT_EQ(Build(src, out, "--crs EPSG:4526").exitCode, 0);
  EXPECT_EQ(Bytes(Tiles(out)), Fresh(src, "--crs EPSG:4526"));
  ASSERT_EQ(Build(src, out, "--crs EPSG:4526 --levels 17-18").exitCode, 0);
  EXPECT_EQ(Bytes(Tiles(out)), Fresh(src, "--crs EPSG:4526 --levels 17-18"));
  // A new template changes every model's placemark.
  std::string doc = kmztest::ReadFile(src + "/doc.kml");
  doc.replace(doc.find("<name>Model</name>"), 18, "<name>Model</name><description>new</description>");
  kmztest::WriteFile(src + "/doc.kml", doc);
  const auto before = Tiles(out);
  ASSERT_EQ(Build(src, out, "--crs EPSG:4526 --levels 17-18").exitCode, 0);
  const auto after = Tiles(out);
  EXPECT_EQ(Touched(before, after).size(), before.size());
  EXPECT_EQ(Bytes(after), Fresh(src, "--crs EPSG:4526 --levels 17-18"));
}

TEST_F(IncrementalBuild, ABuildKilledDuringTheTileStageResumesToTheSameTiles) {
  const std::string out = Path("out");
  const std::string cli = std::getenv("KMZTILE_CLI");
  std::vector<std::string> args = {cli, "build", kCity, out, "--crs", "EPSG:4527", "--quiet", "--jobs", "1"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, cli.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  // Killed once some tiles are written, well before the last.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(600);
  while (Tiles(out).size() < 40 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the build finished before it could be killed";
  auto partial = Tiles(out);
  ASSERT_GE(partial.size(), 40u);
  // A write cut short by the kill, as it would be left: a temporary file of a process gone.
  const auto cut = std::prev(partial.end());
  kmztest::WriteFile(out + "/tiles/" + cut->first + "." + std::to_string(pid) + ".partial", "cut short");

  const auto run = kmztest::RunCli("build '" + kCity + "' '" + out + "' --crs EPSG:4527 --json");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto resumed = Tiles(out);
  EXPECT_EQ(Bytes(resumed), Fresh(kCity));
  for (const auto& [path, t] : partial) {
    if (path.find(".partial") != std::string::npos) continue;  // a write the kill cut short
    ASSERT_TRUE(resumed.count(path)) << path;
    EXPECT_EQ(resumed.at(path).inode, t.inode) << path << " was built twice";
  }
  for (const auto& e : fs::recursive_directory_iterator(out))
    EXPECT_EQ(e.path().filename().string().find(".partial"), std::string::npos) << e.path();
}

// "L/R/C.glb" for each "L/R/C.kmz".
std::set<std::string> AsGlb(const std::set<std::string>& kmz) {
  std::set<std::string> glb;
  for (const auto& path : kmz) glb.insert(path.substr(0, path.size() - 4) + ".glb");
  return glb;
}

TEST_F(IncrementalBuild, GlbTilesFollowTheirKmzTilesThroughReruns) {
  const std::string src = Path("city"), out = Path("out");
  const std::string both = "--crs EPSG:4527 --format kmz,3dtiles";
  kmztest::CopySmallCity(src, 12);
  ASSERT_EQ(Build(src, out).exitCode, 0);
  // Asking for 3D Tiles later builds the glbs and leaves the KMZ tiles alone.
  auto kmz = Tiles(out);
  auto run = Build(src, out, both);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Touched(kmz, Tiles(out)), std::set<std::string>{});
  std::set<std::string> kmzNames, glbNames;
  for (const auto& [path, t] : kmz) kmzNames.insert(path);
  for (const auto& [path, t] : Tiles(out, "3dtiles"))
    if (path.size() > 4 && path.substr(path.size() - 4) == ".glb") glbNames.insert(path);
  EXPECT_EQ(glbNames, AsGlb(kmzNames));

  // A rerun that changed nothing writes nothing, tilesets included.
  auto glb = Tiles(out, "3dtiles");
  ASSERT_EQ(Build(src, out, both).exitCode, 0);
  EXPECT_EQ(Touched(kmz, Tiles(out)), std::set<std::string>{});
  EXPECT_EQ(Touched(glb, Tiles(out, "3dtiles")), std::set<std::string>{});

  // A glb lost, as a run killed between a tile's two files leaves it, is
  // built again alone, byte for byte; its KMZ tile stays as it is.
  const std::string lost = *glbNames.rbegin();
  fs::remove(out + "/3dtiles/" + lost);
  ASSERT_EQ(Build(src, out, both).exitCode, 0);
  EXPECT_EQ(Touched(kmz, Tiles(out)), std::set<std::string>{});
  EXPECT_EQ(Touched(glb, Tiles(out, "3dtiles")), std::set<std::string>{lost});
  EXPECT_EQ(Bytes(Tiles(out, "3dtiles")), Bytes(glb));
  glb = Tiles(out, "3dtiles");

  // An edited texture and a model moved away: the glbs of exactly the tiles
  // that held or hold them change, and the 3D Tiles equal a fresh build's.
  const std::vector<std::pair<std::string, std::function<void()>>> edits = {
      {"0003",
       [&] {
         for (const auto& e : fs::directory_iterator(src + "/0003")) {
           kmztest::WriteFile(e.path().string(), kmztest::ReadFile(e.path().string()) + "trailing bytes");
           break;
         }
       }},
      {"0005", [&] { kmztest::WriteFile(src + "/0005.txt", "116.5\r\n40.1\r\n"); }},
  };
  for (const auto& [stem, apply] : edits) {
    kmz = Tiles(out);
    glb = Tiles(out, "3dtiles");
    apply();
    run = Build(src, out, both);
    ASSERT_EQ(run.exitCode, 0) << stem << ": " << run.err;
    const auto kmzAfter = Tiles(out);
    auto expected = Holding(kmz, stem);
    for (const auto& p : Holding(kmzAfter, stem)) expected.insert(p);
    ASSERT_FALSE(expected.empty()) << stem;
    EXPECT_EQ(Touched(kmz, kmzAfter), expected) << stem;
    std::set<std::string> glbTouched;
    for (const auto& path : Touched(glb, Tiles(out, "3dtiles")))
      if (path.substr(path.size() - 4) == ".glb") glbTouched.insert(path);
    EXPECT_EQ(glbTouched, AsGlb(expected)) << stem;
    const std::string fresh = Path("fresh-" + stem);
    ASSERT_EQ(Build(src, fresh, both).exitCode, 0);
    EXPECT_EQ(Bytes(Tiles(out, "3dtiles")), Bytes(Tiles(fresh, "3dtiles"))) << stem << ": the rerun differs from a fresh build";
  }

  // Without 3D Tiles, a build leaves none behind to fall out of date.
  ASSERT_EQ(Build(src, out).exitCode, 0);
  EXPECT_FALSE(fs::exists(out + "/3dtiles"));
}
