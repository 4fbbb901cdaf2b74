// Textures as glTF images: glTF viewers read JPEG and PNG only, so anything
// else is decoded and written again as PNG (which keeps an alpha channel).
#include "platform/Image.h"
#include "threedtiles/ThreeDTiles.h"

namespace kmztile::threedtiles {
namespace {

bool StartsWith(const std::string& bytes, const char* magic, std::size_t size) {
  return bytes.size() >= size && bytes.compare(0, size, magic, size) == 0;
}

}  // namespace

bool EmbedImage(const std::string& bytes, EmbeddedImage& image) {
  if (StartsWith(bytes, "\xFF\xD8\xFF", 3)) {
    image = {bytes, "image/jpeg", false};
    return true;
  }
  // A PNG's colour type (byte 25 of the IHDR chunk) 4 or 6 carries alpha;
  // a palette or grey image with a tRNS chunk does too.
  if (StartsWith(bytes, "\x89PNG\r\n\x1A\n", 8) && bytes.size() > 25) {
    const unsigned char colourType = static_cast<unsigned char>(bytes[25]);
    image = {bytes, "image/png", colourType == 4 || colourType == 6 || bytes.find("tRNS") != std::string::npos};
    return true;
  }
  const platform::Image decoded(bytes.data(), bytes.size(), platform::kImageUnknown);
  if (!decoded.IsValid()) return false;
  std::string png;
  if (!decoded.Encode(png, platform::kImagePng)) return false;
  image = {std::move(png), "image/png", decoded.GetChannels() == 4 || decoded.GetChannels() == 2};
  return true;
}

}  // namespace kmztile::threedtiles
