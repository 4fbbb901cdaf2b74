// Reading and verifying single entries of a checked directory. Whole reads
// inflate straight into the result with libdeflate; verification streams the
// entry through zlib in fixed-size chunks, so checking an entry never needs
// memory for all of it.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

#include "platform/LastError.h"
#include "reading/detail/ZipDirectory.h"

namespace kmztile::reading::detail {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

struct DecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One decompressor per thread, reused for every entry (it holds no state
// between calls).
libdeflate_decompressor* Decompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> d(libdeflate_alloc_decompressor());
  return d.get();
}

bool Fail(const ZipEntry& entry, const char* why) {
  platform::SetLastError("entry " + entry.name + ": " + why);
  return false;
}

// Why the entry's data cannot be taken as its declared content, or nullptr.
const char* DataProblem(std::string_view bytes, const ZipEntry& entry) {
  if (entry.flags & 0x1) return "encrypted";
  if (entry.method != 0 && entry.method != 8) return "unknown compression method";
  if (entry.dataOffset + entry.compressedSize > bytes.size()) return "data outside the archive";
  if (entry.method == 0 && entry.compressedSize != entry.uncompressedSize) return "stored size mismatch";
  if (entry.uncompressedSize > ZipDirectory::MaxInflatedSize(entry)) return "declared size beyond what its data can inflate to";
  return nullptr;
}

// Inflates raw deflate data in chunks, handing each to @p sink; false for
// corrupt data, data that ends early, or more output than @p limit.
template <class Sink>
bool InflateInChunks(const unsigned char* src, std::uint64_t size, std::uint64_t limit, Sink sink) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  std::unique_ptr<z_stream, int (*)(z_streamp)> guard(&z, inflateEnd);
  auto buffer = std::make_unique<unsigned char[]>(kChunk);
  std::uint64_t produced = 0, consumed = 0;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (z.avail_in == 0 && consumed < size) {
      const std::uint64_t take = std::min<std::uint64_t>(size - consumed, 1u << 30);
      z.next_in = const_cast<unsigned char*>(src + consumed);
      z.avail_in = static_cast<uInt>(take);
      consumed += take;
    }
    z.next_out = buffer.get();
    z.avail_out = kChunk;
    status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return false;
    const std::size_t got = kChunk - z.avail_out;
    produced += got;
    if (produced > limit) return false;
    sink(buffer.get(), got);
    if (status == Z_OK && got == 0 && z.avail_in == 0 && consumed == size) return false;  // ended early
  }
  return true;
}

}  // namespace

bool ZipDirectory::Read(std::string_view bytes, const ZipEntry& entry, std::string& out, std::uint64_t maxSize) {
  if (entry.uncompressedSize == 0) return Fail(entry, "empty");
  if (entry.uncompressedSize > maxSize) return Fail(entry, "above the size limit");
  if (entry.name.size() >= kUnreadableNameLength) return Fail(entry, "name of 256 bytes or more");
  if (const char* problem = DataProblem(bytes, entry)) return Fail(entry, problem);
  const auto* src = reinterpret_cast<const unsigned char*>(bytes.data()) + entry.dataOffset;
  std::string result;
  if (entry.method == 0) {
    result.assign(reinterpret_cast<const char*>(src), entry.compressedSize);
  } else {
    result.resize(entry.uncompressedSize);
    libdeflate_decompressor* d = Decompressor();
    // A NULL actual size makes libdeflate insist on exactly the declared size.
    if (!d || libdeflate_deflate_decompress(d, src, entry.compressedSize, result.data(), result.size(), nullptr) !=
                  LIBDEFLATE_SUCCESS)
      return Fail(entry, "corrupt data");
  }
  if (libdeflate_crc32(0, result.data(), result.size()) != entry.crc32) return Fail(entry, "CRC mismatch");
  out.swap(result);
  return true;
}

bool ZipDirectory::Verify(std::string_view bytes, const ZipEntry& entry) {
  if (const char* problem = DataProblem(bytes, entry)) return Fail(entry, problem);
  const auto* src = reinterpret_cast<const unsigned char*>(bytes.data()) + entry.dataOffset;
  std::uint32_t crc = 0;
  std::uint64_t size = entry.compressedSize;
  if (entry.method == 8) {
    size = 0;
    const bool inflated = InflateInChunks(src, entry.compressedSize, entry.uncompressedSize,
                                          [&](const unsigned char* chunk, std::size_t n) {
                                            crc = libdeflate_crc32(crc, chunk, n);
                                            size += n;
                                          });
    if (!inflated) return Fail(entry, "corrupt data");
  } else {
    crc = libdeflate_crc32(0, src, entry.compressedSize);
  }
  if (size != entry.uncompressedSize) return Fail(entry, "size mismatch");
  if (crc != entry.crc32) return Fail(entry, "CRC mismatch");
  return true;
}

}  // namespace kmztile::reading::detail
