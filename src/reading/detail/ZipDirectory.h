#pragma once
// The central directory of a zip archive held in memory, parsed and checked
// once, with an index by name. It guards libkml (which overruns a fixed
// buffer on entry names of 1,024 bytes or more and leaks on archives without
// a directory) and reads entries in constant time per entry, verifying each
// against its CRC-32, while keeping libkml's observable read rules:
// zero-length entries fail, the per-entry size limit, case-sensitive names,
// the first of duplicate names wins, names of 256 bytes or more are listed
// but never read. Every refusal leaves a short reason in the thread's last
// error (platform/LastError.h).
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kmztile::reading::detail {

/** One central-directory record. */
struct ZipEntry {
  std::string name;
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::uint64_t dataOffset = 0;  // first byte of the entry's data
};

/** The checked central directory of one archive. */
class ZipDirectory {
 public:
  /** libkml's default per-entry limit on the declared uncompressed size. */
  static constexpr std::uint64_t kDefaultMaxEntrySize = 2147483647u;
  /** Entry names this long or longer overrun libkml's listing buffer. */
  static constexpr std::size_t kMaxNameLength = 1023;
  /** libkml never reads entries whose names are this long or longer. */
  static constexpr std::size_t kUnreadableNameLength = 256;
  /**
   * Deflate cannot expand data by more than about 1032:1 (plus a few bytes
   * of a final block); a larger declared ratio is a corrupt or hostile entry.
   */
  static constexpr std::uint64_t kMaxDeflateRatio = 1100;
  static constexpr std::uint64_t kDeflateSlack = 1024;

  /**
   * Parses and checks @p bytes: the end record minizip (and so libkml) uses,
   * unambiguous (ZipEndRecord.h), every directory record and local header
   * inside the archive, no two entries sharing bytes, declared sizes in total
   * no more than the entries' data can inflate to, names shorter than 1,024
   * bytes without NUL, no multi-disk or zip64 archives.
   * @return false, with a reason in @p error and the last error, for anything else.
   */
  static bool Parse(std::string_view bytes, ZipDirectory& out, std::string* error = nullptr);

  /** Records in directory order. */
  const std::vector<ZipEntry>& entries() const { return entries_; }
  /** The first record named exactly @p name, or nullptr. */
  const ZipEntry* Find(const std::string& name) const;

  /**
   * Inflates one entry of @p bytes (the archive this directory was parsed
   * from) into @p out, replacing it. Fails, leaving @p out untouched, for a
   * zero-length entry, one above @p maxSize, a name of 256 bytes or more, an
   * encrypted entry, an unknown method, corrupt data or a CRC mismatch.
   */
  static bool Read(std::string_view bytes, const ZipEntry& entry, std::string& out,
                   std::uint64_t maxSize = kDefaultMaxEntrySize);

  /**
   * Checks one entry of @p bytes against its declared size and CRC-32
   * without holding it whole: deflated data is inflated in 64 KiB chunks.
   * Zero-length entries pass when their CRC is 0; libkml's read rules
   * (size limit, long names) do not apply.
   */
  static bool Verify(std::string_view bytes, const ZipEntry& entry);

  /** The most that @p entry's data can inflate to (its size when stored). */
  static std::uint64_t MaxInflatedSize(const ZipEntry& entry);

  /** Reads the first entry named @p name; false when there is none or the read fails. */
  bool ReadByName(std::string_view bytes, const std::string& name, std::string& out) const;

 private:
  std::vector<ZipEntry> entries_;
  std::unordered_map<std::string, std::size_t> firstByName_;
};

}  // namespace kmztile::reading::detail
