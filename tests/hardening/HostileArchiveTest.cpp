// Archives built to hurt the reader: truncated and damaged bytes, entries
// above the size limit, zip bombs, a huge entry count and hostile names.
// Each must give a clear false (or a correct read), in bounded time and
// memory, and write nothing outside the folders the library was given.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

#include "BaseParser.h"
#include "TestSupport.h"
#include "ZipBytes.h"
#include "platform/LastError.h"

namespace fs = std::filesystem;
using namespace hardening;

namespace {

struct ReadResult {
  bool list = false;
  bool listEx = false;
  std::vector<std::string> names;
};

// Both readers on the same source; the handle is released again.
ReadResult ReadBoth(const std::string& source) {
  ReadResult r;
  std::vector<std::string> contents;
  std::map<std::string, LonLatID> locations;
  r.list = CBaseParser::ReadKmzToList(source, r.names, contents, locations);
  std::map<std::string, std::vector<std::string>> textures;
  std::map<std::string, LonLatID> exLocations;
  long* handle = nullptr;
  r.listEx = CBaseParser::ReadKmzToListEx(source, textures, exLocations, handle);
  if (r.listEx) {
    std::string name, data;
    EXPECT_TRUE(CBaseParser::ReadOneKmzData(handle, name, data, true));
  }
  return r;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every path below a folder (relative), to prove nothing appeared.
std::set<std::string> Tree(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) out.insert(fs::relative(e.path(), folder).string());
  return out;
}

class HostileArchive : public kmztest::TempDirTest {};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

// The process's address space in use now.
rlim_t AddressSpaceInUse() {
  std::ifstream statm("/proc/self/statm");
  rlim_t pages = 0;
  statm >> pages;
  return pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

TEST_F(HostileArchive, TruncatedArchivesAreRefusedAtEveryLength) {
  const std::string good = kmztest::FolderModelKmz();
  ASSERT_TRUE(ReadBoth(good).list);
  // Every cut in the last 64 bytes (end record and directory) and 64 cuts spread over the body.
  std::vector<size_t> cuts;
  for (size_t k = 1; k <= 64; ++k) cuts.push_back(good.size() - k);
  for (size_t k = 0; k < 64; ++k) cuts.push_back(4 + good.size() * k / 64);
  for (size_t cut : cuts) {
    const std::string bytes = good.substr(0, cut);
    const ReadResult r = ReadBoth(bytes);
    EXPECT_FALSE(r.list) << "cut at " << cut;
    EXPECT_FALSE(r.listEx) << "cut at " << cut;
    // The same bytes as a package file: the update refuses and leaves them as they were.
    const std::string path = Path("cut.kmz");
    kmztest::WriteFile(path, bytes);
    EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path, 1, 2)) << "cut at " << cut;
    EXPECT_EQ(kmztest::ReadFile(path), bytes);
  }
}

TEST_F(HostileArchive, DamagedBytesNeverReadAsTheOriginal) {
  const std::string good = kmztest::ReadFile(kmztest::RealData("kmz/model/model-macky.kmz"));
  std::vector<std::string> goodNames, goodContents;
  std::map<std::string, LonLatID> goodLocations;
  ASSERT_TRUE(CBaseParser::ReadKmzToList(good, goodNames, goodContents, goodLocations));
  // One flipped byte at 200 places: the read fails, or it succeeds with every
  // entry intact (the byte lay in a field the reader does not use).
  for (size_t k = 0; k < 200; ++k) {
    std::string bytes = good;
    const size_t at = 4 + (bytes.size() - 4) * k / 200;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x5a);
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    if (CBaseParser::ReadKmzToList(bytes, names, contents, locations)) {
      ASSERT_EQ(contents.size(), goodContents.size()) << "flip at " << at;
      for (size_t i = 0; i < contents.size(); ++i) EXPECT_EQ(contents[i], goodContents[i]) << "flip at " << at;
    }
  }
}

// Reads one entry through a handle, as a consumer of a listed archive would.
bool ReadThroughHandle(const std::string& bytes, const std::string& entry) {
  std::map<std::string, std::vector<std::string>> textures;
  std::map<std::string, LonLatID> locations;
  long* handle = nullptr;
  if (!CBaseParser::ReadKmzToListEx(bytes, textures, locations, handle)) return false;
  std::string name = entry, data, none;
  const bool ok = CBaseParser::ReadOneKmzData(handle, name, data, false);
  EXPECT_TRUE(CBaseParser::ReadOneKmzData(handle, none, data, true));
  return ok;
}

TEST_F(HostileArchive, EntriesAboveTheSizeLimitAreRefusedBeforeInflating) {
  // A real 2,100 MiB entry (above libkml's 2,147,483,647-byte limit) in a 2 MB archive.
  const auto start = std::chrono::steady_clock::now();
  const std::string above = Assemble({Stored("doc.kml", "<kml/>"), ZeroBomb("models/huge.dae", 2100)});
  EXPECT_LT(above.size(), 4u << 20);
  EXPECT_FALSE(ReadBoth(above).list);
  EXPECT_FALSE(ReadThroughHandle(above, "models/huge.dae"));
  EXPECT_LT(SecondsSince(start), 20.0);
}

TEST_F(HostileArchive, AnEntryLyingAboutItsSizeIsRefusedWithoutExpandingIt) {
  // 256 MiB of real data declared as 1,000 bytes, and a tiny entry declared as 2 GB.
  const auto start = std::chrono::steady_clock::now();
  const std::string underDeclared = Assemble({ZeroBomb("a.dae", 256, 1000)});
  EXPECT_FALSE(ReadBoth(underDeclared).list);
  EXPECT_FALSE(ReadThroughHandle(underDeclared, "a.dae"));
  RawEntry inflated = Stored("b.dae", "tiny");
  inflated.size = 0x7fffffff;
  const std::string overDeclared = Assemble({inflated});
  EXPECT_FALSE(ReadBoth(overDeclared).list);
  EXPECT_FALSE(ReadThroughHandle(overDeclared, "b.dae"));
  EXPECT_LT(SecondsSince(start), 20.0);
}

TEST_F(HostileArchive, AHundredThousandEntriesAreRefusedAndSixtyFiveThousandRead) {
  std::vector<RawEntry> entries;
  entries.reserve(100000);
  for (int i = 0; i < 100000; ++i) entries.push_back(Stored("e/" + std::to_string(i) + ".txt", "x"));
  // Without zip64 the 16-bit count wraps (100,000 mod 65,536): reading only the
  // counted records would hide two thirds of the archive, so it is refused.
  auto start = std::chrono::steady_clock::now();
  const ReadResult wrapped = ReadBoth(Assemble(entries));
  EXPECT_FALSE(wrapped.list);
  EXPECT_FALSE(wrapped.listEx);
  EXPECT_LT(SecondsSince(start), 30.0);
  // The largest count a plain archive states (65,535 is zip64's marker): read whole.
  entries.resize(65534);
  start = std::chrono::steady_clock::now();
  const ReadResult full = ReadBoth(Assemble(entries));
  EXPECT_TRUE(full.list);
  EXPECT_TRUE(full.listEx);
  EXPECT_EQ(full.names.size(), 65534u);
  EXPECT_LT(SecondsSince(start), 60.0);
}

TEST_F(HostileArchive, HostileEntryNamesAreReadButNeverReachTheDisk) {
  const std::vector<std::string> hostile = {"../escape.png",      "../../../tmp/escape.png", "/abs/escape.png",
                                            "\\windows\\esc.png", "models\\back\\slash.png", "a/../../up.png",
                                            "bad\xff\xfe utf8.png", "C:/drive.png",           "models/ok.png"};
  std::vector<kmztest::ZipItem> items;
  for (const auto& n : hostile) items.push_back({n, "image bytes of " + n});
  items.push_back({"doc.kml", kmztest::MakeModelKml({{"7", "models/m.dae", 116.4, 39.9}})});
  const std::string bytes = kmztest::MakeZip(items);

  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  ASSERT_TRUE(CBaseParser::ReadKmzToList(bytes, names, contents, locations));
  EXPECT_EQ(names.size(), hostile.size() + 1);
  for (size_t i = 0; i < hostile.size(); ++i) {
    EXPECT_EQ(names[i], hostile[i]);
    EXPECT_EQ(contents[i], "image bytes of " + hostile[i]);
  }

  // The update rewrites the archive in its own folder and nowhere else; libkml's
  // writer refuses names beginning with "/", "\" or "..", so the file stays as it was.
  const std::string folder = Path("pkg");
  const std::string path = folder + "/m.kmz";
  kmztest::WriteFile(path, bytes);
  const auto before = Tree(dir_);
  const auto cwdBefore = Tree(".");
  EXPECT_FALSE(CBaseParser::UpdateLocationInKml(path, 1, 2));
  EXPECT_EQ(kmztest::ReadFile(path), bytes);
  EXPECT_EQ(Tree(dir_), before);
  EXPECT_EQ(Tree("."), cwdBefore);

  // Names the writer accepts ("a/../b", backslashes, invalid UTF-8) travel as entry names only.
  std::vector<kmztest::ZipItem> accepted;
  for (const auto& n : {"a/../../up.png", "models\\back\\slash.png", "bad\xff\xfe utf8.png", "C:/drive.png"})
    accepted.push_back({n, std::string("data ") + n});
  accepted.push_back({"m.kml", kmztest::ReadFile(kmztest::RealData("kmz/kml/model-macky.kml"))});
  kmztest::WriteFile(path, kmztest::MakeZip(accepted));
  const auto before2 = Tree(dir_);
  if (CBaseParser::UpdateLocationInKml(path, 1, 2)) {
    std::vector<std::string> n2, c2;
    std::map<std::string, LonLatID> l2;
    ASSERT_TRUE(CBaseParser::ReadKmzToList(path, n2, c2, l2));
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(n2[i], accepted[i].name);
  }
  EXPECT_EQ(Tree(dir_), before2);
  EXPECT_EQ(Tree("."), cwdBefore);
}

TEST_F(HostileArchive, RunningOutOfMemoryIsAFailureNotAnException) {
  if (kUnderAddressSanitizer) GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit leaves";
  // An honest 1.5 GiB entry in 1.5 MB, read with 512 MiB of address space to spare.
  const std::string bytes = Assemble({Stored("doc.kml", "<kml/>"), ZeroBomb("models/m.dae", 1536)});
  const std::string path = Path("m.kmz");
  kmztest::WriteFile(path, bytes);
  const auto before = Tree(dir_);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
  rlimit tight = old;
  tight.rlim_cur = AddressSpaceInUse() + (512u << 20);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);

  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  const bool listed = CBaseParser::ReadKmzToList(bytes, names, contents, locations);
  const std::string listWhy = kmztile::platform::LastError();
  std::map<std::string, std::vector<std::string>> textures;
  long* handle = nullptr;
  const bool opened = CBaseParser::ReadKmzToListEx(bytes, textures, locations, handle);
  std::string model = "models/m.dae", data, none;
  const bool modelRead = opened && CBaseParser::ReadOneKmzData(handle, model, data, false);
  const std::string handleWhy = kmztile::platform::LastError();
  if (opened) CBaseParser::ReadOneKmzData(handle, none, none, true);
  const bool moved = CBaseParser::UpdateLocationInKml(path, 1, 2);
  const std::string moveWhy = kmztile::platform::LastError();
  ASSERT_EQ(setrlimit(RLIMIT_AS, &old), 0);

  EXPECT_FALSE(listed);
  EXPECT_EQ(listWhy, "out of memory");
  EXPECT_TRUE(opened);  // listing reads no entry
  EXPECT_FALSE(modelRead);
  EXPECT_EQ(handleWhy, "out of memory");
  EXPECT_FALSE(moved);
  EXPECT_EQ(moveWhy, "out of memory");
  EXPECT_EQ(kmztest::ReadFile(path), bytes);
  EXPECT_EQ(Tree(dir_), before);
}
