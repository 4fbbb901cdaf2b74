// TIFF in memory through libtiff's C++ streams. Decoding goes through
// libtiff's RGBA reader, which handles palette, 16-bit, CMYK, YCbCr and
// JPEG-compressed images alike; encoding writes one uncompressed strip.
#include <tiffio.h>
#include <tiffio.hxx>

#include <memory>
#include <sstream>

#include "platform/detail/Codecs.h"

namespace kmztile::platform::detail {
namespace {

struct TiffClose {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffClose>;

// libtiff reports to standard error by default; the library never prints.
void SilenceLibtiff() {
  static const bool silenced = [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)silenced;
}

// Every strip or tile of the image lies within the data. libtiff's reader
// would fail at the first short strip too; checking the directory first
// tells a cut file from a damaged one and refuses it before any pixel
// memory is taken.
bool PixelDataPresent(TIFF* tif, std::size_t size) {
  const std::uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  if (count == 0) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t offset = TIFFGetStrileOffset(tif, i);
    const std::uint64_t bytes = TIFFGetStrileByteCount(tif, i);
    if (bytes == 0 || offset > size || bytes > size - offset) return false;
  }
  return true;
}

}  // namespace

DecodeStatus DecodeTiff(const unsigned char* data, std::size_t size, Raster& out) {
  if (!data || size < 8) return DecodeStatus::kUnsupported;
  SilenceLibtiff();
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  TiffHandle tif(TIFFStreamOpen("memory", &in));
  if (!tif) return DecodeStatus::kDamaged;
  std::uint32_t width = 0, height = 0;
  if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
    return DecodeStatus::kDamaged;
  if (!AcceptableSize(width, height)) return DecodeStatus::kTooLarge;
  if (!PixelDataPresent(tif.get(), size)) return DecodeStatus::kTruncated;
  std::uint16_t photometric = PHOTOMETRIC_RGB, extraCount = 0;
  std::uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);

  std::vector<std::uint32_t> abgr(static_cast<std::size_t>(width) * height);
  if (!TIFFReadRGBAImageOriented(tif.get(), width, height, abgr.data(), ORIENTATION_TOPLEFT, 1))
    return DecodeStatus::kDamaged;

  Raster raster;
  raster.width = width;
  raster.height = height;
  const bool gray = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  raster.channels = extraCount > 0 ? 4 : gray ? 1 : 3;
  raster.pixels.resize(abgr.size() * raster.channels);
  std::uint8_t* p = raster.pixels.data();
  for (const std::uint32_t v : abgr) {
    if (raster.channels == 1) {
      *p++ = static_cast<std::uint8_t>(TIFFGetR(v));
      continue;
    }
    *p++ = static_cast<std::uint8_t>(TIFFGetR(v));
    *p++ = static_cast<std::uint8_t>(TIFFGetG(v));
    *p++ = static_cast<std::uint8_t>(TIFFGetB(v));
    if (raster.channels == 4) *p++ = static_cast<std::uint8_t>(TIFFGetA(v));
  }
  out = std::move(raster);
  return DecodeStatus::kOk;
}

bool EncodeTiff(const Raster& raster, std::string& out) {
  if (raster.width <= 0 || raster.height <= 0) return false;
  if (raster.channels != 1 && raster.channels != 3 && raster.channels != 4) return false;
  const tmsize_t bytes = static_cast<tmsize_t>(raster.width) * raster.height * raster.channels;
  if (static_cast<std::size_t>(bytes) > raster.pixels.size()) return false;
  SilenceLibtiff();
  std::ostringstream stream;
  {
    TiffHandle tif(TIFFStreamOpen("memory", &stream));
    if (!tif) return false;
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(raster.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(raster.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, raster.channels);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, raster.channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(raster.height));
    if (raster.channels == 4) {
      const std::uint16_t alpha[1] = {EXTRASAMPLE_UNASSALPHA};
      TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, alpha);
    }
    // Without a predictor the encoder leaves the buffer as it is.
    if (TIFFWriteEncodedStrip(t, 0, const_cast<std::uint8_t*>(raster.pixels.data()), bytes) != bytes) return false;
    if (!TIFFWriteDirectory(t)) return false;
  }
  if (!stream) return false;
  out = stream.str();
  return true;
}

}  // namespace kmztile::platform::detail
