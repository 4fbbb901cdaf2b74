#include "TestSupport.h"

#include <dirent.h>
#include <sys/wait.h>
#include <minizip/zip.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace kmztest {

std::string RealData(const std::string& relative) { return std::string(KMZTILE_REAL_DATA) + "/" + relative; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.is_open()) << path;
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  const fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(out.good()) << path;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

int OpenFdCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

std::string MakeZip(const std::vector<ZipItem>& items) {
  char name[] = "/tmp/kmztile-zip-XXXXXX";
  const int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  close(fd);
  zipFile zf = zipOpen64(name, APPEND_STATUS_CREATE);
  EXPECT_NE(zf, nullptr);
  for (const auto& item : items) {
    zip_fileinfo info{};
    const bool dir = !item.name.empty() && item.name.back() == '/';
    EXPECT_EQ(ZIP_OK, zipOpenNewFileInZip64(zf, item.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                            (item.stored || dir) ? 0 : Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0));
    if (!item.data.empty())
      EXPECT_EQ(ZIP_OK, zipWriteInFileInZip(zf, item.data.data(), static_cast<unsigned>(item.data.size())));
    zipCloseFileInZip(zf);
  }
  zipClose(zf, nullptr);
  std::string bytes = ReadFile(name);
  std::remove(name);
  return bytes;
}

std::string FolderModelKmz() {
  std::ostringstream kml;
  kml.precision(15);
  kml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
         "<Folder><name>Macky</name>\n"
         "<Folder><name>Tour</name><Placemark><name>Camera</name><LookAt><longitude>"
      << kFolderModelLon << "</longitude><latitude>" << kFolderModelLat
      << "</latitude><range>127</range></LookAt></Placemark></Folder>\n"
         "<Placemark><name>Model</name><Model><altitudeMode>relativeToGround</altitudeMode>"
         "<Location><longitude>"
      << kFolderModelLon << "</longitude><latitude>" << kFolderModelLat
      << "</latitude><altitude>0</altitude></Location>"
         "<Orientation><heading>"
      << kFolderModelHeading << "</heading><tilt>0</tilt><roll>0</roll></Orientation>"
         "<Scale><x>1</x><y>1</y><z>1</z></Scale><Link><href>models/Macky.dae</href></Link></Model></Placemark>\n"
         "</Folder>\n</kml>\n";
  const fs::path folder = RealData("collada/cu_macky/files");
  std::vector<std::string> textures;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() == ".jpg") textures.push_back(e.path().filename().string());
  std::sort(textures.begin(), textures.end());
  // The model's references move from its own folder to images/.
  std::string dae = ReadFile((folder / "CU Macky.dae").string());
  for (std::size_t at = dae.find("../files/"); at != std::string::npos; at = dae.find("../files/", at))
    dae.replace(at, 9, "../images/");
  std::vector<ZipItem> items = {{"doc.kml", kml.str()}, {"models/Macky.dae", dae}};
  std::string list;
  for (const std::string& t : textures) {
    items.push_back({"images/" + t, ReadFile((folder / t).string())});
    list += "<../images/" + t + "> <" + t + ">\n";
  }
  items.push_back({"textures.txt", list});
  return MakeZip(items);
}

std::string MakeModelKml(const std::vector<ModelMark>& marks, const std::string& rootTag) {
  std::ostringstream k;
  k.precision(12);
  k << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<" << rootTag
    << "><name>tile</name>\n";
  for (const auto& m : marks) {
    k << "<Placemark" << (m.id.empty() ? "" : " id=\"" + m.id + "\"") << "><name>" << m.id
      << "</name><Model><altitudeMode>relativeToGround</altitudeMode><Location><longitude>" << m.lon
      << "</longitude><latitude>" << m.lat << "</latitude><altitude>0</altitude></Location><Link><href>" << m.href
      << "</href></Link></Model></Placemark>\n";
  }
  k << "</" << rootTag << ">\n</kml>\n";
  return k.str();
}

bool HaveCli() { return std::getenv("KMZTILE_CLI") != nullptr; }

CliRun RunCli(const std::string& arguments, const std::string& launcher) {
  CliRun run;
  const char* cli = std::getenv("KMZTILE_CLI");
  if (!cli) return run;
  char errName[] = "/tmp/kmztile-cli-err-XXXXXX";
  const int fd = mkstemp(errName);
  if (fd < 0) return run;
  close(fd);
  const std::string command = launcher + (launcher.empty() ? "'" : " '") + cli + "' " + arguments + " 2>'" + errName + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadFile(errName);
  std::remove(errName);
  return run;
}

void TempDirTest::SetUp() {
  char tmpl[] = "/tmp/kmztile-test-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir_ = tmpl;
}

void CliTempDirTest::SetUp() {
  TempDirTest::SetUp();
  if (!HaveCli()) GTEST_SKIP() << "KMZTILE_CLI is not set";
}

void TempDirTest::TearDown() {
  std::error_code ec;
  fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(dir_, ec); it != fs::recursive_directory_iterator(); ++it)
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(dir_, ec);
}

std::string TempDirTest::Path(const std::string& relative) const {
  return relative.empty() ? dir_ : dir_ + "/" + relative;
}

}  // namespace kmztest
