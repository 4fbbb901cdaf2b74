#pragma once
// Decoders and encoders of the image class, one file per codec. Every
// decoder fails (returns false, raster untouched) on damaged, truncated or
// unsupported input instead of returning a partial picture.
#include <cstddef>
#include <string>

#include "platform/detail/Raster.h"

namespace kmztile::platform::detail {

/**
 * Decodes a JPEG with TurboJPEG. With @p reduction >= 2 the smallest DCT scale
 * (1/2, 1/4 or 1/8) whose result is still at least 1/@p reduction of the
 * stored size is used.
 * @p fullWidth / @p fullHeight receive the stored size.
 */
bool DecodeJpeg(const unsigned char* data, std::size_t size, double reduction, Raster& out, long& fullWidth,
                long& fullHeight);
/** Encodes a raster as baseline JPEG (gray stays gray, alpha is dropped). */
bool EncodeJpeg(const Raster& raster, int quality, std::string& out);

/** Decodes a PNG with libpng into gray, RGB or RGBA (8 bits). */
bool DecodePng(const unsigned char* data, std::size_t size, Raster& out);
/** Encodes a raster as PNG with zlib level @p level (0 to 9). */
bool EncodePng(const Raster& raster, int level, std::string& out);

/** Decodes the first image of a TIFF held in memory with libtiff. */
bool DecodeTiff(const unsigned char* data, std::size_t size, Raster& out);
/** Encodes a raster as an uncompressed TIFF in memory. */
bool EncodeTiff(const Raster& raster, std::string& out);

/** Decodes the formats the general decoder knows (BMP, GIF, TGA, PSD, PNM, ...). */
bool DecodeOther(const unsigned char* data, std::size_t size, Raster& out);

}  // namespace kmztile::platform::detail
