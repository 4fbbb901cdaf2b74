// PNG through libpng: the simplified API for decoding (it brings palette,
// 16-bit and transparency chunks to 8-bit gray, RGB or RGBA), the full API
// for encoding so that the zlib level can be chosen.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "platform/detail/Codecs.h"

namespace kmztile::platform::detail {
namespace {

// Releases a simplified-API reader on every path.
struct PngImageGuard {
  png_image image{};
  PngImageGuard() { image.version = PNG_IMAGE_VERSION; }
  ~PngImageGuard() { png_image_free(&image); }
  PngImageGuard(const PngImageGuard&) = delete;
  PngImageGuard& operator=(const PngImageGuard&) = delete;
};

// Owns a write struct and its info struct.
struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngWriter() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
};

struct PngSink {
  std::string* out = nullptr;
  bool failed = false;
};

void SilentError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void SilentWarning(png_structp, png_const_charp) {}

void WriteToSink(png_structp png, png_bytep data, std::size_t length) {
  auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
  if (sink->failed) return;
  try {
    sink->out->append(reinterpret_cast<const char*>(data), length);
  } catch (...) {
    sink->failed = true;  // never unwind through libpng's C frames
  }
}
void FlushSink(png_structp) {}

// Everything between setjmp and a possible longjmp is plain data.
bool WriteRows(png_structp png, png_infop info, const Raster& raster, int level, png_bytep* rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  const int colorType = raster.channels == 1   ? PNG_COLOR_TYPE_GRAY
                        : raster.channels == 3 ? PNG_COLOR_TYPE_RGB
                                               : PNG_COLOR_TYPE_RGB_ALPHA;
  png_set_IHDR(png, info, static_cast<png_uint_32>(raster.width), static_cast<png_uint_32>(raster.height), 8,
               colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, level);
  // Two row filters instead of libpng's five: a third less encoding time for
  // files within 2 % of the size (bench/RESULTS.md, "PNG row filters").
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

// The IEND chunk (zero length, type, fixed CRC) among the last bytes; some
// writers pad after it.
bool HasEndChunk(const unsigned char* data, std::size_t size) {
  static const unsigned char kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  const std::size_t window = size < 1024 ? size : 1024;
  for (std::size_t at = size - window; at + sizeof kEnd <= size; ++at)
    if (std::memcmp(data + at, kEnd, sizeof kEnd) == 0) return true;
  return false;
}

}  // namespace

DecodeStatus DecodePng(const unsigned char* data, std::size_t size, Raster& out) {
  if (!data || size < 8) return DecodeStatus::kUnsupported;
  PngImageGuard guard;
  // libpng reads every chunk up to the first image data here.
  if (!png_image_begin_read_from_memory(&guard.image, data, size))
    return HasEndChunk(data, size) ? DecodeStatus::kDamaged : DecodeStatus::kTruncated;
  if (!AcceptableSize(guard.image.width, guard.image.height)) return DecodeStatus::kTooLarge;
  // libpng stops reading at the last row it needs: data cut after the pixels
  // would pass, data cut inside them is caught below. Either way a PNG that
  // does not reach its end chunk is not whole.
  if (!HasEndChunk(data, size)) return DecodeStatus::kTruncated;
  Raster raster;
  if (guard.image.format & PNG_FORMAT_FLAG_ALPHA) {
    guard.image.format = PNG_FORMAT_RGBA;
    raster.channels = 4;
  } else if (guard.image.format & PNG_FORMAT_FLAG_COLOR) {
    guard.image.format = PNG_FORMAT_RGB;
    raster.channels = 3;
  } else {
    guard.image.format = PNG_FORMAT_GRAY;
    raster.channels = 1;
  }
  raster.width = guard.image.width;
  raster.height = guard.image.height;
  raster.pixels.resize(PNG_IMAGE_SIZE(guard.image));
  if (!png_image_finish_read(&guard.image, nullptr, raster.pixels.data(), 0, nullptr)) return DecodeStatus::kDamaged;
  out = std::move(raster);
  return DecodeStatus::kOk;
}

bool EncodePng(const Raster& raster, int level, std::string& out) {
  if (raster.width <= 0 || raster.height <= 0) return false;
  if (raster.channels != 1 && raster.channels != 3 && raster.channels != 4) return false;
  const std::size_t stride = static_cast<std::size_t>(raster.width) * raster.channels;
  if (raster.pixels.size() < stride * static_cast<std::size_t>(raster.height)) return false;
  std::vector<png_bytep> rows(static_cast<std::size_t>(raster.height));
  for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = const_cast<png_bytep>(raster.pixels.data() + y * stride);

  std::string encoded;
  PngSink sink{&encoded, false};
  PngWriter writer;
  writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, SilentError, SilentWarning);
  if (!writer.png) return false;
  writer.info = png_create_info_struct(writer.png);
  if (!writer.info) return false;
  png_set_write_fn(writer.png, &sink, WriteToSink, FlushSink);
  if (!WriteRows(writer.png, writer.info, raster, level < 0 ? 0 : level > 9 ? 9 : level, rows.data())) return false;
  if (sink.failed) return false;
  out.swap(encoded);
  return true;
}

}  // namespace kmztile::platform::detail
