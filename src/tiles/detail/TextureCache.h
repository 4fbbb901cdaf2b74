#pragma once
// Decoded textures kept between tiles: the four levels of a model's tiles
// each reduce the same texture entry, and one decode serves them all.
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/Image.h"

namespace kmztile::tiles::detail {

/**
 * What identifies one decode: the package file (path, size and modification
 * time, so a rewritten package never hits), the entry in it and the reduction
 * the image was decoded at.
 */
struct TextureKey {
  std::string package;
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;
  std::string entry;
  double reduction = 1.0;
};

/**
 * A least-recently-used cache of decoded images bounded by the bytes of
 * their pixels. Not thread-safe: the library is single-threaded, and the
 * command's workers are separate processes, each with its own cache.
 */
class TextureCache {
 public:
  /** A cache holding at most @p capacityBytes of pixels (0 keeps nothing). */
  explicit TextureCache(std::size_t capacityBytes);

  /** The decoded image under @p key, or null. A hit makes it the most recently used. */
  std::shared_ptr<const platform::Image> Find(const TextureKey& key);

  /**
   * Keeps @p image under @p key (replacing an earlier one), then evicts the
   * least recently used images until the pixels fit the capacity. An image
   * larger than the whole capacity is not kept.
   */
  void Insert(const TextureKey& key, std::shared_ptr<const platform::Image> image);

  /** Drops every image. */
  void Clear();

  /** Bytes of pixels held now. */
  std::size_t Bytes() const { return bytes_; }
  /** Images held now. */
  std::size_t Count() const { return index_.size(); }
  /** Finds that returned an image, since construction. */
  std::uint64_t Hits() const { return hits_; }
  /** Finds that returned null, since construction. */
  std::uint64_t Misses() const { return misses_; }

  /**
   * The process-wide cache the tile writer uses: 96 MB of pixels, or
   * KMZTILE_TEXTURE_CACHE_MB megabytes when that variable is set (0 turns
   * caching off).
   */
  static TextureCache& Shared();

 private:
  struct Slot {
    std::string id;
    std::shared_ptr<const platform::Image> image;
    std::size_t bytes;
  };
  static std::string IdOf(const TextureKey& key);
  void EvictTo(std::size_t limit);

  std::size_t capacity_;
  std::size_t bytes_ = 0;
  std::uint64_t hits_ = 0;
  std::uint64_t misses_ = 0;
  std::list<Slot> order_;  // most recently used first
  std::unordered_map<std::string, std::list<Slot>::iterator> index_;
};

}  // namespace kmztile::tiles::detail
