// TIFF in memory through libtiff. Decoding goes through libtiff's RGBA
// reader, which handles palette, 16-bit, CMYK, YCbCr and JPEG-compressed
// images alike, straight from the caller's bytes; encoding writes one
// uncompressed strip.
#include <tiffio.h>
#include <tiffio.hxx>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "platform/detail/Codecs.h"
#include "platform/detail/JpegMarkers.h"

namespace kmztile::platform::detail {
namespace {

struct TiffClose {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffClose>;

struct OptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// libtiff reports to standard error by default; the library never prints.
void SilenceLibtiff() {
  static const bool silenced = [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)silenced;
}

/**
 * Largest buffer libtiff may take for one strip or tile while decoding: the
 * RGBA raster of the largest accepted picture. The sample layout (bits and
 * samples per pixel) is the file's to declare, so without this a picture
 * within kMaxPixels could still ask for many gigabytes per strip, and a
 * deflated strip of a few megabytes fills them.
 */
constexpr std::uint64_t kMaxBlockBytes = kMaxPixels * 4;

// A read-only file over the caller's bytes. Mapping hands libtiff the bytes
// themselves, so strips are decoded without being copied first.
struct MemoryFile {
  const unsigned char* data;
  std::uint64_t size;
  std::uint64_t at;
};

tmsize_t MemoryRead(thandle_t h, void* buffer, tmsize_t n) {
  auto* f = static_cast<MemoryFile*>(h);
  if (n <= 0 || f->at >= f->size) return 0;
  const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), f->size - f->at);
  std::memcpy(buffer, f->data + f->at, count);
  f->at += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t MemoryWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t MemorySeek(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(h);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR)
    base = f->at;
  else if (whence == SEEK_END)
    base = f->size;
  else if (whence != SEEK_SET)
    return static_cast<toff_t>(-1);
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  f->at = base + offset;
  return f->at;
}

int MemoryClose(thandle_t) { return 0; }
toff_t MemorySize(thandle_t h) { return static_cast<MemoryFile*>(h)->size; }

int MemoryMap(thandle_t h, void** base, toff_t* size) {
  auto* f = static_cast<MemoryFile*>(h);
  *base = const_cast<unsigned char*>(f->data);
  *size = f->size;
  return 1;
}

void MemoryUnmap(thandle_t, void*, toff_t) {}

// What libtiff's messages said about the directory; they are not printed.
// A tag whose data lies past the end of the data (a colour map, say) is
// read as if it were absent, with only a warning, and so is a colour map
// whose count or type is wrong; libtiff then reads the palette indices as
// grey levels. The first makes the file truncated, the second damaged.
struct Notes {
  bool cut = false;
  bool colourMapIgnored = false;
};

int NoteMessage(TIFF*, void* notes, const char*, const char* format, va_list args) {
  if (!format) return 1;
  auto* n = static_cast<Notes*>(notes);
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  if (std::strstr(text, "IO error")) n->cut = true;
  if (std::strstr(text, "\"ColorMap\"") && std::strstr(text, "ignored")) n->colourMapIgnored = true;
  return 1;
}

// A colour map in a directory that does not say how its samples read (the
// photometric tag missing, or ignored by libtiff as damaged): the RGBA
// reader would take the palette indices for grey levels.
bool ColourMapUnused(TIFF* tif) {
  std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr, photometric = 0;
  return TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) &&
         !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
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

// The decoded size of the block (strip or tile, all planes of it) the RGBA
// reader holds at once is within kMaxBlockBytes.
bool BlockWithinLimit(TIFF* tif) {
  const std::uint64_t block = TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
  std::uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  const std::uint64_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
  return block > 0 && block <= kMaxBlockBytes / planes;
}

// libjpeg decodes a JPEG strip or tile whose data comes in several scans
// (a progressive one, or one with a scan per component) through coefficient
// buffers for the whole block, two bytes a sample, besides the decoded block
// libtiff holds (all its planes): from a megabyte of file, an 8192 x 8192
// four-sample strip would take 768 MB. Such blocks count both against
// kMaxBlockBytes. Every strip or tile lies within the data (see
// PixelDataPresent).
bool JpegBlocksWithinLimit(TIFF* tif, const unsigned char* data) {
  std::uint16_t compression = COMPRESSION_NONE, planar = PLANARCONFIG_CONTIG, samples = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (compression != COMPRESSION_JPEG) return true;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  std::uint32_t width = 0, height = 0, rows = 0;
  const bool tiled = TIFFIsTiled(tif);
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &height);
  } else {
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
    height = std::min(height, rows);
  }
  // At full resolution, as libtiff hands YCbCr JPEG blocks to the RGBA reader as RGB.
  const double pixels = static_cast<double>(width) * height;
  const double perBlock = planar == PLANARCONFIG_SEPARATE ? 1.0 : samples;
  if (pixels * (samples + 2.0 * perBlock) <= static_cast<double>(kMaxBlockBytes)) return true;
  const std::uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (JpegNeedsWholeFrameBuffers(data + TIFFGetStrileOffset(tif, i), TIFFGetStrileByteCount(tif, i))) return false;
  }
  return true;
}

}  // namespace

DecodeStatus DecodeTiff(const unsigned char* data, std::size_t size, Raster& out) {
  if (!data || size < 8) return DecodeStatus::kUnsupported;
  std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) return DecodeStatus::kDamaged;
  // A backstop for the buffers checked below and the ones a codec takes.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxBlockBytes));
  Notes notes;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), NoteMessage, &notes);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), NoteMessage, &notes);
  MemoryFile file{data, size, 0};
  TiffHandle tif(TIFFClientOpenExt("memory", "r", &file, MemoryRead, MemoryWrite, MemorySeek, MemoryClose, MemorySize,
                                   MemoryMap, MemoryUnmap, options.get()));
  if (!tif) return notes.cut ? DecodeStatus::kTruncated : DecodeStatus::kDamaged;
  std::uint32_t width = 0, height = 0;
  if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
    return DecodeStatus::kDamaged;
  if (!AcceptableSize(width, height) || !BlockWithinLimit(tif.get())) return DecodeStatus::kTooLarge;
  if (notes.cut || !PixelDataPresent(tif.get(), size)) return DecodeStatus::kTruncated;
  if (notes.colourMapIgnored || ColourMapUnused(tif.get())) return DecodeStatus::kDamaged;
  if (!JpegBlocksWithinLimit(tif.get(), data)) return DecodeStatus::kTooLarge;
  std::uint16_t photometric = PHOTOMETRIC_RGB, extraCount = 0;
  std::uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);

  // The reader fills one 32-bit ABGR word a pixel; they are packed into the
  // raster's channels in the same buffer, front to back (a pixel's samples
  // never land past its own word).
  const std::size_t count = static_cast<std::size_t>(width) * height;
  Raster raster;
  raster.width = width;
  raster.height = height;
  const bool gray = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  raster.channels = extraCount > 0 ? 4 : gray ? 1 : 3;
  raster.pixels.resize(count * 4);
  std::uint8_t* p = raster.pixels.data();
  if (!TIFFReadRGBAImageOriented(tif.get(), width, height, reinterpret_cast<std::uint32_t*>(p), ORIENTATION_TOPLEFT, 1))
    return notes.cut ? DecodeStatus::kTruncated : DecodeStatus::kDamaged;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t v;
    std::memcpy(&v, p + i * 4, 4);
    std::uint8_t* to = p + i * raster.channels;
    to[0] = static_cast<std::uint8_t>(TIFFGetR(v));
    if (raster.channels == 1) continue;
    to[1] = static_cast<std::uint8_t>(TIFFGetG(v));
    to[2] = static_cast<std::uint8_t>(TIFFGetB(v));
    if (raster.channels == 4) to[3] = static_cast<std::uint8_t>(TIFFGetA(v));
  }
  if (raster.channels < 4) {
    raster.pixels.resize(count * raster.channels);
    raster.pixels.shrink_to_fit();
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
