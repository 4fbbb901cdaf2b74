// Every file operation of a whole run failing in turn: packaging a small
// city, importing it and building its tiles, and moving a package. No run
// may crash, report success with a missing or damaged output, touch the
// user's source files, or leave a damaged archive under a final name.
#include <filesystem>
#include <map>

#include "../placement/SourceFolder.h"
#include "BaseParser.h"
#include "platform/FaultInjection.h"
#include "tiles/detail/CoordinatesFile.h"

namespace fs = std::filesystem;
using kmztile::platform::FileOp;

namespace {

constexpr FileOp kOps[] = {FileOp::Open, FileOp::Write, FileOp::Rename, FileOp::Directory};
const char* OpName(FileOp op) {
  static const char* names[] = {"open", "write", "rename", "directory"};
  return names[static_cast<int>(op)];
}
// Upper bound on operations of one kind in one run; the loops stop earlier,
// at the first count that no longer fails anything.
constexpr long kMaxOperations = 2000;

// The template of the brief's layout: a sub-Folder first, then the model placemark.
std::string CityTemplate() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
         "<Folder><name>city</name><Folder><name>Tour</name></Folder>"
         "<Placemark id=\"model\"><name>Model</name><Model><altitudeMode>relativeToGround</altitudeMode>"
         "<Location><longitude>0</longitude><latitude>0</latitude><altitude>0</altitude></Location>"
         "<Orientation><heading>0</heading><tilt>0</tilt><roll>0</roll></Orientation>"
         "<Scale><x>1</x><y>1</y><z>1</z></Scale><Link><href>models/pattern.dae</href></Link></Model>"
         "</Placemark></Folder>\n</kml>\n";
}

// Relative path -> bytes of every file below a folder, except below @p skip.
std::map<std::string, std::string> Snapshot(const std::string& folder, const std::string& skip = "") {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), folder).string();
    if (!skip.empty() && rel == skip) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) out[rel] = kmztest::ReadFile(it->path().string());
  }
  return out;
}

bool ReadsBack(const std::string& kmz) {
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  return CBaseParser::ReadKmzToList(kmz, names, contents, locations);
}

// What one run produced.
struct CityRun {
  bool ok = false;  // every step reported success
  std::map<std::string, std::string> tiles;  // tile name -> bytes handed back
};

class FaultInjection : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    pristine_ = Path("pristine");
    kmztest::WriteFile(pristine_ + "/doc.kml", CityTemplate());
    placementtest::AddModel(pristine_, "duck", placementtest::Duck(), "116.40\n39.90\n");
    placementtest::AddModel(pristine_, "house", placementtest::TexturedMacky(), "116.41\n39.91\n");
    source_ = Snapshot(pristine_);
  }
  void TearDown() override {
    kmztile::platform::ResetFaultInjection();
    TempDirTest::TearDown();
  }

  // Packaging, import, scope, tile index and every tile of one level, through the library API.
  CityRun BuildCity(const std::string& F) {
    CityRun run;
    kmztile::tiles::detail::ForgetCoordinates();
    CBaseParser parser;
    std::wstring crs, aux = L"aux";
    std::string middle;
    if (!parser.GenNeededFile(F, crs.data(), aux.data(), middle)) return run;
    parser.SetRequireFile(middle, middle + "\\scope.txt", middle + "\\coords.txt");
    if (!parser.EarlyPrepare("")) return run;
    double west = 0, east = 0, south = 0, north = 0;
    if (!parser.GetScopeRange(west, east, south, north)) return run;
    long r0 = 0, c0 = 0, r1 = 0, c1 = 0;
    parser.TileIndex(west, east, south, north, kLevel, CreateGeographicPyramid(), &r0, &c0, &r1, &c1);
    if ((r1 - r0 + 1) * (c1 - c0 + 1) > 16) {
      // An unreadable location text places its model at 0, 0 by design: the
      // extent then spans half the globe. Only that may widen it.
      EXPECT_NE(kmztest::ReadFile(F + "/middle/coords.txt").find("\r\n0.000000 \r\n0.000000 \r\n"), std::string::npos)
          << what_ << ": the scope file covers " << r1 - r0 + 1 << " rows and " << c1 - c0 + 1 << " columns";
      run.ok = true;
      return run;
    }
    for (long r = r0; r <= r1; ++r) {
      for (long c = c0; c <= c1; ++c) {
        std::string kmz;
        if (!parser.CreateTile(CreateGeographicPyramid(), kLevel, r, c, &kmz)) return run;
        if (!kmz.empty()) run.tiles[std::to_string(r) + "-" + std::to_string(c)] = kmz;
      }
    }
    run.ok = true;
    return run;
  }

  // A fresh copy of the source folder for one run.
  std::string FreshSource(const std::string& name) {
    const std::string F = Path(name);
    fs::remove_all(F);
    fs::copy(pristine_, F, fs::copy_options::recursive);
    return F;
  }

  // What must hold after any run, failed or not.
  // The template doc.kml is rewritten in place by design; it must always stay a
  // whole document. Every other source file stays byte for byte.
  void CheckInvariants(const std::string& F, const CityRun& run, const std::string& what) {
    auto now = Snapshot(F, "middle");
    EXPECT_TRUE(placementtest::RootFolder(now["doc.kml"])) << what << ": the template was damaged";
    now["doc.kml"] = source_.at("doc.kml");
    EXPECT_EQ(now.size(), source_.size()) << what << ": files appeared in or vanished from the source folder";
    for (const auto& [rel, bytes] : source_) {
      const auto it = now.find(rel);
      EXPECT_TRUE(it != now.end() && it->second == bytes) << what << ": source file changed: " << rel;
    }
    if (!fs::exists(F + "/middle")) return;
    for (const auto& e : fs::recursive_directory_iterator(F + "/middle")) {
      const std::string p = e.path().string();
      if (e.is_regular_file() && e.path().extension() == ".kmz") {
        EXPECT_TRUE(ReadsBack(p)) << what << ": damaged archive under a final name: " << p;
      }
    }
    for (const auto& [tile, bytes] : run.tiles) EXPECT_TRUE(ReadsBack(bytes)) << what << ": tile " << tile;
  }

  static constexpr long kLevel = 15;
  std::string what_;  // the fault of the current run
  std::string pristine_;
  std::map<std::string, std::string> source_;
};

}  // namespace

TEST_F(FaultInjection, EveryFailingOperationOfACityBuildIsReportedAndHarmless) {
  const CityRun clean = BuildCity(FreshSource("clean"));
  ASSERT_TRUE(clean.ok);
  ASSERT_FALSE(clean.tiles.empty());
  CheckInvariants(Path("clean"), clean, "clean run");

  long tried = 0;
  for (FileOp op : kOps) {
    long k = 1;
    for (; k <= kMaxOperations; ++k) {
      const std::string F = FreshSource("run");
      what_ = std::string(OpName(op)) + " #" + std::to_string(k);
      kmztile::platform::FailNthOperation(op, k);
      const CityRun run = BuildCity(F);
      const bool fired = !kmztile::platform::FaultPending(op);
      kmztile::platform::ResetFaultInjection();
      const std::string what = std::string(OpName(op)) + " #" + std::to_string(k);
      if (!fired) {
        // The run has fewer operations than k: it must equal the clean run.
        EXPECT_TRUE(run.ok) << what;
        EXPECT_EQ(run.tiles, clean.tiles) << what;
        break;
      }
      ++tried;
      CheckInvariants(F, run, what);
      // A run reporting success after a failure lost nothing the clean run produced,
      // or left a whole model out consistently (its package failed and was not listed).
      if (run.ok) {
        for (const auto& [tile, bytes] : run.tiles) EXPECT_TRUE(clean.tiles.count(tile)) << what;
      }
    }
    EXPECT_LE(k, kMaxOperations) << OpName(op) << ": the loop never reached the end of the run";
    std::printf("%s operations in a city build: %ld\n", OpName(op), k - 1);
  }
  RecordProperty("fault_points", std::to_string(tried));
  std::printf("fault points tried over the city build: %ld\n", tried);
}

TEST_F(FaultInjection, EveryFailingOperationOfALocationUpdateKeepsThePackage) {
  const std::string original = kmztest::FolderModelKmz();
  const std::string folder = Path("pkg");
  const std::string path = folder + "/Macky.kmz";
  long tried = 0;
  for (FileOp op : kOps) {
    for (long k = 1; k <= kMaxOperations; ++k) {
      fs::remove_all(folder);
      kmztest::WriteFile(path, original);
      kmztile::platform::FailNthOperation(op, k);
      const bool ok = CBaseParser::UpdateLocationInKml(path, 116.5, 39.5);
      const bool fired = !kmztile::platform::FaultPending(op);
      kmztile::platform::ResetFaultInjection();
      const std::string what = std::string(OpName(op)) + " #" + std::to_string(k);
      std::vector<std::string> names, contents;
      std::map<std::string, LonLatID> locations;
      ASSERT_TRUE(CBaseParser::ReadKmzToList(path, names, contents, locations)) << what;
      if (ok) {
        EXPECT_NE(kmztest::ReadFile(path), original) << what;
      } else {
        EXPECT_TRUE(fired) << what;
        EXPECT_EQ(kmztest::ReadFile(path), original) << what;
      }
      // Only the package remains: no temporary file beside it.
      EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << what;
      if (!fired) break;
      ++tried;
    }
  }
  std::printf("fault points tried over the location update: %ld\n", tried);
}
