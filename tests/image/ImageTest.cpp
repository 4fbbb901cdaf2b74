// The image class over real JPEG, PNG and TIFF files: what decodes, at what
// size, what must be refused without crashing, resampling and encoding.
#include <array>
#include <cstring>

#include "TestSupport.h"
#include "platform/Image.h"
#include "platform/detail/Codecs.h"

using kmztile::platform::Image;
namespace detail = kmztile::platform::detail;

namespace {

std::string Real(const std::string& name) { return kmztest::ReadFile(kmztest::RealData("images/" + name)); }

Image Decode(const std::string& bytes, int format, double reduction = 1.0) {
  return Image(bytes.data(), bytes.size(), format, reduction);
}

struct Expect {
  const char* file;
  int format;
  long width;
  long height;
};

}  // namespace

TEST(Image, DecodesRealFilesByStatedAndDetectedFormat) {
  const Expect files[] = {
      {"jpeg/baseline_227x149_testorig.jpg", 3, 227, 149},
      {"jpeg/gray_hopper.jpg", 3, 128, 128},
      {"jpeg/progressive_app13-multiple.jpg", 3, 256, 160},
      {"jpeg/progressive_engineflare1.jpg", 3, 128, 128},
      {"jpeg/cmyk_pil_sample.jpg", 3, 100, 100},
      {"jpeg/arithmetic_testimgari.jpg", 3, 227, 149},
      {"jpeg/exif_orientation6_hopper.jpg", 3, 128, 128},
      {"jpeg/tiny_1x1_xmp_no_prefix.jpg", 3, 1, 1},
      {"jpeg/tiny_4x4_app13.jpg", 3, 4, 4},
      {"png/monkey16_rgb16.png", 4, 149, 227},
      {"png/pngsuite_basn0g01.png", 4, 32, 32},
      {"png/pngsuite_basn0g16.png", 4, 32, 32},
      {"png/pngsuite_basn3p08.png", 4, 32, 32},
      {"png/pngsuite_basn4a16.png", 4, 32, 32},
      {"png/pngsuite_basn6a16.png", 4, 32, 32},
      {"png/pngsuite_basi6a08.png", 4, 32, 32},
      {"png/pngsuite_tbrn2c08.png", 4, 32, 32},
      {"png/pngsuite_s07n3p02.png", 4, 7, 7},
      {"png/tall_6x1024_splitbar.png", 4, 6, 1024},
      {"png/wide_750x30_high_ascii_chars.png", 4, 750, 30},
      {"tiff/libtiff_rgb-3c-8b.tiff", 6, 157, 151},
      {"tiff/libtiff_rgb-3c-16b.tiff", 6, 157, 151},
      {"tiff/libtiff_minisblack-1c-16b.tiff", 6, 157, 151},
      {"tiff/libtiff_palette-1c-8b.tiff", 6, 157, 151},
      {"tiff/libtiff_minisblack-2c-8b-alpha.tiff", 6, 64, 64},
      {"tiff/libtiff_quad-tile.jpg.tiff", 6, 512, 384},
      {"tiff/cmyk_jpeg_strip.tif", 6, 100, 100},
      {"tiff/TIFFTestTexture.tif", 6, 256, 256},
  };
  for (const auto& f : files) {
    const std::string bytes = Real(f.file);
    for (int format : {f.format, 0}) {
      const Image image = Decode(bytes, format);
      ASSERT_TRUE(image.IsValid()) << f.file << " as " << format;
      EXPECT_EQ(f.width, image.GetWidth()) << f.file;
      EXPECT_EQ(f.height, image.GetHeight()) << f.file;
    }
  }
  // Gray stays gray, alpha is kept, CMYK becomes RGB.
  EXPECT_EQ(1, Decode(Real("jpeg/gray_hopper.jpg"), 3).GetChannels());
  EXPECT_EQ(4, Decode(Real("png/pngsuite_basn6a16.png"), 4).GetChannels());
  EXPECT_EQ(4, Decode(Real("tiff/libtiff_minisblack-2c-8b-alpha.tiff"), 6).GetChannels());
  EXPECT_EQ(3, Decode(Real("jpeg/cmyk_pil_sample.jpg"), 3).GetChannels());
}

TEST(Image, RefusesDamagedMismatchedAndUnsupportedInput) {
  // 12-bit JPEG (not an 8-bit codec's), a truncated JPEG, PNGs with a broken signature.
  for (const char* file : {"jpeg/12bit_monkey12.jpg", "jpeg/truncated_progressive.jpg", "png/pngsuite_xcrn0g04.png",
                           "png/pngsuite_xs1n0g01.png"}) {
    EXPECT_FALSE(Decode(Real(file), 0).IsValid()) << file;
  }
  // The stated format must match the bytes.
  EXPECT_FALSE(Decode(Real("png/tiny_7x13.png"), 3).IsValid());
  EXPECT_FALSE(Decode(Real("jpeg/gray_hopper.jpg"), 6).IsValid());
  EXPECT_FALSE(Decode(Real("tiff/TIFFTestTexture.tif"), 4).IsValid());
  EXPECT_FALSE(Decode(Real("png/tiny_7x13.png"), 5).IsValid());  // no such format code
  for (const std::string& junk : {std::string("plain text, not a picture"), std::string(), std::string("\xFF\xD8\xFF"),
                                 std::string("\x89PNG\r\n\x1A\n"), std::string("II*\0\x08\0\0\0", 8)}) {
    EXPECT_FALSE(Decode(junk, 0).IsValid()) << junk.size();
  }
  const Image empty(4);
  EXPECT_FALSE(empty.IsValid());
  EXPECT_EQ(0, empty.GetWidth());
  std::string out = "kept";
  EXPECT_FALSE(empty.Encode(out, 3));
  EXPECT_EQ("kept", out);
}

TEST(Image, TruncatedAndFlippedBytesNeverCrash) {
  for (const char* file : {"jpeg/progressive_app13-multiple.jpg", "png/monkey16_rgb16.png",
                           "tiff/libtiff_quad-tile.jpg.tiff", "tiff/libtiff_palette-1c-8b.tiff"}) {
    const std::string bytes = Real(file);
    for (size_t cut : {size_t{9}, size_t{40}, size_t{200}, bytes.size() / 2, bytes.size() - 20}) {
      EXPECT_FALSE(Decode(bytes.substr(0, cut), 0).IsValid()) << file << " cut at " << cut;
    }
    for (size_t at = 0; at < bytes.size(); at += bytes.size() / 37 + 1) {
      std::string damaged = bytes;
      damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
      const Image image = Decode(damaged, 0);
      if (image.IsValid()) {
        EXPECT_GT(image.GetWidth(), 0);
      }
    }
  }
}

TEST(Image, NearestPixelResampling) {
  detail::Raster r{4, 2, 1, {0, 1, 2, 3, 10, 11, 12, 13}};
  std::string png;
  ASSERT_TRUE(detail::EncodePng(r, 1, png));
  Image image = Decode(png, 4);
  ASSERT_TRUE(image.Resample(2, 1, 1));
  EXPECT_EQ(2, image.GetWidth());
  std::string out;
  ASSERT_TRUE(image.Encode(out, 4));
  detail::Raster back;
  ASSERT_EQ(detail::DecodeStatus::kOk,
            detail::DecodePng(reinterpret_cast<const unsigned char*>(out.data()), out.size(), back));
  // Each target pixel takes the source pixel under its centre (x 1 and 3 of row 1).
  EXPECT_EQ((kmztile::platform::detail::Pixels{11, 13}), back.pixels);

  ASSERT_TRUE(image.Resample(6, 3));  // enlarging works too
  EXPECT_EQ(3, image.GetHeight());
  EXPECT_FALSE(image.Resample(0, 5));
  EXPECT_EQ(6, image.GetWidth());
}

// Resampling against the rule spelled out pixel by pixel, for every channel
// count and for shrinking, enlarging and odd ratios: each target pixel is the
// source pixel under its centre, whole (no byte of a neighbour).
TEST(Image, ResamplingTakesTheSourcePixelUnderEachCentre) {
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
  for (const int channels : {1, 3, 4}) {
    for (const auto& [sw, sh, dw, dh] : std::vector<std::array<long, 4>>{
             {64, 48, 32, 24}, {65, 33, 17, 9}, {7, 5, 20, 11}, {1, 1, 3, 2}, {40, 3, 1, 1}, {9, 9, 9, 9}, {5, 8, 8, 5}}) {
      detail::Raster source{sw, sh, channels, {}};
      source.pixels.resize(static_cast<std::size_t>(sw * sh * channels));
      for (auto& byte : source.pixels) byte = next();
      std::string png;
      ASSERT_TRUE(detail::EncodePng(source, 1, png));
      std::string out;
      ASSERT_TRUE(Decode(png, 4).Resampled(dw, dh).Encode(out, 4));
      detail::Raster back;
      ASSERT_EQ(detail::DecodeStatus::kOk,
                detail::DecodePng(reinterpret_cast<const unsigned char*>(out.data()), out.size(), back));
      ASSERT_EQ(back.channels, channels);
      detail::Pixels expected;
      for (long y = 0; y < dh; ++y)
        for (long x = 0; x < dw; ++x) {
          const long sx = static_cast<long>((x + 0.5) * sw / dw), sy = static_cast<long>((y + 0.5) * sh / dh);
          for (int k = 0; k < channels; ++k) expected.push_back(source.pixels[static_cast<std::size_t>((sy * sw + sx) * channels + k)]);
        }
      EXPECT_TRUE(back.pixels == expected) << channels << " channels, " << sw << "x" << sh << " -> " << dw << "x" << dh;
    }
  }
}

// The const resize the tile writer uses on cached decodes: the same pixels as
// Resample, the source left as it was, a reduced decode brought to its size.
TEST(Image, ResampledCopyMatchesResampleAndLeavesTheSource) {
  const Image source = Decode(Real("jpeg/progressive_app13-multiple.jpg"), 3, 2.0);  // 256 x 160, decoded at 1/2
  ASSERT_TRUE(source.IsValid());
  for (const auto& [w, h] : std::vector<std::pair<long, long>>{{64, 40}, {128, 80}, {1, 1}, {300, 7}}) {
    Image inPlace = source;
    ASSERT_TRUE(inPlace.Resample(w, h));
    const Image copy = source.Resampled(w, h);
    ASSERT_TRUE(copy.IsValid());
    EXPECT_EQ(w, copy.GetWidth());
    EXPECT_EQ(h, copy.GetHeight());
    EXPECT_EQ(source.GetChannels(), copy.GetChannels());
    std::string a, b;
    ASSERT_TRUE(inPlace.Encode(a, 4));
    ASSERT_TRUE(copy.Encode(b, 4));
    EXPECT_EQ(a, b) << w << "x" << h;
  }
  EXPECT_EQ(256, source.GetWidth());
  EXPECT_EQ(160, source.GetHeight());
  // Decoded at 1/2 but stored at 256 x 160: the copy at the stored size is full size.
  std::string full;
  ASSERT_TRUE(source.Resampled(256, 160).Encode(full, 4));
  EXPECT_EQ(256, Decode(full, 4).GetWidth());
  EXPECT_FALSE(source.Resampled(0, 4).IsValid());
  EXPECT_FALSE(Image().Resampled(4, 4).IsValid());
}

TEST(Image, EncodesEveryFormatAndReadsItBack) {
  const std::string source = Real("tiff/libtiff_rgb-3c-8b.tiff");
  Image image = Decode(source, 6);
  ASSERT_TRUE(image.Resample(80, 75));
  for (int format : {0, 3, 4, 6}) {
    std::string out;
    ASSERT_TRUE(image.Encode(out, format)) << format;
    const Image back = Decode(out, format == 0 ? 3 : format);
    ASSERT_TRUE(back.IsValid()) << format;
    EXPECT_EQ(80, back.GetWidth());
    EXPECT_EQ(75, back.GetHeight());
  }
  std::string out;
  EXPECT_FALSE(image.Encode(out, 9));

  // PNG and TIFF are lossless: the pixels survive both ways.
  std::string png, tiff;
  ASSERT_TRUE(image.Encode(png, 4));
  ASSERT_TRUE(image.Encode(tiff, 6));
  detail::Raster a, b;
  ASSERT_EQ(detail::DecodeStatus::kOk,
            detail::DecodePng(reinterpret_cast<const unsigned char*>(png.data()), png.size(), a));
  ASSERT_EQ(detail::DecodeStatus::kOk,
            detail::DecodeTiff(reinterpret_cast<const unsigned char*>(tiff.data()), tiff.size(), b));
  EXPECT_EQ(a.pixels, b.pixels);
}

TEST(Image, ReducedJpegDecodeKeepsTheStoredSize) {
  const std::string bytes = Real("jpeg/progressive_app13-multiple.jpg");  // 256 x 160
  Image reduced = Decode(bytes, 3, 4.0);
  ASSERT_TRUE(reduced.IsValid());
  EXPECT_EQ(256, reduced.GetWidth());
  EXPECT_EQ(160, reduced.GetHeight());
  std::string full;
  ASSERT_TRUE(reduced.Encode(full, 3));  // never resampled: back at its size
  EXPECT_EQ(256, Decode(full, 3).GetWidth());
  ASSERT_TRUE(reduced.Resample(64, 40));
  std::string small;
  ASSERT_TRUE(reduced.Encode(small, 3));
  const Image back = Decode(small, 3);
  EXPECT_EQ(64, back.GetWidth());
  EXPECT_EQ(40, back.GetHeight());
  // An odd size is never decoded below the fraction asked for (227 / 3 needs the 1/2 scale).
  Image odd = Decode(Real("jpeg/baseline_227x149_testorig.jpg"), 3, 3.0);
  ASSERT_TRUE(odd.Resample(75, 49));
  EXPECT_EQ(75, odd.GetWidth());
}
