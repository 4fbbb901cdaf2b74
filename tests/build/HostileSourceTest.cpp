// kmztile build and read on hostile input, end to end: output folders that
// hold the source, sources the check finds broken, names and links that lead
// out of the source, textures that do not decode, a FIFO given as archive.
// Nothing outside the named folders is touched, and nothing left out goes
// unreported or ends with exit 0.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <nlohmann/json.hpp>

#include "SampleCity.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string& kCity = kmztest::kSampleCity;

bool Mentions(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

class HostileSource : public kmztest::CliTempDirTest {
 protected:
  kmztest::CliRun Build(const std::string& src, const std::string& out, const std::string& extra = "--quiet") {
    return kmztest::RunCli("build '" + src + "' '" + out + "' --crs EPSG:4527 --levels 17-18 " + extra);
  }
};

}  // namespace

// The output folder was emptied without a look at where the source lies: a
// build into the source's parent deleted the source.
TEST_F(HostileSource, OutputFoldersThatHoldTheSourceAreRefusedUntouched) {
  const std::string src = Path("city/src");
  kmztest::CopySmallCity(src, 1);
  for (const std::string& out : {Path("city"), src, src + "/../..", Path("city/src/.")}) {
    const auto run = Build(src, out);
    EXPECT_EQ(run.exitCode, 2) << out << run.err;
    EXPECT_TRUE(Mentions(run.err, "source folder")) << run.err;
  }
  EXPECT_TRUE(kmztest::Exists(src + "/0001.dae"));
  EXPECT_FALSE(kmztest::Exists(src + "/work") || kmztest::Exists(Path("city/work")));
}

// What `check` calls an error stops the build, every one named: a missing
// location text (the model stood at 0, 0), a model file that is not XML
// (it was shipped), a template placemark not named "Model" (its href lay in
// no tile).
TEST_F(HostileSource, CheckErrorsStopTheBuildEachNamed) {
  const std::string src = Path("src");
  kmztest::CopySmallCity(src, 3);
  fs::remove(src + "/0001.txt");
  kmztest::WriteFile(src + "/0002.dae", "this is not COLLADA");
  std::string doc = kmztest::ReadFile(src + "/doc.kml");
  const auto at = doc.find("<name>Model</name>");
  ASSERT_NE(at, std::string::npos);
  doc.replace(at, 18, "<name>House</name>");
  kmztest::WriteFile(src + "/doc.kml", doc);

  const auto run = Build(src, Path("out"));
  EXPECT_EQ(run.exitCode, 1) << run.err;
  for (const char* file : {"/0001.txt", "/0002.dae", "/doc.kml"}) EXPECT_TRUE(Mentions(run.err, src + file)) << run.err;
  EXPECT_FALSE(kmztest::Exists(Path("out/tiles")));
}

// Names and links leading out of the source, a texture that does not decode
// and a texture folder that is a file: the build finishes, touches nothing
// outside, ships nothing from outside, names every file it left out and
// exits 1; --json output stays pure JSON.
TEST_F(HostileSource, HostileNamesAndLinksAreLeftOutAndReported) {
  const std::string src = Path("src");
  kmztest::CopySmallCity(src, 3);
  kmztest::WriteFile(Path("victim/precious.kmz"), "precious");
  kmztest::WriteFile(Path("secret/passwd.jpg"), "secret bytes");
  kmztest::WriteFile(src + "/..\\..\\victim\\precious.dae", "");
  kmztest::WriteFile(src + "/0001/..\\..\\secret\\passwd.jpg", "decoy");
  fs::create_symlink(Path("secret/passwd.jpg"), src + "/0001/stolen.jpg");
  fs::create_directory_symlink("..", src + "/0002/up");
  fs::create_directory_symlink("..", src + "/0002/up2");
  kmztest::WriteFile(src + "/0002/broken.jpg", "not an image at all");
  // Model 0004 uses 0001's textures and has a file where its texture folder belongs.
  fs::copy_file(src + "/0001.dae", src + "/0004.dae");
  fs::copy_file(src + "/0001.txt", src + "/0004.txt");
  kmztest::WriteFile(src + "/0004", "a file where the texture folder belongs");

  const auto run = Build(src, Path("out"), "--json");
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(kmztest::ReadFile(Path("victim/precious.kmz")), "precious");
  nlohmann::json summary;
  ASSERT_NO_THROW(summary = nlohmann::json::parse(run.out)) << run.out;
  // What the check foresees the tiles will lack counts as left out too.
  EXPECT_TRUE(Mentions(summary.at("dropped").dump(), "lies outside the texture folder")) << summary.at("dropped");
  for (const char* file : {"precious.dae", "passwd.jpg", "stolen.jpg", "/0002/up", "broken.jpg", "/0004"})
    EXPECT_TRUE(Mentions(run.err, file)) << file << "\n" << run.err;

  size_t tiles = 0;
  for (const auto& e : fs::recursive_directory_iterator(Path("out/tiles"))) {
    if (!e.is_regular_file()) continue;
    ++tiles;
    const auto read = kmztest::RunCli("read '" + e.path().string() + "' --json");
    EXPECT_EQ(read.exitCode, 0) << e.path();
    EXPECT_FALSE(Mentions(read.out, "passwd") || Mentions(read.out, "stolen") || Mentions(read.out, "broken"))
        << e.path();
  }
  EXPECT_GT(tiles, 0u);
  // Every file of the output lies inside it: no link was copied along.
  for (const auto& e : fs::recursive_directory_iterator(Path("out"))) EXPECT_FALSE(e.is_symlink()) << e.path();
}

// `read` on a FIFO waited in open() for a writer that never came.
TEST_F(HostileSource, ReadingAFifoFailsAtOnce) {
  const std::string fifo = Path("pipe.kmz");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto started = std::chrono::steady_clock::now();
  // A watchdog releases a blocked reader after a few seconds, so a
  // regression fails here instead of hanging the suite.
  std::atomic<bool> finished{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 300 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  });
  const auto run = kmztest::RunCli("read '" + fifo + "'");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  finished = true;
  watchdog.join();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_LT(seconds, 20.0) << "read blocked on the FIFO until the watchdog released it";
  EXPECT_TRUE(Mentions(run.err, fifo)) << run.err;
}

// `merge` read each shard record with a stream: a FIFO under a record's name
// held it in open() for a writer that never came, and a folder under that
// name was reported as "not JSON". Both are refused at once, named.
TEST_F(HostileSource, MergeRefusesRecordsThatAreNoFilesAtOnce) {
  const std::string src = Path("src"), out = Path("out");
  kmztest::CopySmallCity(src, 3);
  ASSERT_EQ(Build(src, out, "--quiet --shard 1/2").exitCode, 0);
  const std::string record = out + "/tileset-shard-2-of-2.json";
  ASSERT_EQ(::mkfifo(record.c_str(), 0600), 0);
  std::atomic<bool> finished{false};
  std::thread watchdog([&] {  // releases a blocked reader, so a regression fails instead of hanging
    for (int i = 0; i < 300 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int fd = ::open(record.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  });
  const auto started = std::chrono::steady_clock::now();
  const auto fifo = kmztest::RunCli("merge '" + out + "'");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  finished = true;
  watchdog.join();
  EXPECT_LT(seconds, 20.0) << "merge blocked on the FIFO until the watchdog released it";
  fs::remove(record);
  fs::create_directory(record);
  const auto folder = kmztest::RunCli("merge '" + out + "'");
  for (const auto& run : {fifo, folder}) {
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Mentions(run.err, record + ": cannot be read (not a regular file)")) << run.err;
  }
  EXPECT_FALSE(kmztest::Exists(out + "/tileset.json"));
}

// File names are bytes and need not be UTF-8, which JSON and KML cannot
// hold: a model and a texture named in Latin-1 stopped the build at its
// catalog with a bare JSON error naming nothing, and later made the whole
// tile holding the model unreadable, its other models lost with it. The
// model is now left out and named (its name cannot be written), the texture
// (a file name inside the archive) is kept, every tile is made, the
// catalog keeps the names exactly (a rerun finds nothing changed), and
// --json output stays JSON.
TEST_F(HostileSource, NamesThatAreNotUtf8AreKeptAndNamed) {
  const std::string src = Path("src");
  kmztest::CopySmallCity(src, 3);
  fs::copy_file(src + "/0001/facade.jpg", src + "/0001/t\xe9.jpg");
  fs::copy_file(src + "/0001.dae", src + "/lat\xe9n.dae");
  fs::create_directory(src + "/lat\xe9n");
  fs::copy_file(src + "/0001/roof.png", src + "/lat\xe9n/r\xe9.png");
  kmztest::WriteFile(src + "/lat\xe9n.txt", "116.5912\r\n39.7074\r\n");

  nlohmann::json first, second;
  for (nlohmann::json* summary : {&first, &second}) {
    const auto run = Build(src, Path("out"), "--json");
    EXPECT_FALSE(Mentions(run.err, "json.exception")) << run.err;
    ASSERT_NO_THROW(*summary = nlohmann::json::parse(run.out)) << run.out << run.err;
    EXPECT_TRUE(Mentions(run.err, "lat\xe9n.dae: the model name is not UTF-8")) << run.err;
  }
  EXPECT_EQ(first.at("models").get<int>(), 3) << first;
  EXPECT_GT(first.at("tiles").get<int>(), 0) << first;
  EXPECT_EQ(first.at("failed_tiles").get<int>(), 0) << first;
  EXPECT_TRUE(Mentions(first.at("dropped").dump(), "not UTF-8")) << first;
  EXPECT_EQ(second.at("rebuilt").at("changed_models"), 0) << second;
  EXPECT_EQ(second.at("rebuilt").at("settings"), 0) << second;
}

// Every subcommand that prints JSON aborted on a name that is not UTF-8 (a
// Latin-1 byte in a folder, file or archive entry name): its JSON names it
// with U+FFFD in place of the byte, with the exit status of a plain run.
TEST_F(HostileSource, EveryJsonOutputNamesNamesThatAreNotUtf8) {
  const std::string src = Path("src\xe9");
  kmztest::CopySmallCity(src, 2);
  fs::copy_file(src + "/0001.dae", src + "/lat\xe9n.dae");
  fs::create_directory(src + "/lat\xe9n");
  fs::copy_file(src + "/0001/roof.png", src + "/lat\xe9n/r\xe9.png");
  kmztest::WriteFile(src + "/lat\xe9n.txt", "116.5912\r\n39.7074\r\n");
  const std::string kmz = Path("k\xe9.kmz");
  const std::string dae = kmztest::ReadFile(src + "/0001.dae");
  kmztest::WriteFile(kmz, kmztest::MakeZip({{"doc.kml", kmztest::MakeModelKml({{"1", "models/m.dae", 116.4, 39.9}})},
                                            {"models/m.dae", dae},
                                            {"models/t\xe9.jpg", kmztest::ReadFile(src + "/0001/facade.jpg")},
                                            {"models/l\xe9.dae", dae}}));
  const std::string work = Path("work\xe9");
  fs::create_directory(work);
  fs::copy_file(kmz, work + "/k\xe9.kmz");

  const std::string kReplaced = "\xef\xbf\xbd";
  const struct {
    std::string arguments;
    int exitCode;
    std::string named;  // what the JSON must show, U+FFFD in place of 0xE9
  } cases[] = {
      // lat\xe9n cannot be named in KML, which holds UTF-8 only: an error of
      // the check, left out of the build (exit 1) and of the packages.
      {"check --json '" + src + "'", 1, "lat" + kReplaced + "n"},
      {"build --json --crs EPSG:4527 --levels 18 '" + src + "' '" + Path("out") + "'", 1, "lat" + kReplaced + "n"},
      {"package --json '" + src + "' --crs EPSG:4527", 1, "src" + kReplaced},
      {"read --json '" + kmz + "'", 0, "models/t" + kReplaced + ".jpg"},
      {"read --lazy --json '" + kmz + "'", 0, "l" + kReplaced + ".dae"},
      {"import --json '" + work + "'", 0, "work" + kReplaced},
      {"index --json 1 2 3 4 x\xe9", 2, "x" + kReplaced},
  };
  for (const auto& c : cases) {
    const auto run = kmztest::RunCli(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.err;
    EXPECT_FALSE(Mentions(run.err, "json.exception")) << c.arguments << "\n" << run.err;
    EXPECT_TRUE(nlohmann::json::accept(run.out)) << c.arguments << "\n" << run.out;
    EXPECT_TRUE(Mentions(run.out, c.named)) << c.arguments << "\n" << run.out;
  }
}

// "0001.dae" and "0001.DAE" are both the model 0001: the tiles got two
// placemarks of one id (the 3D Tiles of those tiles failed) and the check
// said nothing. The check calls it an error; the build leaves the model out.
TEST_F(HostileSource, ModelFilesNamingOneModelAreAnErrorAndLeftOut) {
  const std::string src = Path("src");
  kmztest::CopySmallCity(src, 2);
  fs::copy_file(src + "/0001.dae", src + "/0001.DAE");
  const auto check = kmztest::RunCli("check --json '" + src + "'");
  EXPECT_EQ(check.exitCode, 1) << check.out;
  EXPECT_TRUE(Mentions(check.out, "names the same model as")) << check.out;

  const auto run = Build(src, Path("out"), "--json --format kmz,3dtiles");
  EXPECT_EQ(run.exitCode, 1) << run.err;
  const auto summary = nlohmann::json::parse(run.out);
  EXPECT_EQ(summary.at("models"), 1) << run.out;
  EXPECT_EQ(summary.at("failed_tiles"), 0) << run.out;
}
