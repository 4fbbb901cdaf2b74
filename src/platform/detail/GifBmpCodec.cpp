// GIF and BMP, the other picture formats KML viewers show, met when a
// texture's format is not stated. stb_image decodes them, but it reads past
// the end of its data as zeros and knows many more formats (Radiance HDR,
// PSD, PNM, ...) whose loaders misbehave on damaged files. So only these two
// signatures reach it, and only after their headers show a picture within
// kMaxPixels whose data is all present: the first image's data sub-blocks of
// a GIF up to their terminator, every row of an uncompressed BMP.
#include <stb/stb_image.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <memory>

#include "platform/detail/Codecs.h"

namespace kmztile::platform::detail {
namespace {

struct StbFree {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

std::uint32_t Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool IsGif(const unsigned char* d, std::size_t n) {
  return n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0);
}
bool IsBmp(const unsigned char* d, std::size_t n) { return n >= 2 && d[0] == 'B' && d[1] == 'M'; }

// Walks a run of data sub-blocks (length byte, then that many bytes) to its
// zero-length terminator; false when the data ends first.
bool SkipSubBlocks(const unsigned char* d, std::size_t n, std::size_t& at) {
  while (at < n) {
    const std::size_t length = d[at++];
    if (length == 0) return true;
    if (length > n - at) return false;
    at += length;
  }
  return false;
}

// Counts the pixels the LZW stream of an image produces, without producing
// them: each code stands for a string whose length is known from the code it
// extends. stb fills whatever a stream leaves out with zeros, so a stream
// that reaches its end code (or its data's end) early is a truncated picture.
// @p at is the first sub-block; false when the codes are not a valid stream.
bool CountLzwPixels(const unsigned char* d, std::size_t n, std::size_t at, unsigned minCodeSize,
                    std::uint64_t& pixels) {
  if (minCodeSize < 2 || minCodeSize > 11) return false;
  const unsigned clear = 1u << minCodeSize, end = clear + 1;
  std::uint16_t length[4096];
  unsigned next = clear + 2, codeSize = minCodeSize + 1;
  int previous = -1;
  std::uint32_t bits = 0;
  unsigned bitCount = 0;
  pixels = 0;
  while (at < n) {
    std::size_t block = d[at++];
    if (block == 0 || block > n - at) return true;  // terminator, or the data's end: stop counting
    for (; block > 0; --block) {
      bits |= static_cast<std::uint32_t>(d[at++]) << bitCount;
      bitCount += 8;
      while (bitCount >= codeSize) {
        const unsigned code = bits & ((1u << codeSize) - 1);
        bits >>= codeSize;
        bitCount -= codeSize;
        if (code == clear) {
          next = clear + 2;
          codeSize = minCodeSize + 1;
          previous = -1;
          continue;
        }
        if (code == end) return true;
        const auto lengthOf = [&](unsigned c) -> std::uint64_t { return c < clear ? 1 : length[c]; };
        if (previous < 0) {
          if (code >= clear) return false;
          pixels += 1;
        } else {
          if (code > next || (code == next && next >= 4096)) return false;
          pixels += code == next ? lengthOf(previous) + 1 : lengthOf(code);
          if (next < 4096) {
            length[next] = static_cast<std::uint16_t>(std::min<std::uint64_t>(lengthOf(previous) + 1, 4096));
            if (++next == (1u << codeSize) && codeSize < 12) ++codeSize;
          }
        }
        previous = static_cast<int>(code);
      }
    }
  }
  return true;
}

// The logical screen is what stb allocates; the first image must be whole.
DecodeStatus CheckGif(const unsigned char* d, std::size_t n) {
  if (n < 13) return DecodeStatus::kTruncated;
  if (!AcceptableSize(Le16(d + 6), Le16(d + 8))) return DecodeStatus::kTooLarge;
  std::size_t at = 13;
  if (d[10] & 0x80) at += 3u << ((d[10] & 7) + 1);  // global colour table
  while (at < n) {
    const unsigned char block = d[at++];
    if (block == 0x21) {  // extension: label, then sub-blocks
      if (at >= n) break;
      ++at;
      if (!SkipSubBlocks(d, n, at)) break;
    } else if (block == 0x2C) {  // image descriptor
      if (n - at < 9) break;
      const std::uint64_t framePixels = std::uint64_t{Le16(d + at + 4)} * Le16(d + at + 6);
      const unsigned char flags = d[at + 8];
      at += 9;
      if (flags & 0x80) at += 3u << ((flags & 7) + 1);  // local colour table
      if (at >= n) break;
      const unsigned minCodeSize = d[at++];
      std::uint64_t pixels = 0;
      if (!CountLzwPixels(d, n, at, minCodeSize, pixels)) return DecodeStatus::kDamaged;
      if (!SkipSubBlocks(d, n, at) || pixels < framePixels) return DecodeStatus::kTruncated;
      return DecodeStatus::kOk;
    } else {
      return DecodeStatus::kDamaged;  // the trailer, or no block at all, before any image
    }
  }
  return DecodeStatus::kTruncated;
}

// Uncompressed BMPs only (stb reads no RLE): the rows start at the pixel
// offset, each padded to four bytes.
DecodeStatus CheckBmp(const unsigned char* d, std::size_t n) {
  if (n < 26) return DecodeStatus::kTruncated;
  const std::uint32_t pixelOffset = Le32(d + 10);
  const std::uint32_t header = Le32(d + 14);
  std::uint64_t width = 0, height = 0, bits = 0, compression = 0;
  if (header == 12) {  // OS/2 core header
    width = Le16(d + 18);
    height = Le16(d + 20);
    bits = Le16(d + 24);
  } else if (header >= 40) {
    if (n < 34) return DecodeStatus::kTruncated;
    const std::int32_t w = static_cast<std::int32_t>(Le32(d + 18));
    const std::int32_t h = static_cast<std::int32_t>(Le32(d + 22));
    if (w <= 0 || h == INT32_MIN) return DecodeStatus::kDamaged;
    width = static_cast<std::uint64_t>(w);
    height = static_cast<std::uint64_t>(h < 0 ? -static_cast<std::int64_t>(h) : h);  // negative: top-down rows
    bits = Le16(d + 28);
    compression = Le32(d + 30);
  } else {
    return DecodeStatus::kDamaged;
  }
  if (!AcceptableSize(width, height)) return DecodeStatus::kTooLarge;
  if (pixelOffset < std::uint64_t{14} + header) return DecodeStatus::kDamaged;  // rows inside the headers
  if (compression != 0 && compression != 3 && compression != 6) return DecodeStatus::kUnsupported;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return DecodeStatus::kDamaged;
  const std::uint64_t rowBytes = (width * bits + 31) / 32 * 4;
  return pixelOffset + rowBytes * height <= n ? DecodeStatus::kOk : DecodeStatus::kTruncated;
}

}  // namespace

DecodeStatus DecodeGifOrBmp(const unsigned char* data, std::size_t size, Raster& out) {
  if (!data || size > static_cast<std::size_t>(INT_MAX)) return DecodeStatus::kUnsupported;
  DecodeStatus checked = DecodeStatus::kUnsupported;
  if (IsGif(data, size))
    checked = CheckGif(data, size);
  else if (IsBmp(data, size))
    checked = CheckBmp(data, size);
  if (checked != DecodeStatus::kOk) return checked;

  const int length = static_cast<int>(size);
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) return DecodeStatus::kDamaged;
  if (!AcceptableSize(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height)))
    return DecodeStatus::kTooLarge;
  // Gray and RGB stay as they are; gray with alpha becomes RGBA.
  const int wanted = channels == 1 ? 1 : channels == 3 ? 3 : 4;
  std::unique_ptr<stbi_uc, StbFree> pixels(stbi_load_from_memory(data, length, &width, &height, &channels, wanted));
  if (!pixels) return DecodeStatus::kDamaged;
  Raster raster;
  raster.width = width;
  raster.height = height;
  raster.channels = wanted;
  const std::size_t count = static_cast<std::size_t>(width) * height * wanted;
  raster.pixels.assign(pixels.get(), pixels.get() + count);
  out = std::move(raster);
  return DecodeStatus::kOk;
}

}  // namespace kmztile::platform::detail
