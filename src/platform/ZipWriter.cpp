#include "platform/ZipWriter.h"

#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace kmztile::platform {
namespace {

// minizip's file functions over a growing in-memory buffer.
struct MemoryFile {
  std::string bytes;
  std::size_t position = 0;
  bool failed = false;
};

voidpf OpenMemory(voidpf opaque, const void*, int) { return opaque; }

uLong ReadMemory(voidpf, voidpf stream, void* buf, uLong size) {
  auto* f = static_cast<MemoryFile*>(stream);
  if (f->position >= f->bytes.size()) return 0;
  const std::size_t n = std::min<std::size_t>(size, f->bytes.size() - f->position);
  std::memcpy(buf, f->bytes.data() + f->position, n);
  f->position += n;
  return static_cast<uLong>(n);
}

uLong WriteMemory(voidpf, voidpf stream, const void* buf, uLong size) {
  auto* f = static_cast<MemoryFile*>(stream);
  try {
    const char* p = static_cast<const char*>(buf);
    if (f->position == f->bytes.size()) {
      f->bytes.append(p, size);
    } else {
      if (f->position + size > f->bytes.size()) f->bytes.resize(f->position + size);
      std::memcpy(f->bytes.data() + f->position, p, size);
    }
  } catch (...) {
    f->failed = true;  // never unwind through minizip's C frames
    return 0;
  }
  f->position += size;
  return size;
}

ZPOS64_T TellMemory(voidpf, voidpf stream) { return static_cast<MemoryFile*>(stream)->position; }

long SeekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* f = static_cast<MemoryFile*>(stream);
  ZPOS64_T base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = f->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = f->bytes.size(); break;
    default: return -1;
  }
  if (base + offset > f->bytes.size()) return -1;
  f->position = static_cast<std::size_t>(base + offset);
  return 0;
}

int CloseMemory(voidpf, voidpf) { return 0; }
int ErrorMemory(voidpf, voidpf stream) { return static_cast<MemoryFile*>(stream)->failed ? 1 : 0; }

}  // namespace

struct ZipWriter::State {
  MemoryFile file;
  zipFile zip = nullptr;
  bool failed = false;
};

ZipWriter::ZipWriter() : state_(std::make_unique<State>()) {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = OpenMemory;
  functions.zread_file = ReadMemory;
  functions.zwrite_file = WriteMemory;
  functions.ztell64_file = TellMemory;
  functions.zseek64_file = SeekMemory;
  functions.zclose_file = CloseMemory;
  functions.zerror_file = ErrorMemory;
  functions.opaque = &state_->file;
  state_->zip = zipOpen2_64("memory", APPEND_STATUS_CREATE, nullptr, &functions);
  state_->failed = state_->zip == nullptr;
}

ZipWriter::~ZipWriter() {
  if (state_->zip) zipClose(state_->zip, nullptr);
}

bool ZipWriter::IsRefusedName(const std::string& name) {
  return (!name.empty() && (name[0] == '/' || name[0] == '\\')) || name.compare(0, 2, "..") == 0;
}

bool ZipWriter::Add(const std::string& name, const std::string& data, bool compress, int level) {
  if (state_->failed || IsRefusedName(name)) return false;
  // No file information: the entry's date and time are written as zero.
  if (zipOpenNewFileInZip64(state_->zip, name.c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr,
                            compress ? Z_DEFLATED : 0, compress ? level : 0, 0) != ZIP_OK) {
    state_->failed = true;
    return false;
  }
  constexpr std::size_t kChunk = 1u << 30;
  for (std::size_t offset = 0; offset < data.size(); offset += kChunk) {
    const std::size_t n = std::min(kChunk, data.size() - offset);
    if (zipWriteInFileInZip(state_->zip, data.data() + offset, static_cast<unsigned>(n)) != ZIP_OK) {
      state_->failed = true;
      break;
    }
  }
  if (zipCloseFileInZip(state_->zip) != ZIP_OK) state_->failed = true;
  state_->failed = state_->failed || state_->file.failed;
  return !state_->failed;
}

bool ZipWriter::AddFile(const std::string& name, const std::string& data) {
  return Add(name, data, !IsCompressedImage(data), kTextDeflateLevel);
}

bool ZipWriter::AddDeflated(const std::string& name, const DeflatedText& text) {
  if (state_->failed || IsRefusedName(name)) return false;
  // Raw mode: minizip writes the header for a level-kTextDeflateLevel entry
  // and takes the stream, its CRC and its length as they are. Deflating in
  // place, minizip marks an entry zlib judged text; here that is said up front.
  // Without file information minizip writes a zero date and time; with it,
  // a zero dosDate is computed from tmz_date, where month 0 would count as
  // January: the month one before it (unsigned, so tm_mon + 1 wraps to 0)
  // gives the same zero.
  zip_fileinfo info{};
  info.tmz_date.tm_mon = static_cast<uInt>(-1);
  info.internal_fa = text.text ? 1 : 0;
  if (zipOpenNewFileInZip2_64(state_->zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              kTextDeflateLevel, 1, 0) != ZIP_OK) {
    state_->failed = true;
    return false;
  }
  if (!text.bytes.empty() && zipWriteInFileInZip(state_->zip, text.bytes.data(),
                                                 static_cast<unsigned>(text.bytes.size())) != ZIP_OK)
    state_->failed = true;
  if (zipCloseFileInZipRaw64(state_->zip, text.size, text.crc) != ZIP_OK) state_->failed = true;
  state_->failed = state_->failed || state_->file.failed;
  return !state_->failed;
}

bool DeflateText(const std::string& data, DeflatedText& out) {
  // One zlib call takes at most 4 GiB; a text that large is left to AddFile.
  if (data.size() > (1u << 30)) return false;
  // The stream minizip makes for an entry: raw deflate, default memory level and strategy.
  z_stream stream{};
  if (deflateInit2(&stream, kTextDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  std::string bytes(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(bytes.data());
  stream.avail_out = static_cast<uInt>(bytes.size());
  const int rc = deflate(&stream, Z_FINISH);
  const std::size_t written = stream.total_out;
  out.text = stream.data_type == Z_TEXT;
  deflateEnd(&stream);
  if (rc != Z_STREAM_END) return false;
  bytes.resize(written);
  out.bytes.swap(bytes);
  out.crc = crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  out.size = data.size();
  return true;
}

bool InflateText(const DeflatedText& deflated, std::string& out) {
  if (deflated.size > (1u << 30) || deflated.bytes.size() > (1u << 30)) return false;
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  std::string text(deflated.size, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.bytes.data()));
  stream.avail_in = static_cast<uInt>(deflated.bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(text.data());
  stream.avail_out = static_cast<uInt>(text.size());
  const int rc = inflate(&stream, Z_FINISH);
  const bool whole = rc == Z_STREAM_END && stream.total_out == deflated.size;
  inflateEnd(&stream);
  if (!whole || crc32(0L, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())) != deflated.crc)
    return false;
  out.swap(text);
  return true;
}

bool ZipWriter::Finish(std::string& out) {
  if (!state_->zip) return false;
  const int rc = zipClose(state_->zip, nullptr);
  state_->zip = nullptr;
  if (rc != ZIP_OK || state_->failed || state_->file.failed) return false;
  out.swap(state_->file.bytes);
  return true;
}

bool IsCompressedImage(const std::string& data) {
  return data.compare(0, 3, "\xFF\xD8\xFF") == 0 || data.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0 ||
         data.compare(0, 4, "GIF8") == 0;
}

}  // namespace kmztile::platform
