#pragma once
// Helpers shared by the test suites: a temporary folder per test, archives
// built on the fly, file helpers, the real sample data and a file-descriptor
// count to catch leaks around archive operations.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

class CBaseParser;

namespace kmztest {

/** A file of the real public sample data in tests/data (read only). */
std::string RealData(const std::string& relative);

/** Whole file as bytes; fails the test when it cannot be read. */
std::string ReadFile(const std::string& path);
/** Writes bytes, creating parent folders. */
void WriteFile(const std::string& path, const std::string& data);
/** True when the path exists. */
bool Exists(const std::string& path);
/** Number of open file descriptors of this process. */
int OpenFdCount();

/** One entry of an archive to build: a name ending in "/" is a directory. */
struct ZipItem {
  std::string name;
  std::string data;
  bool stored = false;  // store instead of deflate
};
/** Builds a zip archive in memory with minizip, entries in the given order. */
std::string MakeZip(const std::vector<ZipItem>& items);

/** A KML document whose root Folder holds model placemarks (id, href, lon, lat). */
struct ModelMark {
  std::string id;
  std::string href;
  double lon = 0;
  double lat = 0;
};
std::string MakeModelKml(const std::vector<ModelMark>& marks, const std::string& rootTag = "Folder");

/** Where FolderModelKmz() places its model. */
constexpr double kFolderModelLon = -105.272774533734;
constexpr double kFolderModelLat = 40.009993372683;
constexpr double kFolderModelHeading = 27.703377340579;
/**
 * A model package laid out as SketchUp exports and the packaging step write
 * it, built from the real files of collada/cu_macky: doc.kml, whose root
 * Folder holds a "Tour" sub-folder with a camera placemark and then the model
 * placemark "Model" (Location at kFolderModelLon/Lat, Orientation with
 * kFolderModelHeading, Scale,
 * Link models/Macky.dae); models/Macky.dae; its 20 JPEG textures in images/
 * (the model's references are moved from ../files/ to ../images/NAME.jpg);
 * last textures.txt.
 */
std::string FolderModelKmz();

/** Result of running the kmztile command. */
struct CliRun {
  int exitCode = -1;
  std::string out;  ///< standard output
  std::string err;  ///< standard error
};
/** True when the tests know where the kmztile command is (KMZTILE_CLI). */
bool HaveCli();
/**
 * Runs `kmztile ARGUMENTS` (a shell word list) and collects its output;
 * @p launcher (a shell word list, e.g. a command that changes the user)
 * runs the command when given.
 */
CliRun RunCli(const std::string& arguments, const std::string& launcher = "");

/** A fresh temporary folder per test, removed afterwards. */
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  /** Path below the temporary folder. */
  std::string Path(const std::string& relative = "") const;
  std::string dir_;
};

/** A temporary folder for tests that run the command; skipped without KMZTILE_CLI. */
class CliTempDirTest : public TempDirTest {
 protected:
  void SetUp() override;
};

}  // namespace kmztest
