// What kmztile build does with one bad file in an otherwise good source
// folder, case by case from a table: which file it names and why, whether
// the model still reaches the tiles, and the exit code. The policy: build
// everything else, name each problem with its file, exit 1 when a model or
// a file of it was left out; --strict stops at the first problem.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "SampleCity.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

// A model's COLLADA file without any texture: its images and their use removed.
std::string WithoutTextures(std::string dae) {
  dae = std::regex_replace(dae, std::regex(R"(<library_images>[\s\S]*?</library_images>)"), "");
  dae = std::regex_replace(dae, std::regex(R"(<newparam[\s\S]*?</newparam>)"), "");
  return std::regex_replace(dae, std::regex(R"(<texture texture="[^"]*" texcoord="[^"]*"/>)"),
                            "<color>0.6 0.6 0.6 1</color>");
}

struct BadSourceCase {
  const char* name;
  std::function<void(const std::string& src)> spoil;
  const char* file;    ///< the file the build must name, relative to the source folder ("" for none)
  const char* reason;  ///< a part of the reason it must give
  int exitCode;
  bool modelInTiles;   ///< whether model 0003 is still in the tiles
  bool unprivileged = false;  ///< run as an unprivileged user: file permissions do not stop root
};

const BadSourceCase kCases[] = {
    {"unreadable COLLADA", [](const std::string& s) { kmztest::WriteFile(s + "/0003.dae", "<COLLADA><asset>"); },
     "0003.dae", "the model file is unusable", 1, false},
    {"garbage location", [](const std::string& s) { kmztest::WriteFile(s + "/0003.txt", "north\nof the river\n"); },
     "0003.txt", "holds no number", 1, false},
    {"texture that does not decode",
     [](const std::string& s) { kmztest::WriteFile(s + "/0003/facade.tif", "these bytes are no TIFF"); },
     "0003/facade.tif", "does not decode", 1, true},
    {"model without textures",
     [](const std::string& s) {
       kmztest::WriteFile(s + "/0003.dae", WithoutTextures(kmztest::ReadFile(s + "/0003.dae")));
       fs::remove_all(s + "/0003");
     },
     "", "", 0, true},
    {"missing texture", [](const std::string& s) { fs::remove(s + "/0003/facade.tif"); }, "0003.dae",
     "0003/facade.tif is missing", 1, false},
    {"location text without read permission", [](const std::string& s) { chmod((s + "/0003.txt").c_str(), 0); },
     "0003.txt", "Permission denied", 1, false, true},
    {"texture without read permission", [](const std::string& s) { chmod((s + "/0003/facade.tif").c_str(), 0); },
     "0003/facade.tif", "Permission denied", 1, true, true},
};

// Runs the command as the unprivileged user "nobody" when the tests run as
// root, for whom no permission is ever missing; empty when not needed or
// not possible.
std::string Unprivileged() {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) return "";
  return "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups";
}

class BadSource : public kmztest::CliTempDirTest {
 protected:
  kmztest::CliRun Build(const std::string& src, const std::string& out, const std::string& extra = "",
                        const std::string& launcher = "") {
    return kmztest::RunCli("build '" + src + "' '" + out + "' --crs EPSG:4527 --levels 18 --quiet " + extra, launcher);
  }
};

// The model ids the tiles of a build place.
std::set<long> ModelsInTiles(const std::string& out) {
  std::set<long> ids;
  if (!fs::exists(out + "/tiles")) return ids;
  for (const auto& e : fs::recursive_directory_iterator(out + "/tiles")) {
    if (e.path().extension() != ".kmz") continue;
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    EXPECT_TRUE(CBaseParser::ReadKmzToList(e.path().string(), names, contents, locations)) << e.path();
    for (const auto& [href, where] : locations) ids.insert(where.ID);
  }
  return ids;
}

// The problem lines of a run: "kmztile build: ...FILE: reason" naming a file of the source.
std::vector<std::string> ProblemLines(const std::string& err, const std::string& src) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (line.find(src + "/") != std::string::npos) lines.push_back(line);
  return lines;
}

}  // namespace

TEST_F(BadSource, EachBadFileIsNamedWithItsReasonAndEverythingElseIsBuilt) {
  for (const BadSourceCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string launcher = c.unprivileged ? Unprivileged() : "";
    if (c.unprivileged && geteuid() == 0 && launcher.empty()) {
      std::printf("skipped as root without setpriv (permissions do not stop root): %s\n", c.name);
      continue;
    }
    // The unprivileged user writes the output folders beside the source.
    if (!launcher.empty()) fs::permissions(Path(), fs::perms::all);
    const std::string src = Path(std::string("src-") + std::to_string(&c - kCases));
    const std::string out = src + "-out";
    kmztest::CopySmallCity(src, 4);
    c.spoil(src);
    const auto Build = [this, &launcher](const std::string& from, const std::string& to, const std::string& extra = "") {
      return BadSource::Build(from, to, extra, launcher);
    };

    const auto run = Build(src, out);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    const auto problems = ProblemLines(run.err, src);
    if (*c.file) {
      // The bad file is named, with the reason; no other file is.
      const std::string named = src + "/" + c.file + ": ";
      bool found = false;
      for (const auto& line : problems) {
        EXPECT_NE(line.find(src + "/0003"), std::string::npos) << "another file is named: " << line;
        found = found || (line.find(named) != std::string::npos && line.find(c.reason) != std::string::npos);
      }
      EXPECT_TRUE(found) << "expected " << named << "..." << c.reason << " in:\n" << run.err;
      // A model the check leaves out is described by the check alone: the
      // stages after it say nothing more of its files.
      if (!c.modelInTiles) {
        const std::string checked = kmztest::RunCli("check '" + src + "'", launcher).out;
        const auto json = nlohmann::json::parse(Build(src, out + "-json", "--json").out, nullptr, false);
        ASSERT_TRUE(json.is_object());
        for (const auto& dropped : json.value("dropped", nlohmann::json::array())) {
          const std::string entry = dropped.get<std::string>();
          EXPECT_NE(checked.find(entry.substr(0, entry.find("; model "))), std::string::npos)
              << "named by the build, not by the check: " << entry << "\ncheck:\n" << checked;
        }
      }
    } else {
      EXPECT_EQ(problems, std::vector<std::string>{}) << run.err;
    }
    // Every other model is built; model 0003 only when it could be kept.
    std::set<long> expected = {1, 2, 4};
    if (c.modelInTiles) expected.insert(3);
    EXPECT_EQ(ModelsInTiles(out), expected) << run.err;

    // A second run names the problem again and still fails: nothing is forgotten.
    const auto again = Build(src, out);
    EXPECT_EQ(again.exitCode, c.exitCode) << again.err;
    if (*c.file) {
      EXPECT_NE(again.err.find(src + "/" + c.file), std::string::npos) << again.err;
    }

    // --strict stops at the first problem, naming it: a problem of the
    // source folder before anything is written, one found while reading a
    // tile's files before any other area is started.
    const auto strict = Build(src, src + "-strict", "--strict");
    EXPECT_EQ(strict.exitCode, c.exitCode) << strict.err;
    if (*c.file) {
      EXPECT_NE(strict.err.find(src + "/" + c.file), std::string::npos) << strict.err;
      EXPECT_NE(strict.err.find("--strict"), std::string::npos) << strict.err;
      if (!c.modelInTiles) {
        EXPECT_FALSE(fs::exists(src + "-strict/tiles")) << "--strict wrote tiles";
      }
    }
  }
}
