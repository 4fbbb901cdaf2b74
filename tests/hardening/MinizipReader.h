#pragma once
// An independent reading of an archive in memory with minizip's unzip API
// (the reader libkml lists archives with): which entries it finds, and
// whether every one inflates to its declared size with a matching CRC-32.
#include <minizip/unzip.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace hardening {

struct MinizipListing {
  bool opened = false;    // an end record and directory were found
  bool readable = false;  // and every entry read whole, sizes and CRC-32 right
  std::vector<std::string> names;
  std::vector<std::string> contents;
};

namespace detail {

struct MemoryStream {
  const std::string* data = nullptr;
  ZPOS64_T pos = 0;
};

inline voidpf Open(voidpf opaque, const void*, int) {
  static_cast<MemoryStream*>(opaque)->pos = 0;
  return opaque;
}
inline uLong Read(voidpf, voidpf stream, void* buf, uLong size) {
  auto* s = static_cast<MemoryStream*>(stream);
  if (s->pos >= s->data->size()) return 0;
  const uLong n = static_cast<uLong>(std::min<ZPOS64_T>(size, s->data->size() - s->pos));
  std::memcpy(buf, s->data->data() + s->pos, n);
  s->pos += n;
  return n;
}
inline uLong Write(voidpf, voidpf, const void*, uLong) { return 0; }
inline ZPOS64_T Tell(voidpf, voidpf stream) { return static_cast<MemoryStream*>(stream)->pos; }
inline long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* s = static_cast<MemoryStream*>(stream);
  const ZPOS64_T base = origin == ZLIB_FILEFUNC_SEEK_SET ? 0 : origin == ZLIB_FILEFUNC_SEEK_CUR ? s->pos : s->data->size();
  s->pos = base + offset;
  return 0;
}
inline int Close(voidpf, voidpf) { return 0; }
inline int Error(voidpf, voidpf) { return 0; }

}  // namespace detail

/** Lists and reads every entry of @p bytes with minizip; entries above @p maxEntry bytes count as unreadable. */
inline MinizipListing ReadWithMinizip(const std::string& bytes, ZPOS64_T maxEntry = 64u << 20) {
  MinizipListing out;
  detail::MemoryStream stream{&bytes, 0};
  zlib_filefunc64_def io{detail::Open, detail::Read, detail::Write, detail::Tell, detail::Seek,
                         detail::Close, detail::Error, &stream};
  unzFile zip = unzOpen2_64("memory", &io);
  if (!zip) return out;
  out.opened = true;
  bool allRead = true;
  std::vector<char> name(65536 + 1);
  std::vector<char> chunk(1 << 16);
  int status = unzGoToFirstFile(zip);
  for (; status == UNZ_OK; status = unzGoToNextFile(zip)) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size(), nullptr, 0, nullptr, 0) != UNZ_OK) {
      allRead = false;
      break;
    }
    out.names.emplace_back(name.data(), info.size_filename);
    std::string content;
    bool ok = info.uncompressed_size <= maxEntry && unzOpenCurrentFile(zip) == UNZ_OK;
    if (ok) {
      int n;
      while ((n = unzReadCurrentFile(zip, chunk.data(), static_cast<unsigned>(chunk.size()))) > 0 &&
             content.size() <= maxEntry)
        content.append(chunk.data(), static_cast<std::size_t>(n));
      // minizip checks the CRC only once the declared size was read in full.
      ok = n == 0 && content.size() == info.uncompressed_size;
      ok = unzCloseCurrentFile(zip) == UNZ_OK && ok;
    }
    allRead = allRead && ok;
    out.contents.push_back(std::move(content));
  }
  unzClose(zip);
  out.readable = allRead && status == UNZ_END_OF_LIST_OF_FILE;
  return out;
}

}  // namespace hardening
