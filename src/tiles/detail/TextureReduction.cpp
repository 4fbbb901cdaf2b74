#include "tiles/detail/TextureReduction.h"

#include <algorithm>
#include <cmath>
#include <memory>

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

double DecodeReduction(int base) {
  const float finest = static_cast<float>(base);
  return finest > 1.0f ? static_cast<double>(finest) : 1.0;
}

TextureOutcome ReduceTexture(const std::string& path, std::string& data, int levelFolder, int base,
                             TextureCache* cache, TextureKey source, const std::function<bool()>& readData) {
  const int format = TextureFormatOf(path);
  const float factor = std::pow(static_cast<float>(base), static_cast<float>(levelFolder));
  // A JPEG may be decoded straight at a reduced DCT scale. The scale is the
  // one of the finest reduced level, whatever the level asked for, so the
  // same decode serves every level.
  source.reduction = levelFolder >= 1 ? DecodeReduction(base) : 1.0;
  std::shared_ptr<const Image> decoded = cache ? cache->Find(source) : nullptr;
  if (!decoded) {
    if (readData && !readData()) return TextureOutcome::Unreadable;
    decoded = std::make_shared<const Image>(data.data(), data.size(), format, source.reduction);
    if (cache) cache->Insert(source, decoded);
  }
  if (!decoded->IsValid()) return TextureOutcome::Undecodable;
  const long width = static_cast<long>(static_cast<float>(decoded->GetWidth()) / factor);
  const long height = static_cast<long>(static_cast<float>(decoded->GetHeight()) / factor);
  if (width < 8 && height < 8) return TextureOutcome::Dropped;
  // The cached decode stays untouched: only the reduced pixels are made.
  const int target = format == platform::kImageUnknown ? platform::kImageJpeg : format;
  std::string encoded;
  if (!decoded->EncodeResampled(width < 1 ? 1 : width, height < 1 ? 1 : height, encoded, target))
    return readData && !readData() ? TextureOutcome::Unreadable : TextureOutcome::Kept;
  data.swap(encoded);
  return TextureOutcome::Reduced;
}

}  // namespace kmztile::tiles::detail
