#pragma once
// The marker segments of a JPEG stream, read without decoding it: what a
// decoder will cost can be told from them before it starts.
#include <cstddef>
#include <functional>

namespace kmztile::platform::detail {

/**
 * Calls @p visit(marker, segment, available) for each marker segment of the
 * JPEG stream @p d of @p n bytes after its SOI, up to its EOI, stepping over
 * entropy-coded data. @p segment points at the segment's two length bytes;
 * @p available is the number of bytes from there to the end of the data.
 * The walk stops when @p visit returns false.
 */
void ForEachJpegSegment(
    const unsigned char* d, std::size_t n,
    const std::function<bool(unsigned char marker, const unsigned char* segment, std::size_t available)>& visit);

/**
 * The number of scans (SOS markers) up to the end marker, counting no
 * further than @p limit + 1. libjpeg decodes every scan over the whole
 * picture, and a progressive stream may repeat a scan that only adds zeros
 * as often as it likes without a warning: a few hundred kilobytes of such
 * scans kept the decoder busy for minutes on an 8192 x 8192 picture.
 */
std::size_t CountJpegScans(const unsigned char* d, std::size_t n, std::size_t limit);

/**
 * True when libjpeg decodes the stream through coefficient buffers for its
 * whole frame (two bytes a sample) instead of one row of blocks at a time:
 * the frame is progressive, or its first scan holds fewer components than
 * the frame (each component comes in a scan of its own).
 */
bool JpegNeedsWholeFrameBuffers(const unsigned char* d, std::size_t n);

}  // namespace kmztile::platform::detail
