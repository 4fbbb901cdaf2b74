// The image decoder for each format code on arbitrary bytes; a valid image
// is resampled and encoded again. The last byte picks the format and the
// reduction (so a real JPEG or PNG seed lands on its own decoder).
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Image.h"

using kmztile::platform::Image;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const int kFormats[] = {kmztile::platform::kImageUnknown, kmztile::platform::kImageJpeg,
                                 kmztile::platform::kImagePng, kmztile::platform::kImageTiff};
  const uint8_t pick = data[size - 1];
  const int format = kFormats[pick & 3];
  const double reduction = 1 << ((pick >> 2) & 3);
  Image image(data, size, format, reduction);
  if (!image.IsValid()) return 0;
  // Keep the work bounded: the decoder already refused what it cannot hold.
  if (static_cast<double>(image.GetWidth()) * image.GetHeight() > 4e6) return 0;
  if (!image.Resample(image.GetWidth() / 2 + 1, image.GetHeight() / 2 + 1)) std::abort();
  std::string out;
  image.Encode(out, (pick & 0x40) ? kmztile::platform::kImagePng : kmztile::platform::kImageJpeg);
  return 0;
}
