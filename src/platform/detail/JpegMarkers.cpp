#include "platform/detail/JpegMarkers.h"

namespace kmztile::platform::detail {

void ForEachJpegSegment(const unsigned char* d, std::size_t n,
                        const std::function<bool(unsigned char, const unsigned char*, std::size_t)>& visit) {
  std::size_t at = 2;  // after SOI
  while (at + 1 < n) {
    if (d[at] != 0xFF) {
      ++at;  // entropy-coded data
      continue;
    }
    const unsigned char marker = d[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    at += 2;
    if (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // stuffing, RSTn, TEM
    if (marker == 0xD9) break;  // EOI
    if (at + 1 >= n) break;
    if (!visit(marker, d + at, n - at)) break;
    const std::size_t length = (static_cast<std::size_t>(d[at]) << 8) | d[at + 1];
    at += length;  // the segment; a scan's entropy-coded data follows it
  }
}

std::size_t CountJpegScans(const unsigned char* d, std::size_t n, std::size_t limit) {
  std::size_t scans = 0;
  ForEachJpegSegment(d, n, [&](unsigned char marker, const unsigned char*, std::size_t) {
    if (marker == 0xDA) ++scans;
    return scans <= limit;
  });
  return scans;
}

bool JpegNeedsWholeFrameBuffers(const unsigned char* d, std::size_t n) {
  int frameComponents = -1;
  bool progressive = false, whole = false;
  ForEachJpegSegment(d, n, [&](unsigned char marker, const unsigned char* segment, std::size_t available) {
    // SOF0 to SOF15 but DHT (C4), JPG (C8) and DAC (CC): length, precision,
    // height, width, then the number of components.
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame && frameComponents < 0 && available > 7) {
      frameComponents = segment[7];
      progressive = (marker & 0x03) == 0x02;  // SOF2, SOF6, SOF10, SOF14
      return true;
    }
    if (marker != 0xDA) return true;
    // The first scan: length, then its number of components.
    if (frameComponents >= 0 && available > 2) whole = progressive || segment[2] < frameComponents;
    return false;
  });
  return whole;
}

}  // namespace kmztile::platform::detail
