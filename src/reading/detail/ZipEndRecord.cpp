#include "reading/detail/ZipEndRecord.h"

#include <algorithm>
#include <cstring>

#include "reading/detail/ZipBytes.h"

namespace kmztile::reading::detail {
namespace {

constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLocatorSize = 20;
// minizip looks for the record this far back from the end of the data.
constexpr std::size_t kSearchSpan = 0xFFFF;

// The last position at or above @p lowest (and below @p below) where the
// four signature bytes start; 0 when there is none (minizip never takes a
// record at offset 0 either). memrchr skips to each "P" quickly: this runs
// over up to 64 KiB of every archive opened.
std::size_t LastSignature(const unsigned char* data, std::size_t size, std::size_t lowest, std::size_t below,
                          std::uint32_t signature) {
  if (size < 4) return 0;
  std::size_t end = std::min(below, size - 3);  // a signature must fit before the end
  while (end > lowest) {
    const void* hit = memrchr(data + lowest, 'P', end - lowest);
    if (!hit) return 0;
    const auto pos = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - data);
    if (pos == 0) return 0;
    if (U32(data + pos) == signature) return pos;
    end = pos;
  }
  return 0;
}

// A zip64 locator minizip would follow instead of the plain end record:
// disk 0, one disk in all, and a zip64 end record where it points.
bool HasZip64Locator(const unsigned char* data, std::size_t size, std::size_t lowest) {
  const std::size_t at = LastSignature(data, size, lowest, size, 0x07064b50);
  if (at == 0 || at + kLocatorSize > size) return false;
  if (U32(data + at + 4) != 0 || U32(data + at + 16) != 1) return false;
  const std::uint64_t target = U64(data + at + 8);
  return target <= size - 4 && U32(data + target) == 0x06064b50;
}

// An end record at @p at that a reader could use for the same data: single
// disk, consistent counts, its directory before it, and its comment reaching
// over the record at @p used (so that record would be mere comment to it).
bool CoversAsComment(const unsigned char* data, std::size_t size, std::size_t at, std::size_t used) {
  if (at + kEndSize > size) return false;
  const unsigned char* e = data + at;
  if (U16(e + 4) != 0 || U16(e + 6) != 0 || U16(e + 8) != U16(e + 10)) return false;
  if (static_cast<std::uint64_t>(U32(e + 16)) + U32(e + 12) > at) return false;
  return at + kEndSize + U16(e + 20) >= used + kEndSize;
}

bool Fail(std::string& why, const char* reason) {
  why = reason;
  return false;
}

}  // namespace

bool FindEndRecord(std::string_view bytes, ZipEndRecord& out, std::string& why) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  if (size < kEndSize) return Fail(why, "too short for a zip archive");
  const std::size_t lowest = size > kSearchSpan ? size - kSearchSpan : 0;
  if (HasZip64Locator(data, size, lowest)) return Fail(why, "zip64 archive");

  const std::size_t end = LastSignature(data, size, lowest, size, 0x06054b50);
  if (end == 0) return Fail(why, "no end of central directory");
  if (end + kEndSize > size) return Fail(why, "truncated end of central directory");
  const unsigned char* e = data + end;
  if (U16(e + 4) != 0 || U16(e + 6) != 0 || U16(e + 8) != U16(e + 10)) return Fail(why, "multi-disk archive");
  ZipEndRecord record;
  record.position = end;
  record.entryCount = U16(e + 10);
  record.directorySize = U32(e + 12);
  record.directoryOffset = U32(e + 16);
  if (record.entryCount == 0xFFFF || record.directorySize == 0xFFFFFFFFu || record.directoryOffset == 0xFFFFFFFFu)
    return Fail(why, "zip64 archive");
  const std::uint64_t directoryEnd = static_cast<std::uint64_t>(record.directoryOffset) + record.directorySize;
  if (directoryEnd > end) return Fail(why, "central directory outside the archive");
  if (directoryEnd != end) return Fail(why, "bytes between the central directory and its end record");

  for (std::size_t at = LastSignature(data, size, lowest, end, 0x06054b50); at != 0;
       at = LastSignature(data, size, lowest, at, 0x06054b50)) {
    if (CoversAsComment(data, size, at, end)) return Fail(why, "ambiguous end record (another end record's comment holds it)");
  }
  out = record;
  return true;
}

}  // namespace kmztile::reading::detail
