// The checked central directory behind every archive read.
#include "TestSupport.h"
#include "platform/ZipWriter.h"
#include "reading/detail/ZipDirectory.h"

using kmztile::reading::detail::ZipDirectory;
using kmztile::reading::detail::ZipEntry;

TEST(ZipDirectory, ParsesEntriesInDirectoryOrder) {
  const std::string zip = kmztest::MakeZip({{"b.txt", "bee"}, {"dir/", ""}, {"a.txt", std::string(5000, 'a')}});
  ZipDirectory dir;
  ASSERT_TRUE(ZipDirectory::Parse(zip, dir));
  ASSERT_EQ(dir.entries().size(), 3u);
  EXPECT_EQ(dir.entries()[0].name, "b.txt");
  EXPECT_EQ(dir.entries()[1].name, "dir/");
  std::string out;
  ASSERT_TRUE(dir.ReadByName(zip, "a.txt", out));
  EXPECT_EQ(out, std::string(5000, 'a'));
  EXPECT_FALSE(dir.ReadByName(zip, "dir/", out));  // zero length
  EXPECT_FALSE(dir.ReadByName(zip, "missing", out));
}

TEST(ZipDirectory, EndRecordIsTheLastSignatureAsMinizipFindsIt) {
  std::string zip = kmztest::MakeZip({{"a", "x"}});
  // A comment, then bytes after it that no length accounts for: both are read past.
  const std::string comment = "hello";
  zip[zip.size() - 2] = static_cast<char>(comment.size());
  ZipDirectory dir;
  std::string why;
  ASSERT_TRUE(ZipDirectory::Parse(zip + comment + "\r\n", dir, &why)) << why;
  EXPECT_EQ(dir.entries().size(), 1u);
  // minizip takes the last end signature even inside a comment; what follows
  // it there is no record, so the archive is refused rather than read two ways.
  const std::string signature = std::string("PK\x05\x06", 4) + " inside a comment";
  zip[zip.size() - 2] = static_cast<char>(signature.size());
  EXPECT_FALSE(ZipDirectory::Parse(zip + signature, dir, &why));
  EXPECT_EQ(why, "truncated end of central directory");
}

TEST(ZipDirectory, RefusesMalformedDirectories) {
  const std::string zip = kmztest::MakeZip({{"a.txt", "abc"}, {"b.txt", "def"}});
  ZipDirectory dir;
  std::string why;
  EXPECT_FALSE(ZipDirectory::Parse("", dir, &why));
  EXPECT_FALSE(ZipDirectory::Parse(std::string(100, '\0'), dir, &why));
  for (size_t cut : {1u, 5u, 22u, 40u}) EXPECT_FALSE(ZipDirectory::Parse(zip.substr(0, zip.size() - cut), dir));

  std::string badCount = zip;  // directory says three entries, holds two
  badCount[badCount.size() - 12] = 3;
  badCount[badCount.size() - 14] = 3;
  EXPECT_FALSE(ZipDirectory::Parse(badCount, dir, &why));

  std::string badOffset = zip;  // local header offset of the second record points nowhere
  const auto second = badOffset.rfind(std::string("PK\x01\x02", 4));
  badOffset[second + 42] = 0x7f;
  EXPECT_FALSE(ZipDirectory::Parse(badOffset, dir, &why));
  EXPECT_FALSE(why.empty());
}

TEST(ZipDirectory, ReadRefusesHostileDeclaredSizes) {
  const std::string zip = kmztest::MakeZip({{"a.txt", std::string(1000, 'z')}});
  ZipDirectory dir;
  ASSERT_TRUE(ZipDirectory::Parse(zip, dir));
  ZipEntry entry = dir.entries()[0];
  std::string out = "keep";
  ZipEntry bomb = entry;
  bomb.uncompressedSize = 1u << 31;  // far beyond what deflate can expand the data to
  EXPECT_FALSE(ZipDirectory::Read(zip, bomb, out));
  ZipEntry limited = entry;
  EXPECT_FALSE(ZipDirectory::Read(zip, limited, out, 999));  // above the per-entry limit
  ZipEntry encrypted = entry;
  encrypted.flags |= 1;
  EXPECT_FALSE(ZipDirectory::Read(zip, encrypted, out));
  ZipEntry wrongSize = entry;
  wrongSize.uncompressedSize = 999;
  EXPECT_FALSE(ZipDirectory::Read(zip, wrongSize, out));
  EXPECT_EQ(out, "keep");
  EXPECT_TRUE(ZipDirectory::Read(zip, entry, out));
  EXPECT_EQ(out.size(), 1000u);
}

// A COLLADA file deflated once and added to many tiles must give each tile
// the archive that deflating it in place gives, at every size around
// minizip's 64 KiB write buffer; and the reader must get the text back.
TEST(ZipDirectory, PreDeflatedTextsWriteTheArchiveAddFileWrites) {
  std::string noise;
  unsigned state = 12345;
  for (int i = 0; i < 3 << 20; ++i) {
    state = state * 1103515245u + 12345u;
    noise += static_cast<char>('0' + (state >> 16) % 40);
  }
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65535}, std::size_t{65537},
                                 std::size_t{1} << 20, noise.size()}) {
    const std::string text = noise.substr(0, size);
    kmztile::platform::ZipWriter direct, predeflated;
    kmztile::platform::DeflatedText deflated;
    ASSERT_TRUE(kmztile::platform::DeflateText(text, deflated)) << size;
    ASSERT_TRUE(direct.AddFile("a.kml", "<kml/>") && direct.AddFile("m/x.dae", text));
    ASSERT_TRUE(predeflated.AddFile("a.kml", "<kml/>") && predeflated.AddDeflated("m/x.dae", deflated));
    std::string a, b, back;
    ASSERT_TRUE(direct.Finish(a) && predeflated.Finish(b));
    EXPECT_TRUE(a == b) << size << " bytes: the archives differ";
    ZipDirectory dir;
    ASSERT_TRUE(ZipDirectory::Parse(b, dir)) << size;
    if (size > 0) {
      ASSERT_TRUE(dir.ReadByName(b, "m/x.dae", back)) << size;
      EXPECT_TRUE(back == text) << size;
    }
    std::string inflated;
    ASSERT_TRUE(kmztile::platform::InflateText(deflated, inflated)) << size;
    EXPECT_TRUE(inflated == text) << size;
    if (size > 1) {  // a damaged stream or CRC is refused, not handed on
      kmztile::platform::DeflatedText bad = deflated;
      bad.crc ^= 1;
      EXPECT_FALSE(kmztile::platform::InflateText(bad, inflated)) << size;
    }
  }
}
