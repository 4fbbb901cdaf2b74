#include "ImageFiles.h"

#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace samplegen {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct TjDestroyer {
  void operator()(void* h) const { tjDestroy(h); }
};
struct TjFree {
  void operator()(unsigned char* p) const { tjFree(p); }
};
struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

void WriteBytes(const std::string& path, const unsigned char* data, size_t size) {
  FilePtr out(std::fopen(path.c_str(), "wb"));
  if (!out || std::fwrite(data, 1, size, out.get()) != size || std::fflush(out.get()) != 0)
    throw std::runtime_error("cannot write " + path);
}

}  // namespace

void WriteJpeg(const std::string& path, const Raster& image, int quality) {
  std::unique_ptr<void, TjDestroyer> handle(tjInitCompress());
  if (!handle) throw std::runtime_error("cannot start the JPEG encoder for " + path);
  unsigned char* raw = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(handle.get(), image.pixels.data(), image.width, 0, image.height, TJPF_RGB, &raw, &size,
                             TJSAMP_420, quality, TJFLAG_ACCURATEDCT);
  std::unique_ptr<unsigned char, TjFree> owned(raw);
  if (rc != 0) throw std::runtime_error("cannot encode " + path + ": " + tjGetErrorStr2(handle.get()));
  WriteBytes(path, owned.get(), size);
}

void WritePng(const std::string& path, const Raster& image) {
  FilePtr out(std::fopen(path.c_str(), "wb"));
  if (!out) throw std::runtime_error("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  struct PngGuard {
    png_structp* png;
    png_infop* info;
    ~PngGuard() { png_destroy_write_struct(png, info); }
  } guard{&png, &info};
  if (!png || !info) throw std::runtime_error("cannot start the PNG encoder for " + path);
  std::vector<png_bytep> rows(static_cast<size_t>(image.height));
  for (int y = 0; y < image.height; ++y)
    rows[static_cast<size_t>(y)] = const_cast<png_bytep>(image.pixels.data() + static_cast<size_t>(y) * image.width * 3);
  // libpng reports errors by longjmp; nothing with a destructor is created
  // between here and the end of the writes.
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("cannot encode " + path);
  png_init_io(png, out.get());
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  if (std::fflush(out.get()) != 0) throw std::runtime_error("cannot write " + path);
}

void WriteTiff(const std::string& path, const Raster& image) {
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "w"));
  if (!tiff) throw std::runtime_error("cannot write " + path);
  TIFF* t = tiff.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(image.height));
  const tmsize_t size = static_cast<tmsize_t>(image.pixels.size());
  // TIFFWriteEncodedStrip leaves the caller's buffer alone even with a predictor.
  std::vector<std::uint8_t> strip(image.pixels);
  if (TIFFWriteEncodedStrip(t, 0, strip.data(), size) != size) throw std::runtime_error("cannot encode " + path);
  if (!TIFFFlush(t)) throw std::runtime_error("cannot write " + path);
}

}  // namespace samplegen
