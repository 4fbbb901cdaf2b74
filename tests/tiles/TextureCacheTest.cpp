// The decoded-texture cache: a hit reduces to the same bytes as a fresh
// decode, every part of the key separates entries, a rewritten package
// misses, and the byte bound evicts the least recently used image.
#include <chrono>
#include <thread>

#include "TileFixture.h"
#include "platform/Image.h"
#include "platform/detail/Codecs.h"
#include "tiles/detail/TextureCache.h"
#include "tiles/detail/TextureReduction.h"

using kmztest::TileFolderTest;
using kmztile::platform::Image;
using kmztile::platform::detail::Raster;
using kmztile::tiles::detail::ReduceTexture;
using kmztile::tiles::detail::TextureCache;
using kmztile::tiles::detail::TextureKey;
using kmztile::tiles::detail::TextureOutcome;

namespace {

Raster Pattern(long w, long h, int channels, int seed) {
  Raster r{w, h, channels, {}};
  r.pixels.resize(static_cast<size_t>(w) * h * channels);
  for (size_t i = 0; i < r.pixels.size(); ++i) r.pixels[i] = static_cast<std::uint8_t>((i * 7 + seed * 31) % 251);
  return r;
}
std::string Jpeg(long w, long h, int seed = 0) {
  std::string out;
  EXPECT_TRUE(kmztile::platform::detail::EncodeJpeg(Pattern(w, h, 3, seed), 90, out));
  return out;
}
std::string Png(long w, long h, int seed = 0) {
  std::string out;
  EXPECT_TRUE(kmztile::platform::detail::EncodePng(Pattern(w, h, 4, seed), 1, out));
  return out;
}
std::shared_ptr<const Image> Decoded(const std::string& bytes) {
  return std::make_shared<const Image>(bytes.data(), bytes.size(), 0);
}
TextureKey Key(const std::string& entry) { return TextureKey{"w/a.kmz", 100, 5, entry, 2.0}; }

}  // namespace

TEST(TextureCache, EveryPartOfTheKeySeparatesEntries) {
  TextureCache cache(64 << 20);
  const auto image = Decoded(Png(16, 16));
  cache.Insert(Key("t.png"), image);
  EXPECT_EQ(image, cache.Find(Key("t.png")));
  TextureKey k = Key("t.png");
  k.package = "w/b.kmz";
  EXPECT_EQ(nullptr, cache.Find(k));
  k = Key("t.png");
  k.size = 101;
  EXPECT_EQ(nullptr, cache.Find(k));
  k = Key("t.png");
  k.mtimeNs = 6;
  EXPECT_EQ(nullptr, cache.Find(k));
  k = Key("t.png");
  k.reduction = 4.0;
  EXPECT_EQ(nullptr, cache.Find(k));
  EXPECT_EQ(nullptr, cache.Find(Key("T.png")));
  // Fields are kept apart: moving text between package and entry is another key.
  EXPECT_EQ(nullptr, cache.Find(TextureKey{"w/a.kmzt", 100, 5, ".png", 2.0}));
  EXPECT_EQ(1u, cache.Hits());
  EXPECT_EQ(6u, cache.Misses());
}

TEST(TextureCache, ByteBoundEvictsTheLeastRecentlyUsed) {
  const auto a = Decoded(Png(64, 64, 1)), b = Decoded(Png(64, 64, 2)), c = Decoded(Png(64, 64, 3));
  const size_t one = a->MemoryBytes() + 64;  // pixels plus the key's text, with room to spare
  TextureCache cache(2 * one);
  cache.Insert(Key("a"), a);
  cache.Insert(Key("b"), b);
  ASSERT_EQ(2u, cache.Count());
  ASSERT_NE(nullptr, cache.Find(Key("a")));  // a is now the most recent
  cache.Insert(Key("c"), c);
  EXPECT_EQ(2u, cache.Count());
  EXPECT_LE(cache.Bytes(), 2 * one);
  EXPECT_EQ(nullptr, cache.Find(Key("b")));
  EXPECT_EQ(a, cache.Find(Key("a")));
  EXPECT_EQ(c, cache.Find(Key("c")));

  // Replacing a key does not count its bytes twice; an image above the bound is not kept.
  cache.Insert(Key("c"), c);
  EXPECT_EQ(2u, cache.Count());
  TextureCache tiny(one / 2);
  tiny.Insert(Key("a"), a);
  EXPECT_EQ(0u, tiny.Count());
  EXPECT_EQ(0u, tiny.Bytes());
}

TEST(TextureCache, AHitReducesToTheSameBytesAsAFreshDecodeAtEveryLevel) {
  for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"f.jpg", Jpeg(300, 200)},
                                    std::pair<std::string, std::string>{"f.png", Png(300, 200)}}) {
    TextureCache cache(64 << 20);
    TextureKey source{"w/m.kmz", 1, 1, name, 0};
    for (int level = 1; level <= 4; ++level) {
      std::string fresh = bytes, cached = bytes, again = bytes;
      ASSERT_EQ(TextureOutcome::Reduced, ReduceTexture(name, fresh, level, 2)) << name << level;
      ASSERT_EQ(TextureOutcome::Reduced, ReduceTexture(name, cached, level, 2, &cache, source)) << name << level;
      ASSERT_EQ(TextureOutcome::Reduced, ReduceTexture(name, again, level, 2, &cache, source)) << name << level;
      EXPECT_EQ(fresh, cached) << name << " level folder " << level;
      EXPECT_EQ(fresh, again) << name << " level folder " << level;
    }
    // One decode served the four levels: the first call missed, the other seven hit.
    EXPECT_EQ(1u, cache.Misses()) << name;
    EXPECT_EQ(7u, cache.Hits()) << name;
    EXPECT_EQ(1u, cache.Count()) << name;
  }
}

TEST_F(TileFolderTest, ARewrittenPackageMissesTheCacheAndItsNewTextureIsWritten) {
  AddSimpleModel("m", 1, 1, Png(128, 64, 1), "wall.png");
  auto tileTexture = [&](long level) {
    EXPECT_TRUE(CBaseParserTestAccess::CombineKml(parser_, level, {"m.kmz"}, "t"));
    EXPECT_TRUE(CBaseParserTestAccess::CreateNewKmz(parser_, level, {"m.kmz"}, "t"));
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    const int folder = static_cast<int>(18 - level + 1);
    EXPECT_TRUE(CBaseParser::ReadKmzToList(work_ + std::to_string(folder) + "/t.kmz", names, contents, locations));
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i] == "modelsm/m/wall.png") return contents[i];
    ADD_FAILURE() << "no texture in the tile";
    return std::string();
  };
  TextureCache& cache = TextureCache::Shared();
  const auto misses = cache.Misses(), hits = cache.Hits();
  const std::string first = tileTexture(18);
  EXPECT_EQ(first, tileTexture(18));
  EXPECT_EQ(misses + 1, cache.Misses());
  EXPECT_EQ(hits + 1, cache.Hits());

  // The same package name with other pixels (and so another size and time) decodes anew.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  AddSimpleModel("m", 1, 1, Png(128, 64, 2), "wall.png");
  const std::string second = tileTexture(18);
  EXPECT_EQ(misses + 2, cache.Misses());
  EXPECT_NE(first, second);
  std::string expected = Png(128, 64, 2);
  ASSERT_EQ(TextureOutcome::Reduced, ReduceTexture("wall.png", expected, 1, 2));
  EXPECT_EQ(expected, second);
}
