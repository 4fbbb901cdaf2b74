#include "core/detail/Fingerprint.h"

#include <zlib.h>

#include <cstdio>
#include <vector>

#include "platform/FileSystem.h"

namespace kmztile::core {
namespace {

// Two independent 32-bit checks over the bytes: CRC-32 and Adler-32, taken
// a piece at a time.
struct Hasher {
  uLong crc = crc32(0L, Z_NULL, 0);
  uLong adler = adler32(0L, Z_NULL, 0);
  void Add(const char* data, std::size_t size) {
    while (size > 0) {
      const uInt chunk = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
      crc = crc32(crc, reinterpret_cast<const Bytef*>(data), chunk);
      adler = adler32(adler, reinterpret_cast<const Bytef*>(data), chunk);
      data += chunk;
      size -= chunk;
    }
  }
  std::string Hex() const {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%08lx%08lx", crc & 0xffffffffUL, adler & 0xffffffffUL);
    return hex;
  }
};

std::string HashOf(const char* data, std::size_t size) {
  Hasher hasher;
  hasher.Add(data, size);
  return hasher.Hex();
}

// The stamp of one file, its hash reused when size and time are unchanged.
std::string FileHash(const std::string& path, const FileStamps& known, FileStamps& seen) {
  FileStamp stamp;
  const auto it = known.find(path);
  // A file the last run did not see is read at once: the open file tells
  // its size and time, which spares a look at the name first.
  if (it != known.end() && !platform::StatFile(path, stamp.size, stamp.mtimeNs)) return "missing";
  if (it != known.end() && it->second.size == stamp.size && it->second.mtimeNs == stamp.mtimeNs) {
    stamp.hash = it->second.hash;
  } else {
    // Hashed as read: a city's textures are never copied whole for it.
    Hasher hasher;
    const bool read = platform::ReadFilePieces(
        path, [&hasher](const char* data, std::size_t size) { hasher.Add(data, size); }, &stamp.size, &stamp.mtimeNs);
    if (!read && it == known.end() && !platform::StatFile(path, stamp.size, stamp.mtimeNs)) return "missing";
    stamp.hash = read ? hasher.Hex() : "unreadable";
  }
  std::string result = std::to_string(stamp.size) + ":" + stamp.hash;
  seen[path] = std::move(stamp);
  return result;
}

}  // namespace

std::string ContentHash(const std::string& bytes) { return HashOf(bytes.data(), bytes.size()); }

std::string ModelFingerprint(const SourceCatalog& catalog, const SourceModel& model, const FileStamps& known,
                             FileStamps& seen) {
  char position[64];
  std::snprintf(position, sizeof position, "%.6f %.6f", model.longitude, model.latitude);
  std::string document;
  if (!catalog.Document(model, document)) document = "damaged";
  std::string all = std::string(position) + "|" + ContentHash(document) + "|" +
                    FileHash(model.colladaPath, known, seen) + "|" +
                    FileHash(catalog.folder + "\\" + model.name + ".txt", known, seen);
  for (const std::string& texture : model.textures)
    all += "|" + texture + "=" + FileHash(catalog.folder + "\\" + model.name + "\\" + texture, known, seen);
  return ContentHash(all);
}

}  // namespace kmztile::core
