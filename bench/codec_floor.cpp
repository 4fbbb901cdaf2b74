// codec_floor SRCDIR OUTDIR: the codec work a build of SRCDIR into OUTDIR
// cannot avoid, timed on the same textures:
//   - every source texture of SRCDIR (N/*.jpg, *.png, *.tif) decoded once,
//     the way the tile builder decodes it (a JPEG at the DCT scale of the
//     finest reduced level),
//   - every reduced texture of every tile in OUTDIR/tiles encoded once with
//     the encoder settings of the library (Image::Encode),
//   - every entry the tile writer deflates, deflated once at its level: the
//     KML bytes and the images that are not compressed already (TIFF; JPEG
//     and PNG are stored); a model's COLLADA file, whose deflated bytes the
//     writer keeps for all the levels of its area, once in all.
// Times are CPU seconds. Prints one JSON object; bench/city.sh divides the
// CPU time of the build's tile work by "floor_s". "floor_previous_s" is the
// floor as measured before 2026-12-08 evening (every texture decoded at full
// size, TIFF entries not counted, COLLADA deflated in every tile), kept to
// compare with older figures; "collada_repeats_s" is what deflating each
// COLLADA entry again in every tile holding it would add.
#include <zlib.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Image.h"
#include "platform/ZipWriter.h"
#include "reading/KmzSource.h"
#include "tiles/detail/TextureReduction.h"
#include "tiles/detail/TileNames.h"

namespace fs = std::filesystem;
using kmztile::platform::Image;

namespace {

// The zlib level the tile writer deflates KML and COLLADA entries with.
constexpr int kTextLevel = kmztile::platform::kTextDeflateLevel;

// CPU time of this (single) thread: on a machine shared with other work the
// wall clock would also measure the neighbours.
struct Clock {
  using time_point = double;
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }
};

double Since(Clock::time_point t) { return Clock::now() - t; }

bool EndsWith(const std::string& s, const char* tail) {
  const std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

bool IsTexture(const std::string& name) {
  return kmztile::tiles::detail::TextureFormatOf(name) != kmztile::platform::kImageUnknown;
}

// Raw deflate of @p data at @p level, as a zip entry holds it; returns the compressed size.
size_t Deflate(const std::string& data, int level, std::vector<unsigned char>& buffer) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
  buffer.resize(deflateBound(&z, static_cast<uLong>(data.size())));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = buffer.data();
  z.avail_out = static_cast<uInt>(buffer.size());
  deflate(&z, Z_FINISH);
  const size_t out = z.total_out;
  deflateEnd(&z);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: codec_floor SRCDIR OUTDIR\n");
    return 2;
  }
  const fs::path source(argv[1]);
  const fs::path out(argv[2]);

  // 1. Every source texture decoded once as the tile builder decodes it,
  //    and (for the previous floor) once at full size.
  const double reduction = kmztile::tiles::detail::DecodeReduction(kmztile::tiles::detail::kTextureBase);
  long sourceTextures = 0, decodeFailures = 0;
  double decodeSeconds = 0, fullDecodeSeconds = 0;
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    if (!entry.is_regular_file() || !IsTexture(entry.path().filename().string())) continue;
    std::string bytes;
    if (!kmztile::platform::ReadWholeFile(entry.path().string(), bytes)) continue;
    const int format = kmztile::tiles::detail::TextureFormatOf(entry.path().string());
    auto t = Clock::now();
    Image image(bytes.data(), bytes.size(), format, reduction);
    decodeSeconds += Since(t);
    t = Clock::now();
    Image full(bytes.data(), bytes.size(), format);
    fullDecodeSeconds += Since(t);
    ++sourceTextures;
    if (!image.IsValid()) ++decodeFailures;
  }

  // 2 and 3. Per tile: reduced textures encoded once, KML and COLLADA deflated once.
  long tiles = 0, encoded = 0, deflated = 0, deflatedImages = 0;
  double encodeSeconds = 0, deflateSeconds = 0, imageDeflateSeconds = 0, colladaRepeatSeconds = 0;
  std::set<std::string> colladas;  // COLLADA entries deflated already (one model's entry has one name)
  std::uint64_t deflatedBytes = 0, encodedBytes = 0;
  std::vector<unsigned char> buffer;
  std::string data;
  for (const auto& entry : fs::recursive_directory_iterator(out / "tiles")) {
    if (!entry.is_regular_file() || entry.path().extension() != ".kmz") continue;
    kmztile::reading::OpenedKmz tile;
    if (!kmztile::reading::OpenKmzSource(entry.path().string(), tile)) continue;
    ++tiles;
    for (const auto& e : tile.index->directory.entries()) {
      if (EndsWith(e.name, "/") || !tile.index->ReadEntry(e.name, data)) continue;
      if (EndsWith(e.name, ".kml") || EndsWith(e.name, ".dae")) {
        const bool repeat = EndsWith(e.name, ".dae") && !colladas.insert(e.name).second;
        const auto t = Clock::now();
        const size_t bytes = Deflate(data, kTextLevel, buffer);
        (repeat ? colladaRepeatSeconds : deflateSeconds) += Since(t);
        if (repeat) continue;
        deflatedBytes += bytes;
        ++deflated;
      } else if (IsTexture(e.name)) {
        const int format = kmztile::tiles::detail::TextureFormatOf(e.name);
        Image image(data.data(), data.size(), format);  // the reduced pixels; decoding them is not timed
        if (!image.IsValid()) continue;
        std::string reencoded;
        const auto t = Clock::now();
        image.Encode(reencoded, format);
        encodeSeconds += Since(t);
        encodedBytes += reencoded.size();
        ++encoded;
        // The writer deflates what is not a compressed image already.
        if (!kmztile::platform::IsCompressedImage(data)) {
          const auto d = Clock::now();
          deflatedBytes += Deflate(data, kTextLevel, buffer);
          imageDeflateSeconds += Since(d);
          ++deflatedImages;
        }
      }
    }
  }
  const double floor = decodeSeconds + encodeSeconds + deflateSeconds + imageDeflateSeconds;
  const double previous = fullDecodeSeconds + encodeSeconds + deflateSeconds + colladaRepeatSeconds;
  std::printf(
      "{\"source_textures\": %ld, \"undecodable\": %ld, \"decode_s\": %.3f, \"decode_full_size_s\": %.3f, "
      "\"tiles\": %ld, \"encoded_textures\": %ld, \"encoded_mb\": %.2f, \"encode_s\": %.3f, "
      "\"deflated_entries\": %ld, \"deflated_images\": %ld, \"deflated_mb\": %.2f, \"deflate_s\": %.3f, "
      "\"image_deflate_s\": %.3f, \"collada_repeats_s\": %.3f, \"floor_s\": %.3f, \"floor_previous_s\": %.3f}\n",
      sourceTextures, decodeFailures, decodeSeconds, fullDecodeSeconds, tiles, encoded,
      static_cast<double>(encodedBytes) / 1048576.0, encodeSeconds, deflated + deflatedImages, deflatedImages,
      static_cast<double>(deflatedBytes) / 1048576.0, deflateSeconds, imageDeflateSeconds, colladaRepeatSeconds, floor, previous);
  return 0;
}
