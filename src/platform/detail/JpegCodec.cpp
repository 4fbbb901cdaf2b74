// JPEG through TurboJPEG. CMYK and YCCK pictures are decoded as CMYK and
// converted to RGB (Adobe's inverted convention, the one such files use).
#include <turbojpeg.h>

#include <cstring>
#include <memory>

#include "platform/detail/Codecs.h"
#include "platform/detail/JpegMarkers.h"

namespace kmztile::platform::detail {
namespace {

struct TjDestroy {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDestroy>;

struct TjFree {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
using TjBuffer = std::unique_ptr<unsigned char, TjFree>;

// The smallest of the scales 1/2, 1/4 and 1/8 whose scaled size stays at or
// above size / reduction in both directions; 1/1 when none does.
tjscalingfactor ChooseScale(int width, int height, double reduction) {
  tjscalingfactor best{1, 1};
  if (reduction <= 1.0) return best;
  int count = 0;
  const tjscalingfactor* factors = tjGetScalingFactors(&count);
  if (!factors) return best;
  const double minWidth = width / reduction;
  const double minHeight = height / reduction;
  for (int i = 0; i < count; ++i) {
    const tjscalingfactor f = factors[i];
    // Only 1/2, 1/4 and 1/8: the other scales have no fast inverse DCT.
    if (f.num != 1 || (f.denom != 2 && f.denom != 4 && f.denom != 8)) continue;
    if (TJSCALED(width, f) < minWidth || TJSCALED(height, f) < minHeight) continue;
    if (static_cast<long>(f.num) * best.denom < static_cast<long>(best.num) * f.denom) best = f;
  }
  return best;
}

// libjpeg's warning when the data ends before the last scan does
// (JWRN_JPEG_EOF); its source manager then inserts an end marker.
bool EndedEarly(void* handle) {
  const char* message = tjGetErrorStr2(handle);
  return tjGetErrorCode(handle) == TJERR_WARNING && message &&
         std::strstr(message, "Premature end of JPEG file") != nullptr;
}

}  // namespace

DecodeStatus DecodeJpeg(const unsigned char* data, std::size_t size, double reduction, Raster& out, long& fullWidth,
                        long& fullHeight) {
  if (!data || size == 0 || size > 0x7fffffffu) return DecodeStatus::kUnsupported;
  TjHandle handle(tjInitDecompress());
  if (!handle) return DecodeStatus::kDamaged;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(handle.get(), data, static_cast<unsigned long>(size), &width, &height, &subsampling,
                          &colorspace) != 0)
    return DecodeStatus::kDamaged;
  if (!AcceptableSize(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height)) ||
      CountJpegScans(data, size, kMaxJpegScans) > kMaxJpegScans)
    return DecodeStatus::kTooLarge;

  const tjscalingfactor scale = ChooseScale(width, height, reduction);
  const int w = TJSCALED(width, scale);
  const int h = TJSCALED(height, scale);
  const bool cmyk = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
  const bool gray = colorspace == TJCS_GRAY;
  const int pixelFormat = cmyk ? TJPF_CMYK : gray ? TJPF_GRAY : TJPF_RGB;
  const int decodedChannels = tjPixelSize[pixelFormat];

  Raster raster;
  raster.width = w;
  raster.height = h;
  raster.channels = gray ? 1 : 3;
  Pixels decoded(static_cast<std::size_t>(w) * h * decodedChannels);
  // A warning (truncated or damaged data) fails too: libjpeg would go on and
  // fill what is missing with grey, and such a picture is not shown.
  if (tjDecompress2(handle.get(), data, static_cast<unsigned long>(size), decoded.data(), w, 0, h, pixelFormat,
                    TJFLAG_STOPONWARNING) != 0)
    return EndedEarly(handle.get()) ? DecodeStatus::kTruncated : DecodeStatus::kDamaged;
  if (cmyk) {
    raster.pixels.resize(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0, n = static_cast<std::size_t>(w) * h; i < n; ++i) {
      const unsigned k = decoded[i * 4 + 3];
      for (int c = 0; c < 3; ++c) raster.pixels[i * 3 + c] = static_cast<std::uint8_t>(decoded[i * 4 + c] * k / 255);
    }
  } else {
    raster.pixels.swap(decoded);
  }
  out = std::move(raster);
  fullWidth = width;
  fullHeight = height;
  return DecodeStatus::kOk;
}

bool EncodeJpeg(const Raster& raster, int quality, std::string& out) {
  if (raster.width <= 0 || raster.height <= 0 || raster.width > 65535 || raster.height > 65535) return false;
  int pixelFormat = 0, subsampling = 0;
  switch (raster.channels) {
    case 1: pixelFormat = TJPF_GRAY; subsampling = TJSAMP_GRAY; break;
    case 3: pixelFormat = TJPF_RGB; subsampling = TJSAMP_420; break;
    case 4: pixelFormat = TJPF_RGBA; subsampling = TJSAMP_420; break;
    default: return false;
  }
  TjHandle handle(tjInitCompress());
  if (!handle) return false;
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  const int rc = tjCompress2(handle.get(), raster.pixels.data(), static_cast<int>(raster.width), 0,
                             static_cast<int>(raster.height), pixelFormat, &buffer, &length, subsampling, quality,
                             TJFLAG_FASTDCT);
  TjBuffer owned(buffer);
  if (rc != 0 || !owned) return false;
  out.assign(reinterpret_cast<const char*>(owned.get()), length);
  return true;
}

}  // namespace kmztile::platform::detail
