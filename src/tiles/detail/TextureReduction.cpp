#include "tiles/detail/TextureReduction.h"

#include <cmath>

#include "platform/Image.h"

namespace kmztile::tiles::detail {

using platform::Image;

int TextureFormatOf(const std::string& path) {
  if (path.size() < 3) return platform::kImageUnknown;
  const std::string ext = path.substr(path.size() - 3);
  if (ext == "jpg" || ext == "JPG") return platform::kImageJpeg;
  if (ext == "png" || ext == "PNG") return platform::kImagePng;
  if (ext == "tif" || ext == "TIF") return platform::kImageTiff;
  return platform::kImageUnknown;
}

TextureOutcome ReduceTexture(const std::string& path, std::string& data, int levelFolder, int base) {
  const int format = TextureFormatOf(path);
  const float factor = std::pow(static_cast<float>(base), static_cast<float>(levelFolder));
  // A JPEG may be decoded straight at a reduced DCT scale; the result is the same size.
  Image image(data.data(), data.size(), format, factor > 1.0f ? static_cast<double>(factor) : 1.0);
  if (!image.IsValid()) return TextureOutcome::Dropped;
  const long width = static_cast<long>(static_cast<float>(image.GetWidth()) / factor);
  const long height = static_cast<long>(static_cast<float>(image.GetHeight()) / factor);
  if (width < 8 && height < 8) return TextureOutcome::Dropped;
  image.Resample(width < 1 ? 1 : width, height < 1 ? 1 : height, 1);
  const int target = format == platform::kImageUnknown ? platform::kImageJpeg : format;
  std::string encoded;
  if (!image.Encode(encoded, target)) return TextureOutcome::Kept;
  data.swap(encoded);
  return TextureOutcome::Reduced;
}

}  // namespace kmztile::tiles::detail
