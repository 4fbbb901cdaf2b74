#include "reading/detail/ZipDirectory.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace kmztile::reading::detail {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;
// Deflate cannot expand data by more than about 1032:1; a larger declared
// ratio is a corrupt or hostile directory.
constexpr std::uint64_t kMaxDeflateRatio = 1100;

std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One decompressor per thread, reused for every entry (it holds no state
// between calls).
libdeflate_decompressor* Decompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> d(libdeflate_alloc_decompressor());
  return d.get();
}

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool ZipDirectory::Parse(std::string_view bytes, ZipDirectory& out, std::string* error) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  if (size < kEndSize) return Fail(error, "too short for a zip archive");

  // The end record sits in the last 22 + 65535 bytes; take the last one whose
  // comment length reaches exactly to the end of the data.
  std::size_t end = std::string_view::npos;
  const std::size_t lowest = size > kEndSize + 0xFFFF ? size - kEndSize - 0xFFFF : 0;
  for (std::size_t pos = size - kEndSize + 1; pos-- > lowest;) {
    if (U32(data + pos) == kEndSignature && pos + kEndSize + U16(data + pos + 20) == size) {
      end = pos;
      break;
    }
  }
  if (end == std::string_view::npos) return Fail(error, "no end of central directory");
  const unsigned char* e = data + end;
  const std::uint16_t disk = U16(e + 4), cdDisk = U16(e + 6), diskEntries = U16(e + 8), total = U16(e + 10);
  const std::uint32_t cdSize = U32(e + 12), cdOffset = U32(e + 16);
  if (disk != 0 || cdDisk != 0 || diskEntries != total) return Fail(error, "multi-disk archive");
  if (total == 0xFFFF || cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu) return Fail(error, "zip64 archive");
  if (static_cast<std::uint64_t>(cdOffset) + cdSize > end) return Fail(error, "central directory outside the archive");

  ZipDirectory dir;
  dir.entries_.reserve(total);
  std::size_t pos = cdOffset;
  const std::size_t cdEnd = static_cast<std::size_t>(cdOffset) + cdSize;
  for (std::uint32_t i = 0; i < total; ++i) {
    if (pos + kCentralSize > cdEnd || U32(data + pos) != kCentralSignature) return Fail(error, "bad central directory record");
    const unsigned char* c = data + pos;
    const std::size_t nameLen = U16(c + 28), extraLen = U16(c + 30), commentLen = U16(c + 32);
    if (pos + kCentralSize + nameLen + extraLen + commentLen > cdEnd) return Fail(error, "central directory record overruns");
    if (nameLen > kMaxNameLength) return Fail(error, "entry name of 1024 bytes or more");
    ZipEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(c + kCentralSize), nameLen);
    if (entry.name.find('\0') != std::string::npos) return Fail(error, "entry name holds a NUL byte");
    entry.flags = U16(c + 8);
    entry.method = U16(c + 10);
    entry.crc32 = U32(c + 16);
    entry.compressedSize = U32(c + 20);
    entry.uncompressedSize = U32(c + 24);
    if (U16(c + 34) != 0) return Fail(error, "multi-disk entry");
    const std::uint64_t local = U32(c + 42);
    if (entry.compressedSize == 0xFFFFFFFFu || entry.uncompressedSize == 0xFFFFFFFFu || local == 0xFFFFFFFFu)
      return Fail(error, "zip64 entry");
    if (local + kLocalSize > cdOffset || U32(data + local) != kLocalSignature) return Fail(error, "bad local header");
    entry.dataOffset = local + kLocalSize + U16(data + local + 26) + U16(data + local + 28);
    if (entry.dataOffset + entry.compressedSize > cdOffset) return Fail(error, "entry data outside the archive");
    dir.firstByName_.emplace(entry.name, dir.entries_.size());
    dir.entries_.push_back(std::move(entry));
    pos += kCentralSize + nameLen + extraLen + commentLen;
  }
  // Records left over mean the 16-bit count wrapped (more than 65,535 entries
  // without zip64) or was forged: listing only the counted ones would hide entries.
  if (pos != cdEnd) return Fail(error, "central directory holds more than the counted records");
  out = std::move(dir);
  return true;
}

const ZipEntry* ZipDirectory::Find(const std::string& name) const {
  const auto it = firstByName_.find(name);
  return it == firstByName_.end() ? nullptr : &entries_[it->second];
}

bool ZipDirectory::Read(std::string_view bytes, const ZipEntry& entry, std::string& out, std::uint64_t maxSize) {
  if (entry.uncompressedSize == 0 || entry.uncompressedSize > maxSize) return false;
  if (entry.name.size() >= kUnreadableNameLength) return false;
  if (entry.flags & 0x1) return false;  // encrypted
  if (entry.dataOffset + entry.compressedSize > bytes.size()) return false;
  const auto* src = reinterpret_cast<const unsigned char*>(bytes.data()) + entry.dataOffset;
  std::string result;
  if (entry.method == 0) {
    if (entry.compressedSize != entry.uncompressedSize) return false;
    result.assign(reinterpret_cast<const char*>(src), entry.compressedSize);
  } else if (entry.method == 8) {
    if (entry.uncompressedSize > entry.compressedSize * kMaxDeflateRatio + 65536) return false;
    result.resize(entry.uncompressedSize);
    libdeflate_decompressor* d = Decompressor();
    // A NULL actual size makes libdeflate insist on exactly the declared size.
    if (!d || libdeflate_deflate_decompress(d, src, entry.compressedSize, result.data(), result.size(), nullptr) !=
                  LIBDEFLATE_SUCCESS)
      return false;
  } else {
    return false;
  }
  const std::uint32_t crc = libdeflate_crc32(0, result.data(), result.size());
  if (crc != entry.crc32) return false;
  out.swap(result);
  return true;
}

bool ZipDirectory::ReadByName(std::string_view bytes, const std::string& name, std::string& out) const {
  const ZipEntry* entry = Find(name);
  return entry && Read(bytes, *entry, out);
}

}  // namespace kmztile::reading::detail
