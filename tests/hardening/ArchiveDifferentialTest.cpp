// Our archive reader against minizip's unzip API, the reader libkml lists
// archives with, over every archive of the test data and the crafted ones.
// Both must agree on which archives are readable, on the entry names (which
// must also be what libkml lists) and on every entry's bytes. Deliberate
// differences are listed with the reason our reader gives:
// - zero-length files and names of 256 bytes or more: libkml never reads
//   them, so neither does ReadKmzToList;
// - zip64 entries: refused outright;
// - an end record hidden in another one's comment, and central records that
//   share local data: refused, because another reader would list different
//   entries, or the same data twice.
#include <algorithm>
#include <filesystem>
#include <map>

#include "BaseParser.h"
#include "CraftedArchives.h"
#include "MinizipReader.h"
#include "kml/engine.h"
#include "platform/LastError.h"

namespace fs = std::filesystem;
using namespace hardening;

namespace {

// Archives of the test data that ReadKmzToList refuses, with its reason and
// whether minizip reads them all the same.
struct Known {
  const char* refusal;
  bool deliberate;
};
const std::map<std::string, Known> kRefused = {
    {"kmz/malformed/bad-pk-data.kmz", {"zip64 entry", false}},          // central sizes of 0xFFFFFFFF
    {"kmz/structure/minlodpixels.kmz", {"empty-file: empty", true}},    // a zero-length .svn/empty-file
    {"kmz/malformed/bad.kmz", {"no end of central directory", false}},  // not a zip at all
    {"kmz/malformed/bad-too-large.kmz", {"declared sizes exceed", false}},
    {"kmz/malformed/overflow_bad_offset.kmz", {"bad local header", false}},
};

std::vector<Crafted> TestDataArchives() {
  std::vector<Crafted> out;
  const fs::path root = kmztest::RealData("");
  for (const auto& e : fs::recursive_directory_iterator(kmztest::RealData("kmz"))) {
    if (!e.is_regular_file() || e.path().extension() != ".kmz") continue;
    const std::string relative = fs::relative(e.path(), root).generic_string();
    const auto known = kRefused.find(relative);
    const bool refused = known != kRefused.end();
    out.push_back({relative, kmztest::ReadFile(e.path().string()), refused ? known->second.refusal : "",
                   refused && known->second.deliberate});
  }
  return out;
}

std::vector<std::string> LibkmlList(const std::string& bytes) {
  std::vector<std::string> names;
  kmlengine::KmzFilePtr kmz(kmlengine::KmzFile::OpenFromString(bytes));
  if (kmz) kmz->List(&names);
  return names;
}

class ArchiveDifferential : public kmztest::TempDirTest {};

}  // namespace

TEST_F(ArchiveDifferential, OurReaderAgreesWithMinizipOnEveryArchive) {
  std::vector<Crafted> cases = TestDataArchives();
  ASSERT_GE(cases.size(), 20u) << "test data missing";
  for (Crafted& c : CraftedArchives()) cases.push_back(std::move(c));
  int readTogether = 0;
  for (const Crafted& c : cases) {
    SCOPED_TRACE(c.label);
    const MinizipListing theirs = ReadWithMinizip(c.bytes);
    const std::string path = Path("case.kmz");
    kmztest::WriteFile(path, c.bytes);
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    const bool ours = CBaseParser::ReadKmzToList(path, names, contents, locations);
    const std::string why = kmztile::platform::LastError();

    if (!c.refusal.empty()) {
      EXPECT_FALSE(ours);
      EXPECT_NE(why.find(c.refusal), std::string::npos) << "reason given: " << why;
      EXPECT_EQ(theirs.readable, c.deliberate) << "a deliberate difference must be one";
    } else {
      EXPECT_EQ(ours, theirs.readable) << "our reason: " << why;
      // Everything but the malformed samples must be read (by both).
      if (c.label.find("malformed/") == std::string::npos) {
        EXPECT_TRUE(ours) << why;
      }
    }
    // libkml lists what minizip finds: the directory that has to be the checked
    // one. (Not asked about names of 1,024 bytes or more: it overruns a buffer on them.)
    const bool libkmlSafe = std::all_of(theirs.names.begin(), theirs.names.end(),
                                        [](const std::string& n) { return n.size() < 1024; });
    if (theirs.opened && libkmlSafe) {
      EXPECT_EQ(LibkmlList(c.bytes), theirs.names);
    }
    if (!ours || !theirs.readable) continue;
    ++readTogether;
    EXPECT_EQ(names, theirs.names);
    ASSERT_EQ(contents.size(), theirs.contents.size());
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i].back() != '/') {
        EXPECT_EQ(contents[i], theirs.contents[i]) << names[i];
      }
  }
  EXPECT_GE(readTogether, 20);
}
