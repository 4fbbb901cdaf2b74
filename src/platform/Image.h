#pragma once
// The image class the tile writer reduces textures with: decode from memory
// by format code, validity, size, nearest-pixel resampling and encoding into
// memory. Pixels are 8-bit gray, RGB or RGBA; deeper or palette images are
// brought to 8 bits on decoding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/detail/Raster.h"

namespace kmztile::platform {

/** Format codes of the image class. */
enum ImageFormat : int {
  /** Not stated: the decoder detects the format from the bytes. */
  kImageUnknown = 0,
  kImageJpeg = 3,
  kImagePng = 4,
  kImageTiff = 6,
};

/**
 * A decoded raster image. Decoding never throws and never crashes on damaged
 * input: a corrupt, truncated or unsupported image is simply not valid.
 */
class Image {
 public:
  /** An empty (not valid) image; @p format is only remembered. */
  explicit Image(int format = kImageUnknown);

  /**
   * Decodes @p size bytes at @p data. Format 3, 4 and 6 accept only JPEG,
   * PNG and TIFF bytes respectively; format 0 detects JPEG, PNG, TIFF, GIF
   * and BMP from their signatures (the first picture of a GIF; BMPs without
   * RLE) and refuses every other format. Truncated pictures and pictures
   * larger than 64 Mpixel (checked from the header, before any pixel
   * memory is taken) are not valid. @p reduction > 1 allows a JPEG to be decoded at a
   * reduced DCT scale, never below 1/@p reduction of its size: the image
   * still reports its stored size, keeps less detail, and should be
   * resampled to at most that fraction (Encode without Resample scales it
   * back up by nearest pixel).
   */
  Image(const void* data, std::size_t size, int format, double reduction = 1.0);

  /** True when the image holds decoded pixels. */
  bool IsValid() const { return width_ > 0 && height_ > 0; }
  /** Width in pixels (0 when not valid). */
  long GetWidth() const { return width_; }
  /** Height in pixels (0 when not valid). */
  long GetHeight() const { return height_; }
  /** Channels per pixel: 1 gray, 3 RGB, 4 RGBA (0 when not valid). */
  int GetChannels() const { return channels_; }
  /** The format code the image was created or decoded with. */
  int GetFormat() const { return format_; }
  /** Bytes the decoded pixels take in memory. */
  std::size_t MemoryBytes() const { return raster_.pixels.size(); }

  /**
   * Resizes the image to exactly @p width by @p height. Every mode samples
   * the nearest pixel (mode 1 is the fast nearest-pixel method; no other
   * method is offered). @return false, image unchanged, when it is not valid
   * or a size is below 1.
   */
  bool Resample(long width, long height, int mode = 1);

  /**
   * A copy of the image resized to exactly @p width by @p height by nearest
   * pixel, as Resample would leave it, made without copying the pixels of
   * this image first. @return a not-valid image when this one is not valid
   * or a size is below 1.
   */
  Image Resampled(long width, long height) const;

  /**
   * Encodes the image as @p format (3 JPEG, 4 PNG, 6 TIFF; 0 means JPEG)
   * into @p out, replacing it. @return false (out untouched) when the image
   * is not valid, the format is unknown or the encoder fails.
   */
  bool Encode(std::string& out, int format) const;

  /**
   * Encode of Resampled(width, height), without the copy when the pixels
   * already have that size (a JPEG decoded at the scale asked for).
   */
  bool EncodeResampled(long width, long height, std::string& out, int format) const;

  /** JPEG quality used by Encode (1 to 100). */
  static constexpr int kJpegQuality = 90;
  /** zlib level used by Encode for PNG, chosen by measurement (bench/results/tiles.md). */
  static constexpr int kPngCompressionLevel = 1;

 private:
  void Decode(const unsigned char* data, std::size_t size, int format, double reduction);
  bool PixelsMatchSize() const { return raster_.width == width_ && raster_.height == height_; }

  int format_ = kImageUnknown;
  long width_ = 0;
  long height_ = 0;
  int channels_ = 0;
  // The decoded pixels; smaller than width_ x height_ after a reduced decode.
  detail::Raster raster_;
};

}  // namespace kmztile::platform
