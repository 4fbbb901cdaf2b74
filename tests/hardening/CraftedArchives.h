#pragma once
// Hand-made archives around the end record and the central directory, each
// with what the reader must make of it: read it, or refuse it for a stated
// reason. Shared by the differential test (which also asks minizip) and the
// command tests.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipBytes.h"

namespace hardening {

struct Crafted {
  std::string label;
  std::string bytes;
  /** Empty when the archive must be read; otherwise part of the reason given for refusing it. */
  std::string refusal;
  /** Refused on purpose although minizip reads it (another reader could see other entries). */
  bool deliberate = false;
};

/** A small model package: its KML, a model and a texture. */
inline std::string SmallPackage() {
  return kmztest::MakeZip({{"doc.kml", kmztest::MakeModelKml({{"7", "models/m.dae", 116.4, 39.9}})},
                           {"images/t.jpg", std::string(300, 't'), true},
                           {"models/m.dae", "<COLLADA/>"}});
}

/** @p zip with its end record's comment length set to @p length (the comment itself not added). */
inline std::string WithCommentLength(std::string zip, std::size_t length) {
  zip[zip.size() - 2] = static_cast<char>(length & 0xff);
  zip[zip.size() - 1] = static_cast<char>(length >> 8);
  return zip;
}

/** The first central record of @p package, as it stands. */
inline std::string FirstCentralRecord(const std::string& package) {
  auto u16 = [&](std::size_t at) { return (package[at] & 0xff) | ((package[at + 1] & 0xff) << 8); };
  const std::size_t first = u16(package.size() - 6) | (u16(package.size() - 4) << 16);
  return package.substr(first, 46 + u16(first + 28) + u16(first + 30) + u16(first + 32));
}

/**
 * A package whose comment holds a second central directory of one record
 * (by default its first one, the KML) and an end record: minizip, and so
 * libkml, read the second directory; a reader that wants the comment to
 * reach the end of the data reads the first.
 */
inline std::string SecondDirectoryInComment(const std::string& package, std::string record = "") {
  if (record.empty()) record = FirstCentralRecord(package);
  const std::string fake = record + EndRecord(1, record.size(), package.size());
  return WithCommentLength(package, fake.size()) + fake;
}

/** A zip64 end-record locator pointing at @p target, as the comment of @p package (after @p prefix). */
inline std::string Zip64LocatorInComment(const std::string& package, const std::string& prefix, std::uint64_t target) {
  std::string comment = prefix;
  Put32(comment, 0x07064b50);
  Put32(comment, 0);  // disk of the zip64 end record
  Put32(comment, static_cast<std::uint32_t>(target));
  Put32(comment, static_cast<std::uint32_t>(target >> 32));
  Put32(comment, 1);  // disks in all
  return WithCommentLength(package, comment.size()) + comment;
}

inline std::vector<Crafted> CraftedArchives() {
  const std::string package = SmallPackage();
  std::vector<Crafted> out;
  out.push_back({"trailing bytes after the end record", package + "\r\n" + std::string(100, 'x'), ""});
  const std::string comment = "written by hand";
  out.push_back({"comment", WithCommentLength(package, comment.size()) + comment, ""});
  out.push_back({"comment and trailing bytes", WithCommentLength(package, comment.size()) + comment + "\n\n", ""});
  out.push_back({"comment of 65,000 bytes", WithCommentLength(package, 65000) + std::string(65000, 'c'), ""});
  // minizip looks back 65,535 bytes only, so it never finds this record.
  out.push_back({"comment of 65,535 bytes", WithCommentLength(package, 65535) + std::string(65535, 'c'),
                 "no end of central directory"});
  const std::string signature = std::string("PK\x05\x06", 4) + " inside a comment";
  out.push_back({"end signature in the comment", WithCommentLength(package, signature.size()) + signature,
                 "truncated end of central directory"});
  out.push_back({"second directory in the comment", SecondDirectoryInComment(package), "ambiguous end record", true});
  // The hidden record's name would overrun libkml's 1 KB buffer, had libkml seen it.
  std::string longName;
  Header(longName, Stored(std::string(1100, 'n'), "x"), true, 0);
  out.push_back({"second directory in the comment with a name of 1,100 bytes",
                 SecondDirectoryInComment(package, longName), "ambiguous end record"});
  // minizip follows a zip64 locator whose target holds a zip64 end signature.
  out.push_back({"zip64 locator", Zip64LocatorInComment(package, std::string("PK\x06\x06", 4), package.size()),
                 "zip64 archive"});
  out.push_back({"zip64 locator pointing past the end", Zip64LocatorInComment(package, "", ~std::uint64_t{0} - 1), ""});
  out.push_back({"records sharing local data", SharedDataArchive(Stored("models/m.dae", "<COLLADA/>"), 3),
                 "overlapping central records", true});
  std::string gap = package;  // ten bytes between the directory and the end record
  gap.insert(gap.size() - 22, std::string(10, '\0'));
  out.push_back({"bytes between directory and end record", gap, "bytes between the central directory"});
  RawEntry liar = Stored("models/m.dae", "tiny");
  liar.size = 0x7fffffff;
  out.push_back({"declared size beyond the data", Assemble({liar}), "declared sizes exceed"});
  RawEntry damaged = Stored("models/m.dae", "<COLLADA/>");
  damaged.crc ^= 1;
  out.push_back({"CRC mismatch", Assemble({Stored("doc.kml", "<kml/>"), damaged}), "entry models/m.dae: CRC mismatch"});
  // libkml never reads names of 256 bytes or more, nor zero-length files.
  out.push_back({"name of 300 bytes", Assemble({Stored(std::string(296, 'n') + ".dae", "x")}),
                 "name of 256 bytes or more", true});
  out.push_back({"zero-length file", Assemble({Stored("doc.kml", "<kml/>"), Stored("empty.txt", "")}),
                 "entry empty.txt: empty", true});
  return out;
}

}  // namespace hardening
