#pragma once
// The pixel buffer shared by the codecs: 8-bit samples, rows top to bottom,
// no padding between rows.
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace kmztile::platform::detail {

/**
 * An allocator that leaves new elements uninitialised: a decoder writes
 * every sample of the buffer it sizes, so zeroing it first (what resize
 * does with the standard allocator) is work thrown away.
 */
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() noexcept = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

/** Samples of a raster. */
using Pixels = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

/** A raster of 8-bit samples with 1 (gray), 3 (RGB) or 4 (RGBA) channels. */
struct Raster {
  long width = 0;
  long height = 0;
  int channels = 0;
  Pixels pixels;
};

/**
 * Largest picture a decoder accepts: 64 Mpixel (8192 x 8192, the largest
 * texture common viewers load). Decoders check the size their header declares
 * before allocating anything, so decoding one texture takes at most about
 * 1 GB (the codec's working buffers plus the raster) whatever its file claims.
 */
#ifndef KMZTILE_FUZZING
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 26;
#else
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 22;  // fuzzing builds: 2048 x 2048
#endif

/** True when a declared size is positive and within kMaxPixels. */
inline bool AcceptableSize(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width <= kMaxPixels && height <= kMaxPixels && width * height <= kMaxPixels;
}

}  // namespace kmztile::platform::detail
