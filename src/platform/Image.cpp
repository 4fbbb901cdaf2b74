#include "platform/Image.h"

#include <cstring>

#include "platform/detail/Codecs.h"

namespace kmztile::platform {
namespace {

// Copies the pixels at @p columns of one source row; C channels per pixel.
// A fixed C lets the compiler copy each pixel in one move.
template <std::size_t C>
void SampleRow(const std::uint8_t* row, const std::vector<std::size_t>& columns, std::uint8_t* out) {
  for (const std::size_t column : columns) {
    std::memcpy(out, row + column, C);
    out += C;
  }
}

// Three channels: a pixel is moved as four bytes, the fourth overwritten by
// the next pixel, which is one move instead of two. The last pixel of a row,
// and any whose four bytes would pass the end of the source row (@p rowBytes),
// take three.
void SampleRow3(const std::uint8_t* row, std::size_t rowBytes, const std::vector<std::size_t>& columns,
                std::uint8_t* out) {
  const std::size_t n = columns.size();
  std::size_t i = 0;
  for (; i + 1 < n && columns[i] + 4 <= rowBytes; ++i, out += 3) {
    std::uint32_t pixel;
    std::memcpy(&pixel, row + columns[i], 4);
    std::memcpy(out, &pixel, 4);
  }
  for (; i < n; ++i, out += 3) std::memcpy(out, row + columns[i], 3);
}

// Nearest-pixel scaling of a whole raster: each target pixel takes the
// source pixel under its centre.
detail::Raster Nearest(const detail::Raster& src, long width, long height) {
  detail::Raster dst;
  dst.width = width;
  dst.height = height;
  dst.channels = src.channels;
  const std::size_t c = static_cast<std::size_t>(src.channels);
  dst.pixels.resize(static_cast<std::size_t>(width) * height * c);
  std::vector<std::size_t> columns(static_cast<std::size_t>(width));
  for (long x = 0; x < width; ++x)
    columns[x] = static_cast<std::size_t>((static_cast<double>(x) + 0.5) * src.width / width) * c;
  std::uint8_t* out = dst.pixels.data();
  const std::size_t rowBytes = static_cast<std::size_t>(width) * c;
  for (long y = 0; y < height; ++y, out += rowBytes) {
    const long sy = static_cast<long>((static_cast<double>(y) + 0.5) * src.height / height);
    const std::uint8_t* row = src.pixels.data() + static_cast<std::size_t>(sy) * src.width * c;
    switch (c) {
      case 1: SampleRow<1>(row, columns, out); break;
      case 3: SampleRow3(row, static_cast<std::size_t>(src.width) * 3, columns, out); break;
      case 4: SampleRow<4>(row, columns, out); break;
      default:
        for (long x = 0; x < width; ++x) std::memcpy(out + x * c, row + columns[x], c);
    }
  }
  return dst;
}

// Encodes pixels as @p format with the library's settings (0 means JPEG).
bool EncodeRaster(const detail::Raster& raster, std::string& out, int format) {
  switch (format) {
    case kImageUnknown:
    case kImageJpeg: return detail::EncodeJpeg(raster, Image::kJpegQuality, out);
    case kImagePng: return detail::EncodePng(raster, Image::kPngCompressionLevel, out);
    case kImageTiff: return detail::EncodeTiff(raster, out);
    default: return false;
  }
}

}  // namespace

Image::Image(int format) : format_(format) {}

Image::Image(const void* data, std::size_t size, int format, double reduction) : format_(format) {
  if (data && size > 0) Decode(static_cast<const unsigned char*>(data), size, format, reduction);
}

void Image::Decode(const unsigned char* data, std::size_t size, int format, double reduction) {
  detail::Raster raster;
  long fullWidth = 0, fullHeight = 0;
  if (detail::DecodeImage(data, size, format, reduction, raster, fullWidth, fullHeight) != detail::DecodeStatus::kOk)
    return;
  width_ = fullWidth;
  height_ = fullHeight;
  channels_ = raster.channels;
  raster_ = std::move(raster);
}

bool Image::Resample(long width, long height, int /*mode*/) {
  if (!IsValid() || width < 1 || height < 1) return false;
  if (width != raster_.width || height != raster_.height) raster_ = Nearest(raster_, width, height);
  width_ = width;
  height_ = height;
  return true;
}

Image Image::Resampled(long width, long height) const {
  Image copy(format_);
  if (!IsValid() || width < 1 || height < 1) return copy;
  if (width == raster_.width && height == raster_.height)
    copy.raster_ = raster_;
  else
    copy.raster_ = Nearest(raster_, width, height);
  copy.width_ = width;
  copy.height_ = height;
  copy.channels_ = channels_;
  return copy;
}

bool Image::EncodeResampled(long width, long height, std::string& out, int format) const {
  if (!IsValid() || width < 1 || height < 1) return false;
  if (width != raster_.width || height != raster_.height) return Resampled(width, height).Encode(out, format);
  return EncodeRaster(raster_, out, format);
}

bool Image::Encode(std::string& out, int format) const {
  if (!IsValid()) return false;
  // A reduced decode that was never resampled is brought back to its size first.
  detail::Raster scaled;
  const detail::Raster* source = &raster_;
  if (!PixelsMatchSize()) {
    scaled = Nearest(raster_, width_, height_);
    source = &scaled;
  }
  return EncodeRaster(*source, out, format);
}

}  // namespace kmztile::platform
