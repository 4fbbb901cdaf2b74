#pragma once
// A working folder in a temporary folder, with helpers to place packages
// and to look at the level folders.
#include <filesystem>
#include <string>

#include "Access.h"
#include "TestSupport.h"
#include "kml/engine.h"

namespace importtest {

namespace fs = std::filesystem;

/** The reference reading of an archive entry, by libkml itself. */
inline std::string LibkmlEntry(const std::string& kmzPath, const std::string& name) {
  std::string bytes = kmztest::ReadFile(kmzPath);
  kmlengine::KmzFilePtr kmz(kmlengine::KmzFile::OpenFromString(bytes));
  std::string out;
  EXPECT_TRUE(kmz && kmz->ReadFile(name.c_str(), &out)) << kmzPath << " " << name;
  return out;
}

class ImportTest : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    fs::create_directories(Path("work"));
    parser_.SetRequireFile(Path("work"), Path("work/scope.txt"), Path("work/coords.txt"));
  }
  std::string Work(const std::string& name = "") const { return Path("work/" + name); }
  std::string Level(int n, const std::string& name = "") const {
    return Path("work/" + std::to_string(n)) + (name.empty() ? "" : "/" + name);
  }
  /** Library spelling of a package path, as the import builds it. */
  std::string Package(const std::string& name) const { return Access::Work(parser_) + name; }
  void AddPackage(const std::string& name, const std::vector<kmztest::ZipItem>& items) {
    kmztest::WriteFile(Work(name), kmztest::MakeZip(items));
  }
  /** The package of kmztest::FolderModelKmz() as @p name. */
  void AddFolderModelPackage(const std::string& name) { kmztest::WriteFile(Work(name), kmztest::FolderModelKmz()); }
  void AddRealPackage(const std::string& real, const std::string& name) {
    fs::copy_file(kmztest::RealData("kmz/model/" + real), Work(name));
  }
  void MakeLevels() {
    for (int n = 1; n <= 4; ++n) fs::create_directories(Level(n));
  }
  /** Names in level folder @p n, sorted. */
  std::vector<std::string> LevelNames(int n) const {
    std::vector<std::string> names;
    if (!fs::is_directory(Level(n))) return names;
    for (const auto& e : fs::directory_iterator(Level(n))) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  CBaseParser parser_;
};

}  // namespace importtest
