#include "tiles/detail/TextureCache.h"

#include <cstdio>
#include <cstdlib>

namespace kmztile::tiles::detail {

namespace {
constexpr std::size_t kDefaultCapacityMb = 96;
}  // namespace

TextureCache::TextureCache(std::size_t capacityBytes) : capacity_(capacityBytes) {}

std::string TextureCache::IdOf(const TextureKey& key) {
  // Fields joined with NUL, which neither a path nor an entry name holds.
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, "%llu\x01%lld\x01%.17g", static_cast<unsigned long long>(key.size),
                static_cast<long long>(key.mtimeNs), key.reduction);
  std::string id = key.package;
  id += '\0';
  id += numbers;
  id += '\0';
  id += key.entry;
  return id;
}

std::shared_ptr<const platform::Image> TextureCache::Find(const TextureKey& key) {
  const auto it = index_.find(IdOf(key));
  if (it == index_.end()) {
    ++misses_;
    return nullptr;
  }
  ++hits_;
  order_.splice(order_.begin(), order_, it->second);
  return it->second->image;
}

void TextureCache::Insert(const TextureKey& key, std::shared_ptr<const platform::Image> image) {
  if (!image) return;
  std::string id = IdOf(key);
  const auto found = index_.find(id);
  if (found != index_.end()) {
    bytes_ -= found->second->bytes;
    order_.erase(found->second);
    index_.erase(found);
  }
  const std::size_t bytes = image->MemoryBytes() + id.size();
  if (bytes > capacity_) return;
  EvictTo(capacity_ - bytes);
  order_.push_front(Slot{id, std::move(image), bytes});
  index_.emplace(std::move(id), order_.begin());
  bytes_ += bytes;
}

void TextureCache::Clear() {
  order_.clear();
  index_.clear();
  bytes_ = 0;
}

void TextureCache::EvictTo(std::size_t limit) {
  while (bytes_ > limit && !order_.empty()) {
    bytes_ -= order_.back().bytes;
    index_.erase(order_.back().id);
    order_.pop_back();
  }
}

TextureCache& TextureCache::Shared() {
  static TextureCache cache([] {
    const char* text = std::getenv("KMZTILE_TEXTURE_CACHE_MB");
    std::size_t mb = kDefaultCapacityMb;
    if (text && *text) {
      char* end = nullptr;
      const unsigned long long value = std::strtoull(text, &end, 10);
      if (end && *end == '\0' && value < (1ull << 20)) mb = static_cast<std::size_t>(value);
    }
    return mb * 1024 * 1024;
  }());
  return cache;
}

}  // namespace kmztile::tiles::detail
