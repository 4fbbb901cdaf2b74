// Formats other than JPEG, PNG and TIFF, met when a texture's format is not
// stated: stb_image (BMP, GIF, TGA, PSD, PNM, HDR, PIC).
#include <stb/stb_image.h>

#include <climits>
#include <memory>

#include "platform/detail/Codecs.h"

namespace kmztile::platform::detail {
namespace {
struct StbFree {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};
}  // namespace

bool DecodeOther(const unsigned char* data, std::size_t size, Raster& out) {
  if (!data || size == 0 || size > static_cast<std::size_t>(INT_MAX)) return false;
  const int length = static_cast<int>(size);
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) return false;
  if (!AcceptableSize(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height))) return false;
  // Gray and RGB stay as they are; gray with alpha becomes RGBA.
  const int wanted = channels == 1 ? 1 : channels == 3 ? 3 : 4;
  std::unique_ptr<stbi_uc, StbFree> pixels(stbi_load_from_memory(data, length, &width, &height, &channels, wanted));
  if (!pixels) return false;
  Raster raster;
  raster.width = width;
  raster.height = height;
  raster.channels = wanted;
  const std::size_t count = static_cast<std::size_t>(width) * height * wanted;
  raster.pixels.assign(pixels.get(), pixels.get() + count);
  out = std::move(raster);
  return true;
}

}  // namespace kmztile::platform::detail
