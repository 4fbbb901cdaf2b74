#pragma once
// Encoders that write a Raster to disk as JPEG (libjpeg-turbo), PNG (libpng)
// or TIFF (libtiff). Each throws std::runtime_error naming the file when the
// codec or the write fails.
#include <string>

#include "Raster.h"

namespace samplegen {

/** Writes @p image as a baseline JPEG of the given quality (1-100). */
void WriteJpeg(const std::string& path, const Raster& image, int quality);

/** Writes @p image as an 8-bit RGB PNG. */
void WritePng(const std::string& path, const Raster& image);

/** Writes @p image as an 8-bit RGB TIFF, deflate-compressed with horizontal prediction. */
void WriteTiff(const std::string& path, const Raster& image);

}  // namespace samplegen
