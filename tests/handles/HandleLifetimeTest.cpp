// The archive handle: one reference after opening, untouched on failure,
// closed exactly once, and the archive object and its memory gone after.
#include <malloc.h>

#include <thread>

#include "HandleTestSupport.h"
#include "TestSupport.h"
#include "reading/detail/ArchiveHandles.h"

using kmztest::LazyArchive;
using kmztest::MakeZip;
namespace handles = kmztile::reading::detail;

namespace {

const std::string& SmallArchive() {
  static const std::string bytes =
      MakeZip({{"doc.kml", kmztest::MakeModelKml({{"1", "m.dae", 3, 4}})}, {"t.jpg", "T"}, {"m.dae", "<m/>"}});
  return bytes;
}

}  // namespace

TEST(ArchiveHandle, OwnsTheOnlyReferenceWhileOpenAndReadsDoNotChangeIt) {
  const std::size_t openBefore = handles::OpenArchiveHandleCount();
  LazyArchive a(SmallArchive());
  ASSERT_TRUE(a.opened);
  ASSERT_NE(a.handle, nullptr);
  EXPECT_EQ(a.RefCount(), 1);
  EXPECT_EQ(handles::OpenArchiveHandleCount(), openBefore + 1);
  std::string data;
  EXPECT_TRUE(a.Read("m.dae", data));
  std::vector<std::string> contents;
  EXPECT_TRUE(CBaseParser::ReadTextureToList(a.handle, {"t.jpg"}, contents));
  EXPECT_FALSE(a.Read("absent", data));
  EXPECT_EQ(a.RefCount(), 1);
  EXPECT_TRUE(a.Close());
  EXPECT_EQ(handles::OpenArchiveHandleCount(), openBefore);
}

TEST(ArchiveHandle, FailedOpenLeavesHandleAndMapsAsTheyWere) {
  long sentinel = 0;
  const std::size_t openBefore = handles::OpenArchiveHandleCount();
  const std::vector<std::string> sources = {
      "",
      "/nonexistent/tile.kmz",
      std::string("PK\x03\x04garbage", 11),
      "not a zip at all",
      kmztest::RealData("kmz/malformed/bad.kmz"),
      kmztest::RealData("kmz/malformed/bad-pk-data.kmz"),
      kmztest::RealData("kmz/malformed/overflow_bad_offset.kmz"),
      kmztest::RealData("kmz/malformed/overflow_corrupted_stack.kmz"),
  };
  for (const auto& source : sources) {
    std::map<std::string, std::vector<std::string>> textures{{"k", {"v"}}};
    std::map<std::string, LonLatID> locations{{"k", LonLatID{1, 2, 3}}};
    long* handle = &sentinel;
    EXPECT_FALSE(CBaseParser::ReadKmzToListEx(source, textures, locations, handle)) << source.substr(0, 60);
    EXPECT_EQ(handle, &sentinel);
    EXPECT_EQ(textures.size(), 1u);
    EXPECT_EQ(locations.size(), 1u);
  }
  EXPECT_EQ(handles::OpenArchiveHandleCount(), openBefore);
}

TEST(ArchiveHandle, ClosingDestroysTheArchiveOnceAndKillsTheHandle) {
  const std::size_t destroyedBefore = handles::DestroyedArchiveCount();
  LazyArchive a(SmallArchive());
  ASSERT_TRUE(a.opened);
  long* const handle = a.handle;
  EXPECT_TRUE(a.Close());
  EXPECT_EQ(handles::DestroyedArchiveCount(), destroyedBefore + 1);
  // A closed handle is refused without touching the freed object.
  std::string name = "m.dae", data = "kept";
  EXPECT_FALSE(CBaseParser::ReadOneKmzData(handle, name, data, false));
  EXPECT_EQ(data, "kept");
  std::vector<std::string> contents{"kept"};
  EXPECT_FALSE(CBaseParser::ReadTextureToList(handle, {"t.jpg"}, contents));
  EXPECT_EQ(contents, std::vector<std::string>{"kept"});
  EXPECT_FALSE(CBaseParser::ReadOneKmzData(handle, name, data, true)) << "second close";
  EXPECT_EQ(handles::DestroyedArchiveCount(), destroyedBefore + 1);
}

TEST(ArchiveHandle, NullHandleIsRefused) {
  std::string name = "m.dae", data = "kept";
  EXPECT_FALSE(CBaseParser::ReadOneKmzData(nullptr, name, data, false));
  EXPECT_FALSE(CBaseParser::ReadOneKmzData(nullptr, name, data, true));
  EXPECT_EQ(data, "kept");
  std::vector<std::string> contents{"a", "b", "c"};
  EXPECT_FALSE(CBaseParser::ReadTextureToList(nullptr, {"t.jpg"}, contents));
  EXPECT_EQ(contents.size(), 3u) << "contents is not resized for a refused handle";
}

TEST(ArchiveHandle, HandlesAreIndependent) {
  LazyArchive a(SmallArchive());
  LazyArchive b(MakeZip({{"m.dae", "<other/>"}}));
  ASSERT_TRUE(a.opened && b.opened);
  EXPECT_NE(a.handle, b.handle);
  EXPECT_TRUE(a.Close());
  std::string data;
  EXPECT_TRUE(b.Read("m.dae", data));
  EXPECT_EQ(data, "<other/>");
}

TEST(ArchiveHandle, OverwritesTheHostVariableWithoutClosingItsOldHandle) {
  LazyArchive first(SmallArchive());
  ASSERT_TRUE(first.opened);
  long* variable = first.handle;
  std::map<std::string, std::vector<std::string>> textures;
  std::map<std::string, LonLatID> locations;
  ASSERT_TRUE(CBaseParser::ReadKmzToListEx(SmallArchive(), textures, locations, variable));
  EXPECT_NE(variable, first.handle);
  std::string data;
  EXPECT_TRUE(first.Read("m.dae", data)) << "the earlier handle stays open";
  std::string unused;
  EXPECT_TRUE(CBaseParser::ReadOneKmzData(variable, unused, unused, true));
}

using ArchiveHandleFile = kmztest::TempDirTest;

TEST(ArchiveHandle, OverlappingReadsOnOneHandleStayConsistent) {
  LazyArchive a(SmallArchive());
  ASSERT_TRUE(a.opened);
  std::vector<std::thread> threads;
  std::vector<int> good(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        std::string data;
        std::vector<std::string> contents;
        if (a.Read("m.dae", data) && data == "<m/>" &&
            CBaseParser::ReadTextureToList(a.handle, {"t.jpg"}, contents) && contents[0] == "T")
          ++good[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(good, std::vector<int>(4, 500));
  EXPECT_EQ(a.RefCount(), 1) << "every temporary reference was dropped";
}

TEST_F(ArchiveHandleFile, OpenedFromAFileHoldsNoDescriptor) {
  const std::string path = Path("tile.kmz");
  kmztest::WriteFile(path, SmallArchive());
  const int fdsBefore = kmztest::OpenFdCount();
  LazyArchive a(path);
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(kmztest::OpenFdCount(), fdsBefore);
  std::string data;
  EXPECT_TRUE(a.Read("m.dae", data));
  EXPECT_EQ(data, "<m/>");
  EXPECT_EQ(a.textures.size(), 1u);
  EXPECT_EQ(a.locations.size(), 1u);
}

#if !defined(__SANITIZE_ADDRESS__)
// Observed from outside the library: the archive's bytes (held twice, by
// libkml's object and by the entry index) go back to the allocator on close.
TEST(ArchiveHandle, ClosingReturnsTheArchiveMemory) {
  constexpr std::size_t kSize = 8u << 20;
  std::string big(kSize, '\0');
  for (std::size_t i = 0; i < kSize; ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string bytes = MakeZip({{"m.dae", "<m/>"}, {"big.bin", big, true}});
  big.clear();
  big.shrink_to_fit();
  const auto mapped = [] {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.hblkhd + info.uordblks);  // bytes in use, mapped or not
  };
  const long long before = mapped();
  {
    LazyArchive a(bytes);
    ASSERT_TRUE(a.opened);
    EXPECT_GE(mapped() - before, static_cast<long long>(2 * kSize));
    std::vector<std::string> contents;
    ASSERT_TRUE(CBaseParser::ReadTextureToList(a.handle, {"big.bin"}, contents));
    EXPECT_EQ(contents[0].size(), kSize);
    EXPECT_TRUE(a.Close());
  }
  EXPECT_LE(mapped() - before, static_cast<long long>(kSize / 16));
}
#endif
