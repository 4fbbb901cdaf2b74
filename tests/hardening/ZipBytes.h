#pragma once
// Hand-assembled zip archives for the hostile-input tests: exact control over
// declared sizes, names and entry counts, which a zip library would refuse
// to produce, and a deflate stream that expands far beyond its size.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hardening {

/** One entry: its name, the bytes stored in the archive, and what the headers declare. */
struct RawEntry {
  std::string name;
  std::string stored;  // the entry data as it lies in the archive
  std::uint16_t method = 0;  // 0 stored, 8 deflated
  std::uint32_t crc = 0;
  std::uint32_t size = 0;  // declared uncompressed size
};

inline void Put16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>((v >> 8) & 0xff);
}
inline void Put32(std::string& s, std::uint32_t v) {
  Put16(s, v & 0xffff);
  Put16(s, v >> 16);
}

/** A stored entry with honest headers. */
inline RawEntry Stored(const std::string& name, const std::string& data) {
  RawEntry e{name, data, 0, 0, static_cast<std::uint32_t>(data.size())};
  e.crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
  return e;
}

/** A local header (with the name and data after it) or a central record. */
inline void Header(std::string& s, const RawEntry& e, bool isCentral, std::uint32_t offset = 0) {
  Put32(s, isCentral ? 0x02014b50 : 0x04034b50);
  if (isCentral) Put16(s, 20);
  Put16(s, 20);
  Put16(s, 0);
  Put16(s, e.method);
  Put32(s, 0);  // time and date
  Put32(s, e.crc);
  Put32(s, static_cast<std::uint32_t>(e.stored.size()));
  Put32(s, e.size);
  Put16(s, static_cast<std::uint32_t>(e.name.size()));
  Put16(s, 0);  // extra
  if (isCentral) {
    Put16(s, 0);  // comment
    Put16(s, 0);  // disk
    Put16(s, 0);  // internal attributes
    Put32(s, 0);  // external attributes
    Put32(s, offset);
  }
  s += e.name;
  if (!isCentral) s += e.stored;
}

/** An end-of-central-directory record; the comment itself is not appended. */
inline std::string EndRecord(std::size_t count, std::size_t directorySize, std::size_t directoryOffset,
                             std::size_t commentLength = 0) {
  std::string out;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<std::uint32_t>(count & 0xffff));
  Put16(out, static_cast<std::uint32_t>(count & 0xffff));
  Put32(out, static_cast<std::uint32_t>(directorySize));
  Put32(out, static_cast<std::uint32_t>(directoryOffset));
  Put16(out, static_cast<std::uint32_t>(commentLength));
  return out;
}

/** The archive: local headers with data, central directory, end record. */
inline std::string Assemble(const std::vector<RawEntry>& entries) {
  std::string out, central;
  for (const RawEntry& e : entries) {
    const auto offset = static_cast<std::uint32_t>(out.size());
    Header(out, e, false);
    Header(central, e, true, offset);
  }
  const std::size_t centralOffset = out.size();
  out += central;
  return out + EndRecord(entries.size(), central.size(), centralOffset);
}

/**
 * One entry's local data listed @p copies times by the central directory:
 * every record points at the same bytes, under names of the same length
 * whose first letter differs (a, b, c, ...).
 */
inline std::string SharedDataArchive(const RawEntry& e, int copies) {
  std::string out, central;
  Header(out, e, false);
  for (int i = 0; i < copies; ++i) {
    RawEntry copy = e;
    copy.name[0] = static_cast<char>('a' + i % 26);
    Header(central, copy, true, 0);
  }
  const std::size_t centralOffset = out.size();
  out += central;
  return out + EndRecord(copies, central.size(), centralOffset);
}

/**
 * A deflated entry of @p megabytes MiB of zeros, built from one fully
 * flushed 1 MiB block repeated, so it costs about a kilobyte per MiB to
 * make. Headers declare the real size truncated to 32 bits, or @p declared.
 */
inline RawEntry ZeroBomb(const std::string& name, std::uint32_t megabytes, std::int64_t declared = -1) {
  const std::string mib(1u << 20, '\0');
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string block(deflateBound(&z, mib.size()) + 64, '\0'), tail(64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(mib.data()));
  z.avail_in = static_cast<uInt>(mib.size());
  z.next_out = reinterpret_cast<Bytef*>(block.data());
  z.avail_out = static_cast<uInt>(block.size());
  deflate(&z, Z_FULL_FLUSH);
  block.resize(block.size() - z.avail_out);
  z.next_out = reinterpret_cast<Bytef*>(tail.data());
  z.avail_out = static_cast<uInt>(tail.size());
  deflate(&z, Z_FINISH);
  tail.resize(tail.size() - z.avail_out);
  deflateEnd(&z);

  RawEntry e{name, "", 8, 0, 0};
  e.stored.reserve(block.size() * megabytes + tail.size());
  const uLong mibCrc = crc32(0, reinterpret_cast<const Bytef*>(mib.data()), mib.size());
  uLong crc = 0;
  for (std::uint32_t i = 0; i < megabytes; ++i) {
    e.stored += block;
    crc = crc32_combine(crc, mibCrc, static_cast<z_off_t>(mib.size()));
  }
  e.stored += tail;
  e.crc = static_cast<std::uint32_t>(crc);
  e.size = declared >= 0 ? static_cast<std::uint32_t>(declared)
                         : static_cast<std::uint32_t>(static_cast<std::uint64_t>(megabytes) << 20);
  return e;
}

}  // namespace hardening
