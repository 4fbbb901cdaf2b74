#pragma once
// The pixel buffer shared by the codecs: 8-bit samples, rows top to bottom,
// no padding between rows.
#include <cstdint>
#include <vector>

namespace kmztile::platform::detail {

/** A raster of 8-bit samples with 1 (gray), 3 (RGB) or 4 (RGBA) channels. */
struct Raster {
  long width = 0;
  long height = 0;
  int channels = 0;
  std::vector<std::uint8_t> pixels;
};

/**
 * Largest picture a decoder accepts: 64 Mpixel (8192 x 8192, the largest
 * texture common viewers load). Decoders check the size their header declares
 * before allocating anything, so decoding one texture takes at most about
 * 1 GB (the codec's working buffers plus the raster) whatever its file claims.
 */
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 26;

/** True when a declared size is positive and within kMaxPixels. */
inline bool AcceptableSize(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width <= kMaxPixels && height <= kMaxPixels && width * height <= kMaxPixels;
}

}  // namespace kmztile::platform::detail
