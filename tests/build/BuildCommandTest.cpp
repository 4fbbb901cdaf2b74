// kmztile build end to end: the sample city becomes a tile pyramid whose
// tiles read back, every model once per level, textures shrinking with the
// level; parallel and sharded runs give the same tiles; the source folder is
// never written; an interrupted run resumes; a model the 3D Tiles converter
// refuses costs only its glb content.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "SampleCity.h"
#include "TestSupport.h"
#include "kml/dom.h"
#include "platform/Image.h"

namespace fs = std::filesystem;

namespace {

const std::string& kCity = kmztest::kSampleCity;

// Every file below a folder with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = kmztest::ReadFile(e.path().string());
  return files;
}

// What a build leaves in OUT besides its tiles and index files: anything
// else (packages, level folders, copies of the source, temporary files).
std::vector<std::string> Leftovers(const std::string& out) {
  static const std::regex allowed(
      R"(tiles(/\d+(/\d+(/\d+\.kmz)?)?)?|index(/\d+(/\d+(/\d+\.kml)?)?)?|tileset\.json|tileset-shard-\d+-of-\d+\.json|root\.kml|overview\.svg|)"
      R"(\.kmztile\.lock|\.kmztile(/[a-z0-9.-]+)?|3dtiles(/tileset\.json|/\d+(/\d+(/\d+\.(glb|json))?)?)?)");
  std::vector<std::string> left;
  for (const auto& e : fs::recursive_directory_iterator(out)) {
    const std::string name = fs::relative(e.path(), out).string();
    if (!std::regex_match(name, allowed)) left.push_back(name);
  }
  return left;
}

nlohmann::json Tileset(const std::string& out) { return nlohmann::json::parse(kmztest::ReadFile(out + "/tileset.json")); }

class BuildCommand : public kmztest::CliTempDirTest {
 protected:
  kmztest::CliRun Build(const std::string& src, const std::string& out, const std::string& extra = "") {
    return kmztest::RunCli("build '" + src + "' '" + out + "' --crs EPSG:4527 --quiet " + extra);
  }
};

}  // namespace

TEST_F(BuildCommand, SampleCityBuildsIntoAReadablePyramid) {
  const auto before = Snapshot(kCity);
  const std::string out = Path("out");
  const auto run = Build(kCity, out, "--jobs 2");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Snapshot(kCity), before) << "the source folder was written";

  const nlohmann::json tileset = Tileset(out);
  std::map<long, std::multiset<std::string>> modelsPerLevel;
  std::map<long, std::map<std::string, int>> textureWidth;  // level -> model texture -> width
  std::set<std::string> paths;
  for (const auto& t : tileset["tiles"]) {
    const std::string path = out + "/" + t["path"].get<std::string>();
    paths.insert(t["path"].get<std::string>());
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    ASSERT_TRUE(CBaseParser::ReadKmzToList(path, names, contents, locations)) << path;
    EXPECT_EQ(static_cast<long>(locations.size()), t["models"].get<long>()) << path;
    EXPECT_EQ(fs::file_size(path), t["bytes"].get<uint64_t>());
    const long level = t["level"].get<long>();
    for (const auto& [href, loc] : locations) {
      modelsPerLevel[level].insert(href);
      EXPECT_GE(loc.Lon, t["bounds"]["west"].get<double>());
      EXPECT_LT(loc.Lon, t["bounds"]["east"].get<double>());
    }
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i].size() > 4 && names[i].compare(names[i].size() - 4, 4, ".jpg") == 0) {
        kmztile::platform::Image image(contents[i].data(), contents[i].size(), 3);
        if (image.IsValid()) textureWidth[level][names[i]] = static_cast<int>(image.GetWidth());
      }
    }
  }
  ASSERT_EQ(modelsPerLevel.size(), 4u);
  const long models = tileset["settings"]["models"].get<long>();
  EXPECT_EQ(models, 303);
  for (const auto& [level, hrefs] : modelsPerLevel) {
    EXPECT_EQ(static_cast<long>(hrefs.size()), models) << "level " << level;
    EXPECT_EQ(std::set<std::string>(hrefs.begin(), hrefs.end()).size(), hrefs.size()) << "a model twice at " << level;
  }
  // The same texture is half as wide one level up.
  int compared = 0;
  for (const auto& [name, width18] : textureWidth[18]) {
    const auto at17 = textureWidth[17].find(name);
    if (at17 == textureWidth[17].end() || width18 < 32) continue;
    EXPECT_EQ(at17->second, width18 / 2) << name;
    ++compared;
  }
  EXPECT_GT(compared, 20);

  // From root.kml, following the links from file to file as a client does,
  // every tile is reached exactly once and every file parses.
  std::multiset<std::string> reached;
  std::vector<fs::path> files = {fs::path(out) / "root.kml"};
  static const std::regex href("<href>([^<]+)</href>");
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string text = kmztest::ReadFile(files[i].string());
    ASSERT_TRUE(kmldom::Parse(text, nullptr)) << files[i];
    for (std::sregex_iterator m(text.begin(), text.end(), href), end; m != end; ++m) {
      const fs::path target = (files[i].parent_path() / (*m)[1].str()).lexically_normal();
      if (target.extension() == ".kml") files.push_back(target);
      else reached.insert(fs::relative(target, out).string());
    }
  }
  EXPECT_EQ(reached, std::multiset<std::string>(paths.begin(), paths.end()));
  EXPECT_TRUE(fs::exists(out + "/overview.svg"));
}

// Models exactly on tile edges and corners (these lie on the grid of every
// level from 9 on) are in exactly one tile of each level: the plan and the
// tile selection put them into the same tile.
TEST_F(BuildCommand, ModelsOnTileEdgesAreInExactlyOneTilePerLevel) {
  const std::string src = Path("city");
  kmztest::CopySmallCity(src, 4);
  kmztest::WriteFile(src + "/0001.txt", "115.3125\r\n40.078125\r\n");    // a corner
  kmztest::WriteFile(src + "/0003.txt", "115.3125\r\n40.0793\r\n");      // a west/east edge
  kmztest::WriteFile(src + "/0004.txt", "115.313\r\n40.078125\r\n");     // a north/south edge
  const std::string out = Path("out");
  const auto run = Build(src, out);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::map<long, std::multiset<std::string>> modelsPerLevel;
  const nlohmann::json tileset = Tileset(out);
  for (const auto& t : tileset["tiles"]) {
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    ASSERT_TRUE(CBaseParser::ReadKmzToList(out + "/" + t["path"].get<std::string>(), names, contents, locations));
    for (const auto& [href, loc] : locations) modelsPerLevel[t["level"].get<long>()].insert(href);
  }
  ASSERT_EQ(modelsPerLevel.size(), 4u);
  for (const auto& [level, hrefs] : modelsPerLevel) {
    EXPECT_EQ(hrefs.size(), 4u) << "level " << level;
    EXPECT_EQ(std::set<std::string>(hrefs.begin(), hrefs.end()).size(), 4u) << "level " << level;
  }
}

// A grid given as a PROJ string is the grid EPSG:4527 names (CGCS2000,
// 3-degree Gauss-Kruger zone 39): accepted like any definition packaging
// accepts, and the same tiles.
TEST_F(BuildCommand, APROJStringGridGivesTheTilesOfItsEPSGCode) {
  const std::string src = Path("city");
  kmztest::CopySmallCity(src, 6);
  ASSERT_EQ(Build(src, Path("epsg")).exitCode, 0);
  const auto run = kmztest::RunCli("build '" + src + "' '" + Path("proj") +
                                   "' --quiet --crs '+proj=tmerc +lat_0=0 +lon_0=117 +k=1 +x_0=39500000 +y_0=0 "
                                   "+ellps=GRS80 +units=m +no_defs'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Snapshot(Path("proj/tiles")), Snapshot(Path("epsg/tiles")));
}

// Shards: merge names the shards that have not finished until all have; the
// last one here takes its place from a Slurm array's environment (tasks
// 4, 6, 8: task 8 is shard 3 of 3). A shard's tiles do not depend on the
// levels built: shard K of levels 16-18 builds shard K's tiles of 15-18
// without level 15.
TEST_F(BuildCommand, JobsAndShardsGiveTheSameTilesAsOneProcess) {
  const std::string src = Path("city");
  kmztest::CopySmallCity(src, 40);
  const std::string both = " --format kmz,3dtiles";
  ASSERT_EQ(Build(src, Path("one"), "--jobs 1" + both).exitCode, 0);
  ASSERT_EQ(Build(src, Path("two"), "--jobs 2" + both).exitCode, 0);
  const std::string mergeShards = "merge '" + Path("shards") + "'";
  for (int k = 1; k <= 2; ++k)
    ASSERT_EQ(Build(src, Path("shards"), "--shard " + std::to_string(k) + "/3" + both).exitCode, 0);
  auto merge = kmztest::RunCli(mergeShards);
  EXPECT_EQ(merge.exitCode, 1);
  EXPECT_NE(merge.err.find("1 of 3 shards have not finished: 3/3"), std::string::npos) << merge.err;
  EXPECT_FALSE(fs::exists(Path("shards/tileset.json")));
  const std::map<std::string, std::string> array = {{"SLURM_ARRAY_TASK_ID", "8"}, {"SLURM_ARRAY_TASK_MIN", "4"},
                                                    {"SLURM_ARRAY_TASK_MAX", "8"}, {"SLURM_ARRAY_TASK_STEP", "2"},
                                                    {"SLURM_ARRAY_TASK_COUNT", "3"}};
  for (const auto& [name, value] : array) setenv(name.c_str(), value.c_str(), 1);
  const auto automatic = Build(src, Path("shards"), "--shard auto" + both);
  for (const auto& [name, value] : array) unsetenv(name.c_str());
  ASSERT_EQ(automatic.exitCode, 0) << automatic.err;
  merge = kmztest::RunCli(mergeShards);
  ASSERT_EQ(merge.exitCode, 0) << merge.err;
  // The levels property, for every shard that has tiles.
  int shardsWithTiles = 0;
  for (int k = 1; k <= 3; ++k) {
    const std::string share = std::to_string(k) + "-of-3";
    std::map<std::string, std::string> expected;  // tiles/L/R/C.kmz of levels 16-18 -> ""
    const auto record = nlohmann::json::parse(kmztest::ReadFile(Path("shards/tileset-shard-" + share + ".json")));
    for (const auto& t : record["tiles"])
      if (t["level"] != 15) expected[t["path"].get<std::string>().substr(std::string("tiles/").size())] = "";
    if (expected.empty()) continue;
    ++shardsWithTiles;
    ASSERT_EQ(Build(src, Path(share), "--shard " + std::to_string(k) + "/3 --levels 16-18").exitCode, 0);
    auto built = Snapshot(Path(share + "/tiles"));
    for (auto& [path, bytes] : built) bytes.clear();
    EXPECT_EQ(built, expected) << "shard " << k << "/3 of --levels 16-18";
  }
  EXPECT_GE(shardsWithTiles, 2);

  const auto one = Snapshot(Path("one/tiles"));
  ASSERT_GT(one.size(), 20u);
  EXPECT_EQ(Snapshot(Path("two/tiles")), one);
  // The source is checked and fingerprinted on as many threads as jobs: the
  // catalog a rerun compares against is the same.
  EXPECT_EQ(kmztest::ReadFile(Path("two/.kmztile/catalog.jsonl")), kmztest::ReadFile(Path("one/.kmztile/catalog.jsonl")));
  EXPECT_EQ(Snapshot(Path("shards/tiles")), one);
  // The 3D Tiles too, tilesets included: the merge joins the shards' glb records.
  const auto glb = Snapshot(Path("one/3dtiles"));
  ASSERT_GT(glb.size(), one.size());
  EXPECT_EQ(Snapshot(Path("two/3dtiles")), glb);
  EXPECT_EQ(Snapshot(Path("shards/3dtiles")), glb);
  EXPECT_EQ(Tileset(Path("two"))["tiles"], Tileset(Path("one"))["tiles"]);
  EXPECT_EQ(Tileset(Path("shards"))["tiles"], Tileset(Path("one"))["tiles"]);
  // No packages, level folders, copies or temporary files, whatever the kind of run.
  for (const char* out : {"one", "two", "shards"}) EXPECT_EQ(Leftovers(Path(out)), std::vector<std::string>{}) << out;
}

TEST_F(BuildCommand, AnInterruptedBuildResumesWithTheMissingTiles) {
  const std::string src = Path("city");
  kmztest::CopySmallCity(src, 12);
  const std::string out = Path("out");
  ASSERT_EQ(Build(src, out).exitCode, 0);
  const auto full = Snapshot(out + "/tiles");
  // Lose some tiles, as a killed run would, then build again.
  int removed = 0;
  for (const auto& [name, bytes] : full)
    if (removed < 5 && name.rfind("18/", 0) == 0) fs::remove(out + "/tiles/" + name), ++removed;
  const std::string marker = out + "/tiles/" + full.begin()->first;
  const auto stampBefore = fs::last_write_time(marker);
  ASSERT_EQ(Build(src, out).exitCode, 0);
  EXPECT_EQ(Snapshot(out + "/tiles"), full);
  EXPECT_EQ(fs::last_write_time(marker), stampBefore) << "an existing tile was built again";
}

// A COLLADA file the converter cannot turn into meshes (lines only) is no
// reason to lose its KMZ tiles: it is left out of the glb tiles alone, named,
// and the run fails; every tile still has both files and the tileset lists them.
TEST_F(BuildCommand, AModelTheConverterRefusesIsLeftOutOfTheGlbTilesOnly) {
  const std::string src = Path("city"), out = Path("out");
  kmztest::CopySmallCity(src, 3);
  const std::string lines = R"(<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
<asset><unit meter="1"/><up_axis>Z_UP</up_axis></asset>
<library_geometries><geometry id="g"><mesh>
<source id="p"><float_array id="pa" count="6">0 0 0 0 10 0</float_array>
<technique_common><accessor source="#pa" count="2" stride="3"><param name="X" type="float"/>
<param name="Y" type="float"/><param name="Z" type="float"/></accessor></technique_common></source>
<vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
<lines count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1</p></lines>
</mesh></geometry></library_geometries>
<library_visual_scenes><visual_scene id="s"><node id="n"><instance_geometry url="#g"/></node></visual_scene>
</library_visual_scenes><scene><instance_visual_scene url="#s"/></scene></COLLADA>)";
  kmztest::WriteFile(src + "/0002.dae", lines);
  const auto run = Build(src, out, "--format kmz,3dtiles");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("0002.dae: the 3D Tiles output leaves the model out"), std::string::npos) << run.err;
  std::set<std::string> kmz, glb;
  for (const auto& [name, bytes] : Snapshot(out + "/tiles")) kmz.insert(name.substr(0, name.size() - 4));
  for (const auto& [name, bytes] : Snapshot(out + "/3dtiles"))
    if (name.size() > 4 && name.substr(name.size() - 4) == ".glb") glb.insert(name.substr(0, name.size() - 4));
  EXPECT_EQ(glb, kmz);
  EXPECT_GE(kmz.size(), 4u);
  EXPECT_TRUE(fs::exists(out + "/3dtiles/tileset.json"));
}

TEST_F(BuildCommand, RefusesBadArgumentsBeforeAnyWork) {
  const std::string src = Path("city");
  kmztest::CopySmallCity(src, 2);
  EXPECT_EQ(kmztest::RunCli("build '" + Path("missing") + "' '" + Path("out") + "'").exitCode, 2);
  EXPECT_EQ(Build(src, Path("out"), "--levels 12-18").exitCode, 2);
  EXPECT_EQ(Build(src, Path("out"), "--levels banana").exitCode, 2);
  EXPECT_EQ(kmztest::RunCli("build '" + src + "' '" + Path("out") + "' --crs EPSG:999999").exitCode, 2);
  EXPECT_EQ(Build(src, Path("out"), "--shard 4/3").exitCode, 2);
  unsetenv("SLURM_ARRAY_TASK_ID");  // in case the suite itself runs as a scheduler's task
  unsetenv("JOB_COMPLETION_INDEX");
  const auto noScheduler = Build(src, Path("out"), "--shard auto");
  EXPECT_EQ(noScheduler.exitCode, 2);
  EXPECT_NE(noScheduler.err.find("--shard auto: "), std::string::npos) << noScheduler.err;
  EXPECT_EQ(Build(src, Path("out"), "--shard 1/3 --shards 3").exitCode, 2);
  for (const char* format : {"gltf", "3dtiles", "kmz,kmz", "kmz,", ""})
    EXPECT_EQ(Build(src, Path("out"), std::string("--format '") + format + "'").exitCode, 2) << format;
  EXPECT_FALSE(fs::exists(Path("out")));
}

TEST_F(BuildCommand, GridLocationsWithoutACoordinateSystemAreAClearError) {
  const std::string src = Path("city");
  kmztest::CopySmallCity(src, 2);  // 0002 is located in grid coordinates
  const auto run = kmztest::RunCli("build '" + src + "' '" + Path("out") + "' --quiet");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("--crs"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(Path("out/tiles")));
}

// A model without a usable location was left out with a warning and exit 0;
// now it is named, left out of the tiles, the rest is built, and the run exits 1.
TEST_F(BuildCommand, AModelWithoutAUsableLocationIsNamedAndLeftOut) {
  const std::string src = Path("city");
  kmztest::CopySmallCity(src, 6);
  kmztest::WriteFile(src + "/0003.txt", "not a number\r\nnan\r\n");  // no usable location
  const auto run = Build(src, Path("out"));
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find(src + "/0003.txt"), std::string::npos) << run.err;
  EXPECT_EQ(Tileset(Path("out"))["settings"]["models"].get<long>(), 5) << run.err;
}

// The build reads the source folder and never writes it; an output folder
// inside the source folder is not read as source.
TEST_F(BuildCommand, AnOutputInsideTheSourceIsNoSourceAndTheSourceIsNeverWritten) {
  const std::string src = Path("city");
  kmztest::CopySmallCity(src, 6);
  const auto before = Snapshot(src);
  const std::string out = src + "/out";
  for (int run = 0; run < 2; ++run) {
    const auto result = Build(src, out);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(Tileset(out)["settings"]["models"].get<long>(), 6);
  }
  EXPECT_EQ(Leftovers(out), std::vector<std::string>{});
  auto after = Snapshot(src);
  for (auto it = after.begin(); it != after.end();) it = it->first.rfind("out/", 0) == 0 ? after.erase(it) : ++it;
  EXPECT_EQ(after, before) << "the source folder was written";
}
