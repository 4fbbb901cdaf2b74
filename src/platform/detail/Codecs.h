#pragma once
// Decoders and encoders of the image class, one file per codec. Every
// decoder fails (raster untouched) on damaged, truncated, oversized or
// unsupported input instead of returning a partial picture, and says which.
#include <cstddef>
#include <string>

#include "platform/detail/Raster.h"

namespace kmztile::platform::detail {

/** Outcome of a decode. */
enum class DecodeStatus {
  kOk,
  kUnsupported,  ///< not a format the image class reads (or not the stated one)
  kTooLarge,     ///< the header declares more than kMaxPixels, a JPEG holds more than
                 ///< kMaxJpegScans scans, or one TIFF strip or tile would decode to more
                 ///< than an RGBA raster of kMaxPixels (with libjpeg's coefficient buffers
                 ///< when it is a JPEG of several scans; nothing was allocated)
  kTruncated,    ///< the data ends before the picture does
  kDamaged,      ///< the codec refused the data
};

/**
 * Most scans a JPEG may hold. A progressive picture has about ten; each scan
 * costs a pass over the whole picture, so this bounds the time of a decode
 * as kMaxPixels bounds its memory.
 */
constexpr std::size_t kMaxJpegScans = 500;

/**
 * Decodes a JPEG with TurboJPEG. With @p reduction >= 2 the smallest DCT scale
 * (1/2, 1/4 or 1/8) whose result is still at least 1/@p reduction of the
 * stored size is used. Any decoder warning (a premature end of data among
 * them) fails the decode: libjpeg would fill the missing part with grey.
 * @p fullWidth / @p fullHeight receive the stored size.
 */
DecodeStatus DecodeJpeg(const unsigned char* data, std::size_t size, double reduction, Raster& out, long& fullWidth,
                        long& fullHeight);
/** Encodes a raster as baseline JPEG (gray stays gray, alpha is dropped). */
bool EncodeJpeg(const Raster& raster, int quality, std::string& out);

/** Decodes a PNG with libpng into gray, RGB or RGBA (8 bits); the data must reach its IEND chunk. */
DecodeStatus DecodePng(const unsigned char* data, std::size_t size, Raster& out);
/** Encodes a raster as PNG with zlib level @p level (0 to 9). */
bool EncodePng(const Raster& raster, int level, std::string& out);

/** Decodes the first image of a TIFF held in memory with libtiff; every strip or tile must lie in the data. */
DecodeStatus DecodeTiff(const unsigned char* data, std::size_t size, Raster& out);
/** Encodes a raster as an uncompressed TIFF in memory. */
bool EncodeTiff(const Raster& raster, std::string& out);

/**
 * Decodes the first picture of a GIF or an uncompressed BMP with stb_image,
 * after checking from their headers that the picture is within kMaxPixels and
 * that all of its data is present. Every other format is unsupported.
 */
DecodeStatus DecodeGifOrBmp(const unsigned char* data, std::size_t size, Raster& out);

/**
 * Decodes @p size bytes as format code @p format (3 JPEG, 4 PNG, 6 TIFF, 0:
 * detected from the signature: JPEG, PNG, TIFF, GIF or BMP). @p fullWidth /
 * @p fullHeight receive the stored size, which exceeds the raster's after a
 * reduced JPEG decode (see DecodeJpeg).
 */
DecodeStatus DecodeImage(const unsigned char* data, std::size_t size, int format, double reduction, Raster& out,
                         long& fullWidth, long& fullHeight);

}  // namespace kmztile::platform::detail
