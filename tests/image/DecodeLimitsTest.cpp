// What the decoders refuse, and why: formats no KML viewer shows, headers
// declaring more than the pixel cap, pictures whose data ends early. Each
// case names the failure it must produce, so a refusal for the wrong reason
// (a truncated file passing the size check by luck, say) shows.
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BaseParser.h"
#include "TestSupport.h"
#include "platform/Image.h"
#include "platform/detail/Codecs.h"
#include "platform/detail/JpegMarkers.h"

using kmztile::platform::Image;
using kmztile::platform::detail::DecodeImage;
using kmztile::platform::detail::DecodeStatus;
using kmztile::platform::detail::Raster;

namespace {

std::string Real(const std::string& name) { return kmztest::ReadFile(kmztest::RealData("images/" + name)); }

DecodeStatus Status(const std::string& bytes, int format = 0) {
  Raster raster;
  long width = 0, height = 0;
  return DecodeImage(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), format, 1.0, raster, width,
                     height);
}

const char* Name(DecodeStatus s) {
  switch (s) {
    case DecodeStatus::kOk:
      return "ok";
    case DecodeStatus::kUnsupported:
      return "unsupported";
    case DecodeStatus::kTooLarge:
      return "too large";
    case DecodeStatus::kTruncated:
      return "truncated";
    case DecodeStatus::kDamaged:
      return "damaged";
  }
  return "?";
}

std::string Be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string Le16(std::uint32_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

// A real PNG whose IHDR declares another size (CRC made to match).
std::string PngDeclaring(std::uint32_t width, std::uint32_t height) {
  std::string png = Real("png/tiny_7x13.png");
  png.replace(16, 8, Be32(width) + Be32(height));
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17);
  png.replace(29, 4, Be32(static_cast<std::uint32_t>(crc)));
  return png;
}

// A real baseline JPEG whose frame header declares another size.
std::string JpegDeclaring(std::uint16_t width, std::uint16_t height) {
  std::string jpeg = Real("jpeg/baseline_227x149_testorig.jpg");
  const std::size_t sof = jpeg.find("\xFF\xC0");
  const char dims[4] = {static_cast<char>(height >> 8), static_cast<char>(height), static_cast<char>(width >> 8),
                        static_cast<char>(width)};
  jpeg.replace(sof + 5, 4, dims, 4);
  return jpeg;
}

// An uncompressed 24-bit bottom-up BMP of w x h, rows padded to four bytes.
std::string Bmp(std::int32_t w, std::int32_t h, std::size_t pixelBytes) {
  std::string info = Le32(40) + Le32(static_cast<std::uint32_t>(w)) + Le32(static_cast<std::uint32_t>(h)) + Le16(1) +
                     Le16(24) + Le32(0) + Le32(0) + Le32(2835) + Le32(2835) + Le32(0) + Le32(0);
  std::string file = "BM" + Le32(static_cast<std::uint32_t>(54 + pixelBytes)) + Le32(0) + Le32(54) + info;
  for (std::size_t i = 0; i < pixelBytes; ++i) file += static_cast<char>(i * 7);
  return file;
}

// One directory entry of a little-endian TIFF: its value's bytes, held in
// the entry when they fit in four bytes, after the directory otherwise.
struct TiffEntry {
  std::uint16_t tag, type;
  std::uint32_t count;
  std::string value;
};

// A little-endian TIFF: the strips' (or tiles') data after the header, then
// one directory holding @p entries and the blocks' offsets and byte counts.
std::string Tiff(const std::vector<std::string>& blocks, std::vector<TiffEntry> entries, bool tiled = false) {
  std::string data, offsets, counts;
  for (const std::string& block : blocks) {
    offsets += Le32(static_cast<std::uint32_t>(8 + data.size()));
    counts += Le32(static_cast<std::uint32_t>(block.size()));
    data += block;
  }
  if (data.size() % 2) data += '\0';
  const auto n = static_cast<std::uint32_t>(blocks.size());
  entries.push_back({static_cast<std::uint16_t>(tiled ? 324 : 273), 4, n, offsets});
  entries.push_back({static_cast<std::uint16_t>(tiled ? 325 : 279), 4, n, counts});
  std::sort(entries.begin(), entries.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
  const auto ifdAt = static_cast<std::uint32_t>(8 + data.size());
  const auto valuesAt = static_cast<std::uint32_t>(ifdAt + 2 + 12 * entries.size() + 4);
  std::string ifd = Le16(static_cast<std::uint32_t>(entries.size())), values;
  for (const TiffEntry& e : entries) {
    ifd += Le16(e.tag) + Le16(e.type) + Le32(e.count);
    if (e.value.size() <= 4) {
      ifd += e.value + std::string(4 - e.value.size(), '\0');
      continue;
    }
    ifd += Le32(static_cast<std::uint32_t>(valuesAt + values.size()));
    values += e.value;
  }
  return "II*" + std::string(1, '\0') + Le32(ifdAt) + data + ifd + Le32(0) + values;
}

std::string Le16s(std::size_t count, std::uint32_t v) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += Le16(v);
  return out;
}

// A TIFF of w x h whose one strip (or tile of @p tile x @p tile when
// @p tile > 0; one a plane) is 16 bytes of deflate-compressed junk: what
// the header declares is all a size check may look at.
std::string TiffDeclaring(std::uint32_t w, std::uint32_t h, std::uint16_t samples, std::uint16_t bits,
                          std::uint16_t planar = 1, std::uint32_t tile = 0) {
  const std::uint32_t planes = planar == 2 ? samples : 1;
  std::vector<TiffEntry> entries = {{256, 4, 1, Le32(w)},
                                    {257, 4, 1, Le32(h)},
                                    {258, 3, samples, Le16s(samples, bits)},
                                    {259, 3, 1, Le16(8)},  // deflate
                                    {262, 3, 1, Le16(samples >= 3 ? 2 : 1)},
                                    {277, 3, 1, Le16(samples)},
                                    {284, 3, 1, Le16(planar)}};
  if (tile > 0) {
    entries.push_back({322, 4, 1, Le32(tile)});
    entries.push_back({323, 4, 1, Le32(tile)});
  } else {
    entries.push_back({278, 4, 1, Le32(h)});
  }
  if (samples == 4 || samples == 2) entries.push_back({338, 3, 1, Le16(2)});  // unassociated alpha
  return Tiff(std::vector<std::string>(planes, std::string(16, '\x5a')), entries, tile > 0);
}

// The headers of a JPEG frame of w x h (SOF marker @p sof) with
// @p components components, then the header of a first scan holding
// @p scanComponents of them, and no tables or data: all a size check may
// look at.
std::string JpegHeaders(char sof, std::uint16_t w, std::uint16_t h, int components, int scanComponents) {
  const auto be16 = [](std::size_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v)}; };
  std::string jpeg = std::string("\xFF\xD8\xFF") + sof + be16(8 + 3 * components) + '\x08' + be16(h) + be16(w) +
                     static_cast<char>(components);
  for (int c = 1; c <= components; ++c) jpeg += std::string{static_cast<char>(c), '\x11', '\0'};
  jpeg += "\xFF\xDA" + be16(6 + 2 * scanComponents) + static_cast<char>(scanComponents);
  for (int c = 1; c <= scanComponents; ++c) jpeg += std::string{static_cast<char>(c), '\0'};
  const bool progressive = sof == '\xC2';
  return jpeg + std::string{'\0', progressive ? '\0' : '\x3F', '\0'} + std::string(16, '\x5a') + "\xFF\xD9";
}

// A TIFF whose one strip of w x h (8 bits a sample) is the JPEG @p jpeg:
// CMYK for four samples, YCbCr without subsampling for three.
std::string JpegTiff(std::uint32_t w, std::uint32_t h, std::uint16_t samples, const std::string& jpeg) {
  std::vector<TiffEntry> entries = {{256, 4, 1, Le32(w)},
                                    {257, 4, 1, Le32(h)},
                                    {258, 3, samples, Le16s(samples, 8)},
                                    {259, 3, 1, Le16(7)},  // JPEG
                                    {262, 3, 1, Le16(samples == 4 ? 5 : 6)},
                                    {277, 3, 1, Le16(samples)},
                                    {278, 4, 1, Le32(h)}};
  if (samples == 3) entries.push_back({530, 3, 2, Le16(1) + Le16(1)});  // YCbCr 4:4:4
  return Tiff({jpeg}, entries);
}

// A 16 x 8 palette TIFF (8 bits, uncompressed) whose colour map holds
// @p mapEntries of the 3 x 256 values it needs; without its photometric tag
// when @p saysPalette is false.
std::string PaletteTiff(std::uint32_t mapEntries, bool saysPalette = true) {
  std::string indices, map;
  for (int i = 0; i < 16 * 8; ++i) indices += static_cast<char>(i);
  for (std::uint32_t i = 0; i < mapEntries; ++i) map += Le16((i * 997) & 0xFFFF);
  std::vector<TiffEntry> entries = {{256, 4, 1, Le32(16)},    {257, 4, 1, Le32(8)}, {258, 3, 1, Le16(8)},
                                    {259, 3, 1, Le16(1)},     {277, 3, 1, Le16(1)}, {278, 4, 1, Le32(8)},
                                    {320, 3, mapEntries, map}};
  if (saysPalette) entries.push_back({262, 3, 1, Le16(3)});
  return Tiff({indices}, entries);
}

// An 8 x 8 gray progressive JPEG: its DC scan, then the same AC scan
// (end of band, adding nothing) @p acScans times. libjpeg takes the repeats
// without a warning; each is a pass over the whole picture.
std::string JpegRepeatingAScan(int acScans) {
  const auto segment = [](char marker, const std::string& body) {
    const std::size_t n = body.size() + 2;
    return std::string("\xFF") + marker + static_cast<char>(n >> 8) + static_cast<char>(n) + body;
  };
  const std::string oneCode = std::string("\x01", 1) + std::string(15, '\0');  // one code of one bit
  std::string jpeg = "\xFF\xD8";
  jpeg += segment('\xDB', std::string(1, '\0') + std::string(64, '\x01'));
  jpeg += segment('\xC2', std::string("\x08\0\x08\0\x08\x01\x01\x11\0", 9));
  jpeg += segment('\xC4', std::string("\x00", 1) + oneCode + std::string("\x00", 1));  // DC: difference 0
  jpeg += segment('\xC4', std::string("\x10", 1) + oneCode + std::string("\x00", 1));  // AC: end of block
  jpeg += segment('\xDA', std::string("\x01\x01\x00\x00\x00\x00", 6)) + "\x7F";
  for (int i = 0; i < acScans; ++i) jpeg += segment('\xDA', std::string("\x01\x01\x00\x01\x3F\x00", 6)) + "\x7F";
  return jpeg + "\xFF\xD9";
}

// The GIF of a real archive.
std::string RealGif() {
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  EXPECT_TRUE(
      CBaseParser::ReadKmzToList(kmztest::RealData("kmz/structure/balloon-image-rel.kmz"), names, contents, locations));
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == "images/googleearth.gif") return contents[i];
  ADD_FAILURE() << "no GIF in the archive";
  return {};
}

struct Case {
  const char* what;
  std::string bytes;
  int format;
  DecodeStatus expected;
};

}  // namespace

TEST(DecodeLimits, EachRefusalHasItsCause) {
  // Radiance HDR: 67 bytes whose run-length data once kept the decoder busy forever.
  std::string hdr = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 8192 +X 8192\n";
  hdr += std::string(67 - hdr.size(), '\x02');
  const std::string ppm = "P6\n8192 8192\n255\n" + std::string(16, '\x7f');
  const std::string psd = std::string("8BPS\0\x01\0\0\0\0\0\0\0\x03", 14) + Be32(8192) + Be32(8192) +
                          std::string("\0\x08\0\x03", 4) + std::string(12, '\0');
  const std::string tga = std::string("\0\0\x02\0\0\0\0\0\0\0\0\0", 12) + Le16(8192) + Le16(8192) + "\x18\x20";
  const std::string png = Real("png/monkey16_rgb16.png");
  const std::string jpeg = Real("jpeg/baseline_227x149_testorig.jpg");
  const std::string tiff = Real("tiff/TIFFTestTexture.tif");  // directory, its strip at 18666 to 215274, metadata
  const std::string palette = Real("tiff/libtiff_palette-1c-8b.tiff");  // the colour map is its last 1,536 bytes
  const std::string gif = RealGif();
  // GIF89a, logical screen 65535 x 65535, no colour table.
  const std::string bigGif = std::string("GIF89a") + Le16(65535) + Le16(65535) + std::string("\0\0\0", 3) + ",";
  // GIF89a, 64x64 with a two-colour table, whose codes are a clear code and
  // the end code at once: complete sub-blocks that hold no pixel at all.
  const std::string emptyGif = std::string("GIF89a") + Le16(64) + Le16(64) + std::string("\x80\0\0", 3) +
                               std::string(6, '\0') + "," + Le16(0) + Le16(0) + Le16(64) + Le16(64) +
                               std::string("\0\x02\x01\x2c\0;", 6);
  std::string bmpOffsetInHeader = Bmp(9, 8, 4 * 28 * 2);
  bmpOffsetInHeader.replace(10, 4, Le32(20));
  const Case cases[] = {
      {"67-byte Radiance HDR", hdr, 0, DecodeStatus::kUnsupported},
      {"PPM declaring 8192x8192, 16 bytes of pixels", ppm, 0, DecodeStatus::kUnsupported},
      {"PSD declaring 8192x8192, no pixels", psd, 0, DecodeStatus::kUnsupported},
      {"TGA header", tga, 0, DecodeStatus::kUnsupported},
      {"PNG bytes stated as JPEG", png, 3, DecodeStatus::kUnsupported},
      {"JPEG bytes stated as TIFF", jpeg, 6, DecodeStatus::kUnsupported},
      {"unknown format code", png, 5, DecodeStatus::kUnsupported},
      {"real truncated progressive JPEG", Real("jpeg/truncated_progressive.jpg"), 3, DecodeStatus::kTruncated},
      {"JPEG cut in its scan", jpeg.substr(0, jpeg.size() / 2), 0, DecodeStatus::kTruncated},
      {"JPEG without its end marker", jpeg.substr(0, jpeg.size() - 2), 0, DecodeStatus::kTruncated},
      {"PNG cut in its pixels", png.substr(0, png.size() / 2), 4, DecodeStatus::kTruncated},
      {"PNG without its end chunk", png.substr(0, png.size() - 12), 0, DecodeStatus::kTruncated},
      {"TIFF cut in its strip", tiff.substr(0, 100000), 6, DecodeStatus::kTruncated},
      // libtiff ignores the colour map it cannot read, and the picture would come out grey.
      {"palette TIFF cut in its colour map", palette.substr(0, palette.size() - 20), 6, DecodeStatus::kTruncated},
      {"GIF cut in its image data", gif.substr(0, gif.size() - 40), 0, DecodeStatus::kTruncated},
      {"GIF whose codes end before its pixels", emptyGif, 0, DecodeStatus::kTruncated},
      {"BMP with half its rows", Bmp(9, 8, 4 * 28), 0, DecodeStatus::kTruncated},
      {"BMP whose rows start inside its headers", bmpOffsetInHeader, 0, DecodeStatus::kDamaged},
      {"JPEG header declaring 9000x9000", JpegDeclaring(9000, 9000), 3, DecodeStatus::kTooLarge},
      {"JPEG header declaring 65500x1100 (one side fits)", JpegDeclaring(65500, 1100), 0, DecodeStatus::kTooLarge},
      {"PNG header declaring 8193x8192", PngDeclaring(8193, 8192), 4, DecodeStatus::kTooLarge},
      {"GIF screen of 65535x65535", bigGif, 0, DecodeStatus::kTooLarge},
      {"BMP header declaring 10000x10000", Bmp(10000, 10000, 0), 0, DecodeStatus::kTooLarge},
      {"TIFF header declaring 9000x9000", TiffDeclaring(9000, 9000, 3, 8), 6, DecodeStatus::kTooLarge},
      // Within the pixel cap, but one strip of 16-bit RGBA would take 512 MB
      // (and a few megabytes of deflate fill it); 8-bit RGBA, 256 MB, is taken.
      {"TIFF of one 8192x8192 16-bit RGBA strip", TiffDeclaring(8192, 8192, 4, 16), 6, DecodeStatus::kTooLarge},
      {"TIFF of one 8192x8192 8-bit RGBA strip", TiffDeclaring(8192, 8192, 4, 8), 6, DecodeStatus::kDamaged},
      {"TIFF of 8192x8192, 3 separate 16-bit planes", TiffDeclaring(8192, 8192, 3, 16, 2), 0, DecodeStatus::kTooLarge},
      {"TIFF of 16x16 in one 16384x16384 tile", TiffDeclaring(16, 16, 4, 8, 1, 16384), 0, DecodeStatus::kTooLarge},
      {"TIFF of 16x16 in one 256x256 tile", TiffDeclaring(16, 16, 4, 8, 1, 256), 0, DecodeStatus::kDamaged},
      // libjpeg holds the coefficients of a progressive frame, or one whose
      // components come in scans of their own, whole: 512 MB more for this
      // strip. One interleaved scan is decoded a row of blocks at a time.
      {"TIFF of one 8192x8192 CMYK progressive JPEG strip",
       JpegTiff(8192, 8192, 4, JpegHeaders('\xC2', 8192, 8192, 4, 1)), 6, DecodeStatus::kTooLarge},
      {"TIFF of one 8192x8192 CMYK JPEG strip, a scan a component",
       JpegTiff(8192, 8192, 4, JpegHeaders('\xC0', 8192, 8192, 4, 1)), 6, DecodeStatus::kTooLarge},
      {"TIFF of one 8192x8192 CMYK JPEG strip in one scan",
       JpegTiff(8192, 8192, 4, JpegHeaders('\xC0', 8192, 8192, 4, 4)), 6, DecodeStatus::kDamaged},
      // libtiff ignores a colour map of the wrong size and reads the indices as grey.
      {"palette TIFF whose colour map is short", PaletteTiff(3 * 100), 6, DecodeStatus::kDamaged},
      {"palette TIFF without its photometric tag", PaletteTiff(3 * 256, false), 6, DecodeStatus::kDamaged},
      {"palette TIFF with its colour map", PaletteTiff(3 * 256), 6, DecodeStatus::kOk},
      {"progressive JPEG repeating one scan", JpegRepeatingAScan(1000), 3, DecodeStatus::kTooLarge},
      {"progressive JPEG of 500 scans", JpegRepeatingAScan(499), 3, DecodeStatus::kOk},
      {"whole real JPEG", jpeg, 0, DecodeStatus::kOk},
      {"whole real PNG", png, 0, DecodeStatus::kOk},
      {"whole real TIFF", tiff, 0, DecodeStatus::kOk},
      {"whole real GIF", gif, 0, DecodeStatus::kOk},
      {"whole BMP", Bmp(9, 8, 4 * 28 * 2), 0, DecodeStatus::kOk},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(Name(c.expected), Name(Status(c.bytes, c.format))) << c.what;
    const Image image(c.bytes.data(), c.bytes.size(), c.format);
    EXPECT_EQ(c.expected == DecodeStatus::kOk, image.IsValid()) << c.what;
    if (!image.IsValid()) {
      EXPECT_EQ(0u, image.MemoryBytes()) << c.what;
    }
  }
  // The cap itself: 8192 x 8192 is the largest picture taken.
  EXPECT_TRUE(kmztile::platform::detail::AcceptableSize(8192, 8192));
  EXPECT_FALSE(kmztile::platform::detail::AcceptableSize(8193, 8192));
  EXPECT_FALSE(kmztile::platform::detail::AcceptableSize(std::uint64_t{1} << 27, 1));
}

// First byte after the header of the first scan (the frame and tables before it).
std::size_t FirstScanData(const std::string& jpeg) {
  const std::size_t sos = jpeg.find("\xFF\xDA");
  return sos + 2 + ((static_cast<unsigned char>(jpeg[sos + 2]) << 8) | static_cast<unsigned char>(jpeg[sos + 3]));
}

// Every cut of a real picture is refused; a cut between its headers and the
// end of its pixel data is refused as truncated, in every format: none
// decodes to a picture padded with grey or zeros.
TEST(DecodeLimits, EveryCutOfARealPictureIsRefusedAsTruncated) {
  struct Source {
    const char* what;
    std::string bytes;
    std::size_t from;  // cuts from here ...
    std::size_t to;    // ... to here lose pixels (0: the end)
  };
  const std::string baseline = Real("jpeg/baseline_227x149_testorig.jpg");
  const std::string progressive = Real("jpeg/progressive_engineflare1.jpg");
  const std::string palette = Real("tiff/libtiff_palette-1c-8b.tiff");  // the colour map is its last 1,536 bytes
  const std::string gif = RealGif();
  const Source sources[] = {
      {"baseline JPEG", baseline, FirstScanData(baseline), 0},
      {"progressive JPEG", progressive, FirstScanData(progressive), 0},
      {"interlaced PNG", Real("png/pngsuite_basi6a08.png"), 8, 0},
      {"16-bit PNG with ICC profile", Real("png/monkey16_rgb16.png"), 8, 0},
      // Directory and tag data up to 18666, the one strip up to 215274, then
      // metadata (cutting it leaves the directory unreadable: damaged).
      {"TIFF, directory first", Real("tiff/TIFFTestTexture.tif"), 18666, 215274},
      {"GIF", gif, 13, gif.size() - 1},  // the last byte is the trailer
  };
  for (const Source& s : sources) {
    const std::size_t to = s.to ? s.to : s.bytes.size();
    for (std::size_t cut = 1; cut < to; cut += s.bytes.size() / 97 + 1) {
      const DecodeStatus status = Status(s.bytes.substr(0, cut));
      EXPECT_NE(DecodeStatus::kOk, status) << s.what << " cut at " << cut;
      if (cut >= s.from) {
        EXPECT_STREQ("truncated", Name(status)) << s.what << " cut at " << cut;
      }
    }
  }
}

// A progressive JPEG strip within the limit still decodes, to the picture
// encoded: only the size of what libjpeg would hold refuses one.
TEST(DecodeLimits, SmallProgressiveJpegStripDecodes) {
  const int w = 24, h = 16;
  std::vector<unsigned char> rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) rgb.push_back(static_cast<unsigned char>(20 + 4 * x + 3 * y + 30 * c));
  const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitCompress(), tjDestroy);
  ASSERT_NE(nullptr, handle);
  unsigned char* encoded = nullptr;
  unsigned long length = 0;
  ASSERT_EQ(0, tjCompress2(handle.get(), rgb.data(), w, 0, h, TJPF_RGB, &encoded, &length, TJSAMP_444, 95,
                           TJFLAG_PROGRESSIVE));
  const std::string jpeg(reinterpret_cast<const char*>(encoded), length);
  tjFree(encoded);
  ASSERT_GT(
      kmztile::platform::detail::CountJpegScans(reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), 100),
      1u);
  const std::string tiff = JpegTiff(w, h, 3, jpeg);
  Raster raster;
  ASSERT_STREQ("ok", Name(kmztile::platform::detail::DecodeTiff(reinterpret_cast<const unsigned char*>(tiff.data()),
                                                                tiff.size(), raster)));
  ASSERT_EQ(w, raster.width);
  ASSERT_EQ(h, raster.height);
  ASSERT_EQ(3, raster.channels);
  for (std::size_t i = 0; i < rgb.size(); ++i) EXPECT_NEAR(rgb[i], raster.pixels[i], 8) << "sample " << i;
}
