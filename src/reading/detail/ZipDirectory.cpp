#include "reading/detail/ZipDirectory.h"

#include <algorithm>
#include <utility>

#include "platform/LastError.h"
#include "reading/detail/ZipBytes.h"
#include "reading/detail/ZipEndRecord.h"

namespace kmztile::reading::detail {
namespace {

constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;

bool Fail(std::string* error, std::string why) {
  if (error) *error = why;
  platform::SetLastError(std::move(why));
  return false;
}

// The bytes one entry occupies: its local header, name, extra field and data.
struct Span {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// True when two entries share bytes: a record pointing at another entry's
// data, or at the same local header, makes one stretch of data count twice.
bool Overlap(std::vector<Span>& spans) {
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (std::size_t i = 1; i < spans.size(); ++i)
    if (spans[i].begin < spans[i - 1].end) return true;
  return false;
}

}  // namespace

std::uint64_t ZipDirectory::MaxInflatedSize(const ZipEntry& entry) {
  if (entry.method == 0) return entry.compressedSize;
  return entry.compressedSize * kMaxDeflateRatio + kDeflateSlack;
}

bool ZipDirectory::Parse(std::string_view bytes, ZipDirectory& out, std::string* error) {
  ZipEndRecord end;
  std::string why;
  if (!FindEndRecord(bytes, end, why)) return Fail(error, why);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::uint64_t cdOffset = end.directoryOffset;
  const std::uint64_t cdEnd = end.position;

  ZipDirectory dir;
  dir.entries_.reserve(end.entryCount);
  std::vector<Span> spans;
  spans.reserve(end.entryCount);
  std::uint64_t declared = 0, inflatable = 0;
  std::uint64_t pos = cdOffset;
  for (std::uint32_t i = 0; i < end.entryCount; ++i) {
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
    if (local + kLocalSize > cdOffset || U32(data + local) != kLocalSignature)
      return Fail(error, "entry " + entry.name + ": bad local header");
    entry.dataOffset = local + kLocalSize + U16(data + local + 26) + U16(data + local + 28);
    if (entry.dataOffset + entry.compressedSize > cdOffset)
      return Fail(error, "entry " + entry.name + ": data outside the archive");
    spans.push_back({local, entry.dataOffset + entry.compressedSize});
    declared += entry.uncompressedSize;
    inflatable += MaxInflatedSize(entry);
    dir.firstByName_.emplace(entry.name, dir.entries_.size());
    dir.entries_.push_back(std::move(entry));
    pos += kCentralSize + nameLen + extraLen + commentLen;
  }
  // Records left over mean the 16-bit count wrapped (more than 65,535 entries
  // without zip64) or was forged: listing only the counted ones would hide entries.
  if (pos != cdEnd) return Fail(error, "central directory holds more than the counted records");
  if (Overlap(spans)) return Fail(error, "overlapping central records");
  // With no data shared, the archive's own bytes bound what all its entries
  // can inflate to; a directory declaring more is forged.
  if (declared > inflatable) return Fail(error, "declared sizes exceed what the archive can hold");
  out = std::move(dir);
  return true;
}

const ZipEntry* ZipDirectory::Find(const std::string& name) const {
  const auto it = firstByName_.find(name);
  return it == firstByName_.end() ? nullptr : &entries_[it->second];
}

bool ZipDirectory::ReadByName(std::string_view bytes, const std::string& name, std::string& out) const {
  const ZipEntry* entry = Find(name);
  if (!entry) {
    platform::SetLastError("no entry named " + name);
    return false;
  }
  return Read(bytes, *entry, out);
}

}  // namespace kmztile::reading::detail
