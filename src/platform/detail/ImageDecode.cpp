// Picks the decoder for a format code. A stated format must match the
// signature of the bytes; format 0 goes by the signature alone.
#include <cstring>

#include "platform/Image.h"
#include "platform/detail/Codecs.h"

namespace kmztile::platform::detail {
namespace {

bool StartsWith(const unsigned char* data, std::size_t size, const char* magic, std::size_t length) {
  return size >= length && std::memcmp(data, magic, length) == 0;
}

bool IsJpeg(const unsigned char* d, std::size_t n) { return StartsWith(d, n, "\xFF\xD8\xFF", 3); }
bool IsPng(const unsigned char* d, std::size_t n) { return StartsWith(d, n, "\x89PNG\r\n\x1A\n", 8); }
bool IsTiff(const unsigned char* d, std::size_t n) {
  return StartsWith(d, n, "II*\0", 4) || StartsWith(d, n, "MM\0*", 4) || StartsWith(d, n, "II+\0", 4) ||
         StartsWith(d, n, "MM\0+", 4);
}

}  // namespace

DecodeStatus DecodeImage(const unsigned char* data, std::size_t size, int format, double reduction, Raster& out,
                         long& fullWidth, long& fullHeight) {
  if (!data || size == 0) return DecodeStatus::kUnsupported;
  const bool jpeg = IsJpeg(data, size), png = IsPng(data, size), tiff = IsTiff(data, size);
  DecodeStatus status = DecodeStatus::kUnsupported;
  Raster raster;
  fullWidth = fullHeight = 0;
  if (jpeg && (format == kImageJpeg || format == kImageUnknown)) {
    status = DecodeJpeg(data, size, reduction, raster, fullWidth, fullHeight);
  } else if (png && (format == kImagePng || format == kImageUnknown)) {
    status = DecodePng(data, size, raster);
  } else if (tiff && (format == kImageTiff || format == kImageUnknown)) {
    status = DecodeTiff(data, size, raster);
  } else if (format == kImageUnknown && !jpeg && !png && !tiff) {
    status = DecodeGifOrBmp(data, size, raster);
  }
  if (status != DecodeStatus::kOk) return status;
  if (fullWidth == 0) {
    fullWidth = raster.width;
    fullHeight = raster.height;
  }
  out = std::move(raster);
  return DecodeStatus::kOk;
}

}  // namespace kmztile::platform::detail
