// kmztile build when the system fails it: every kind of operation of a whole
// build (open, write, rename, folder operations, forks) fails in turn through
// the fault-injection seam, and a worker process is killed. Each run either
// fails with exit 1 and a message naming the file or tile, or shrugs the
// fault off with output equal to an undisturbed build; no run leaves a
// damaged or temporary file under a final name, and a rerun without faults
// gives exactly the undisturbed build.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "BaseParser.h"
#include "SampleCity.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

// The output folder's files but the build's own state, with their bytes.
std::map<std::string, std::string> Outputs(const std::string& out) {
  std::map<std::string, std::string> files;
  if (!fs::exists(out)) return files;
  for (const auto& e : fs::recursive_directory_iterator(out)) {
    const std::string name = fs::relative(e.path(), out).string();
    if (e.is_regular_file() && name.rfind(".kmztile", 0) != 0) files[name] = kmztest::ReadFile(e.path().string());
  }
  return files;
}

// Whether an index file is complete: JSON that parses, KML or SVG that ends with its root's closing tag.
bool Whole(const std::string& name, const std::string& bytes) {
  const auto endsWith = [&bytes](const std::string& tail) {
    return bytes.size() >= tail.size() && bytes.compare(bytes.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0)
    return nlohmann::json::accept(bytes);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".kml") == 0) return endsWith("</kml>\n");
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".svg") == 0) return endsWith("</svg>\n");
  return false;
}

// Whether a tile archive reads back whole.
bool ReadsBack(const std::string& bytes) {
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  return CBaseParser::ReadKmzToList(bytes, names, contents, locations) && !locations.empty();
}

// Sets an environment variable for the runs of one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~ScopedEnv() { unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
};

class BuildFaults : public kmztest::CliTempDirTest {
 protected:
  void SetUp() override {
    kmztest::CliTempDirTest::SetUp();
    if (IsSkipped()) return;
    src_ = Path("src");
    kmztest::CopySmallCity(src_, 3);
  }
  kmztest::CliRun Build(const std::string& out, const std::string& extra = "--jobs 1 --levels 17-18") {
    return kmztest::RunCli("build '" + src_ + "' '" + out + "' --crs EPSG:4527 --quiet " + extra);
  }
  // How many operations of KIND an undisturbed build does, as the seam counts them.
  long OperationCount(const std::string& kind, const std::string& extra) {
    fs::remove_all(Path("count"));
    const ScopedEnv fault("KMZTILE_FAIL_NTH", kind + ":1000000");
    const auto run = Build(Path("count"), extra);
    std::smatch m;
    const std::regex done("this run did (\\d+) ");
    EXPECT_TRUE(std::regex_search(run.err, m, done)) << run.err;
    return m.empty() ? 0 : std::atol(m[1].str().c_str());
  }
  std::string src_;
};

// At most kSamples indices of 1..n, evenly spread, the first and the last included.
std::vector<long> Sample(long n, long samples) {
  std::vector<long> picked;
  for (long i = 0; i < samples && i < n; ++i) {
    const long k = n <= samples ? i + 1 : 1 + i * (n - 1) / (samples - 1);
    if (picked.empty() || picked.back() != k) picked.push_back(k);
  }
  return picked;
}

}  // namespace

TEST_F(BuildFaults, EveryKindOfFailingOperationIsReportedAndARerunCompletesTheBuild) {
  const char* const kOne = "--jobs 1 --levels 17-18";
  ASSERT_EQ(Build(Path("clean")).exitCode, 0);
  const auto clean = Outputs(Path("clean"));
  ASSERT_FALSE(clean.empty());

  struct Kind {
    const char* name;
    const char* extra;  // forks happen with worker processes only
  };
  constexpr long kSamples = 8;  // per kind, to keep the loop short; every kind is covered
  long tried = 0;
  for (const Kind kind : {Kind{"open", kOne}, Kind{"write", kOne}, Kind{"rename", kOne},
                          Kind{"directory", kOne}, Kind{"fork", "--jobs 2 --levels 17-18"}}) {
    const long count = OperationCount(kind.name, kind.extra);
    EXPECT_GT(count, 0) << kind.name << ": the build does no such operation";
    for (const long k : Sample(count, kSamples)) {
      const std::string what = std::string(kind.name) + " #" + std::to_string(k);
      const std::string out = Path("run");
      fs::remove_all(out);
      kmztest::CliRun run;
      {
        const ScopedEnv fault("KMZTILE_FAIL_NTH", std::string(kind.name) + ":" + std::to_string(k));
        run = Build(out, kind.extra);
      }
      ++tried;
      ASSERT_EQ(run.err.find("was not reached"), std::string::npos) << what << ": " << run.err;
      const auto after = Outputs(out);
      if (run.exitCode == 0) {
        // A fault the build shrugged off (a second look at a file) harms nothing.
        EXPECT_EQ(after, clean) << what << ": exit 0, but the output differs from an undisturbed build";
      } else {
        EXPECT_EQ(run.exitCode, 1) << what << ": " << run.err;
        // One line names what failed: a file of the run, or a tile.
        EXPECT_TRUE(run.err.find(Path()) != std::string::npos || run.err.find("tile ") != std::string::npos)
            << what << ": " << run.err;
      }
      // No temporary file stays; every tile under its final name is the
      // undisturbed build's, or a whole archive lacking a file the run named
      // as left out; every index file is whole (it describes the tiles on
      // disk, so it may list fewer).
      const bool namedLeftOut = run.exitCode == 1 && run.err.find("left out") != std::string::npos;
      for (const auto& [name, bytes] : after) {
        EXPECT_EQ(name.find(".partial"), std::string::npos) << what << ": left " << name;
        if (name.rfind("tiles/", 0) == 0) {
          const auto it = clean.find(name);
          if (it != clean.end() && it->second == bytes) continue;
          EXPECT_TRUE(namedLeftOut) << what << ": " << name << " differs, but nothing was named as left out\n" << run.err;
          EXPECT_TRUE(ReadsBack(bytes)) << what << ": " << name << " is damaged";
        } else {
          EXPECT_TRUE(Whole(name, bytes)) << what << ": " << name << " is cut short";
        }
      }
      const auto rerun = Build(out, kind.extra);
      EXPECT_EQ(rerun.exitCode, 0) << what << ": the rerun failed: " << rerun.err;
      EXPECT_EQ(Outputs(out), clean) << what << ": the rerun differs from an undisturbed build";
    }
  }
  RecordProperty("fault_points", std::to_string(tried));
}

// A worker killed by the system (SIGKILL, as the out-of-memory killer sends)
// leaves the rest of its area unbuilt: those tiles are named, the build
// exits 1, and the next run builds exactly them.
TEST_F(BuildFaults, AWorkerKilledMidAreaLeavesItsTilesNamedAndARerunBuildsThem) {
  const std::string levels = "--jobs 2 --levels 15-18";
  ASSERT_EQ(Build(Path("clean"), levels).exitCode, 0);
  const auto clean = Outputs(Path("clean"));
  const std::string out = Path("out");
  kmztest::CliRun run;
  {
    const ScopedEnv kill("KMZTILE_TEST_KILL_WORKER_AFTER", "1");
    run = Build(out, levels);
  }
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("killed by signal 9"), std::string::npos) << run.err;
  // Every tile named as not built is missing, and every missing tile is named.
  std::set<std::string> named;
  const std::regex unbuilt("tile (tiles/[0-9/]+\\.kmz): not built");
  for (std::sregex_iterator it(run.err.begin(), run.err.end(), unbuilt), end; it != end; ++it) named.insert((*it)[1]);
  EXPECT_FALSE(named.empty()) << run.err;
  const auto after = Outputs(out);
  for (const auto& [name, bytes] : clean) {
    if (name.rfind("tiles/", 0) != 0) continue;
    EXPECT_EQ(after.count(name) == 0, named.count(name) == 1) << name << "\n" << run.err;
  }
  const auto rerun = Build(out, levels);
  EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
  EXPECT_EQ(Outputs(out), clean);

  // When an index file cannot be written either (a full disk fails both),
  // the worker's end is still told, not only the tiles' "see above".
  fs::remove_all(out);
  fs::create_directories(fs::path(out) / "tileset.json");
  {
    const ScopedEnv kill("KMZTILE_TEST_KILL_WORKER_AFTER", "1");
    run = Build(out, levels);
  }
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("killed by signal 9"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("tileset.json"), std::string::npos) << run.err;
}

// What stands where the build's own files and folders belong (a worker's
// manifest in OUT/.kmztile, a tile's row or level folder) and is not of the
// build: a link leading out of the output folder, a folder, a FIFO no one
// reads. The build fails naming it, with nothing written outside the output
// folder and no wait; once it is gone, a rerun completes the build.
TEST_F(BuildFaults, WhatStandsWhereTheBuildsOwnFilesBelongIsNamedAndNothingOutsideIsWritten) {
  const std::string levels = "--jobs 1 --levels 17-18";
  ASSERT_EQ(Build(Path("clean"), levels).exitCode, 0);
  const auto clean = Outputs(Path("clean"));
  const std::string out = Path("out");
  ASSERT_EQ(Build(out, levels).exitCode, 0);
  const fs::path manifest = fs::path(out) / ".kmztile" / "manifest-1-of-1-job0.jsonl";
  ASSERT_TRUE(fs::is_regular_file(manifest));
  const auto tile = std::find_if(clean.begin(), clean.end(), [](const auto& f) { return f.first.rfind("tiles/18/", 0) == 0; });
  ASSERT_NE(tile, clean.end());
  const fs::path row = (fs::path(out) / tile->first).parent_path(), level = row.parent_path();
  const std::string outside = Path("outside");
  const auto moveOut = [&](const fs::path& folder) {
    fs::rename(folder, outside);
    for (const auto& e : fs::recursive_directory_iterator(outside))
      if (e.is_regular_file()) fs::remove(e.path());  // the build has tiles to write there
    fs::create_directory_symlink(outside, folder);
  };
  struct Case {
    std::string what;
    fs::path where;
    std::function<void()> plant;
  };
  const std::vector<Case> cases = {
      {"a link to a file outside", manifest, [&] { kmztest::WriteFile(outside, "{}\n"), fs::create_symlink(outside, manifest); }},
      {"a link to no file outside", manifest, [&] { fs::create_symlink(outside, manifest); }},
      {"a folder", manifest, [&] { fs::create_directory(manifest); }},
      {"a FIFO", manifest, [&] { ASSERT_EQ(::mkfifo(manifest.c_str(), 0644), 0); }},
      {"a row folder linked outside", row, [&] { moveOut(row); }},
      {"a level folder linked outside", level, [&] { moveOut(level); }},
  };
  for (const auto& c : cases) {
    fs::remove(manifest);
    fs::remove(fs::path(out) / tile->first);  // the rerun has a tile to build
    c.plant();
    const auto run = Build(out, levels);
    EXPECT_EQ(run.exitCode, 1) << c.what << ": " << run.err;
    EXPECT_TRUE(run.err.find(c.where.string() + ": it is not a plain file") != std::string::npos ||
                run.err.find(c.where.string() + ": it is a symbolic link") != std::string::npos)
        << c.what << ": " << run.err;
    // Outside, the file planted there is as it was, and a folder is still empty.
    std::string wroteOutside;
    if (fs::is_regular_file(outside)) {
      if (kmztest::ReadFile(outside) != "{}\n") wroteOutside = "its bytes changed";
    } else if (fs::is_directory(outside)) {
      for (const auto& e : fs::recursive_directory_iterator(outside))
        if (e.is_regular_file()) wroteOutside = e.path().string();
    } else if (fs::exists(outside)) {
      wroteOutside = "it was made";
    }
    EXPECT_EQ(wroteOutside, "") << c.what << ": the build wrote outside its output folder";
    // The planted thing goes; a folder moved out comes back.
    fs::remove(c.where);
    if (fs::is_directory(outside)) fs::rename(outside, c.where);
    fs::remove_all(outside);
    const auto rerun = Build(out, levels);
    EXPECT_EQ(rerun.exitCode, 0) << c.what << ": " << rerun.err;
    EXPECT_EQ(Outputs(out), clean) << c.what;
  }
}

// A tile that no model holds any more is removed, but never through a linked
// folder: the link may lead to another folder's file of the same name.
TEST_F(BuildFaults, ATileOfAModelThatIsGoneIsNeverRemovedThroughALink) {
  kmztest::WriteFile(src_ + "/0003.txt", "39446553.132\n4423773.387\n");  // 3 km north: rows of its own
  const std::string out = Path("out"), levels = "--jobs 1 --levels 17-18";
  ASSERT_EQ(Build(out, levels).exitCode, 0);
  const auto built = Outputs(out);
  // The rows that hold model 0003 alone.
  std::set<fs::path> rows, shared;
  for (const auto& [name, bytes] : built) {
    if (name.rfind("tiles/", 0) != 0) continue;
    (bytes.find("0003.dae") != std::string::npos ? rows : shared).insert(fs::path(name).parent_path());
  }
  for (const auto& row : shared) rows.erase(row);
  ASSERT_FALSE(rows.empty());
  for (const char* ext : {".dae", ".txt"}) fs::remove(src_ + "/0003" + ext);
  fs::remove_all(src_ + "/0003");
  // One of them now leads to a folder outside, holding a file of the stale tile's name.
  const fs::path row = fs::path(out) / *rows.begin(), outside = Path("outside");
  fs::rename(row, outside);
  fs::create_directory_symlink(outside, row);
  const auto names = [&outside] {
    std::set<std::string> files;
    for (const auto& file : Outputs(outside.string())) files.insert(file.first);
    return files;
  };
  const std::set<std::string> before = names();
  ASSERT_FALSE(before.empty());

  const auto run = Build(out, levels);
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find(row.string() + ": it is a symbolic link"), std::string::npos) << run.err;
  EXPECT_EQ(names(), before) << "a file outside the output folder was removed";
  fs::remove(row);
  EXPECT_EQ(Build(out, levels).exitCode, 0);
}

