// Tile KMZ writing for tiles of 1, 10 and 100 models with 512 x 512 JPEG and
// PNG textures at every level folder number, the codec floor for the same
// textures (decode, resize, encode alone), the PNG zlib level, and the
// in-memory zip writer against libkml's KMZ writer.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "BaseParser.h"
#include "TestSupport.h"
#include "kml/engine.h"
#include "platform/Image.h"
#include "platform/detail/Codecs.h"
#include "tiles/detail/CoordinatesFile.h"
#include "tiles/detail/TextureReduction.h"
#include "platform/ZipWriter.h"

class CBaseParserTestAccess {
 public:
  static bool CombineKml(CBaseParser& p, long level, std::vector<std::string> m, std::string t) {
    return p.CombineKml(level, std::move(m), std::move(t));
  }
  static bool SelectKml(CBaseParser& p, std::string path, long level, long row, long column,
                        std::vector<std::string>* out) {
    return p.SelectKml(std::move(path), CreateGeographicPyramid(), level, row, column, out);
  }
  static bool CreateNewKmz(CBaseParser& p, long level, std::vector<std::string> m, std::string t) {
    return p.CreateNewKmz(level, std::move(m), std::move(t));
  }
};

namespace {

// Real textures: a 728 x 700 JPEG photo texture and a 512 x 512 PNG colour map.
const std::string& Texture(bool png) {
  static const std::string jpeg = kmztest::ReadFile(kmztest::RealData("collada/cu_macky/files/roofnoCulling.jpg"));
  static const std::string pngBytes = kmztest::ReadFile(kmztest::RealData("collada/duck/duckCM.png"));
  return png ? pngBytes : jpeg;
}

std::string ModelDoc(const std::string& stem) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Folder>"
         "<name>m</name><Folder><name>Tour</name></Folder><Placemark><name>Model</name><Model>"
         "<altitudeMode>relativeToGround</altitudeMode><Location><longitude>116.39</longitude><latitude>39.9"
         "</latitude></Location><Link><href>models/" + stem + ".dae</href></Link></Model></Placemark></Folder></kml>";
}

// A working folder with @p count models, each with one 512 x 512 texture,
// imported into level folders 0 to 4; built once per (count, format).
struct Work {
  std::string folder;
  std::vector<std::string> models;
  CBaseParser parser;
};

Work& Prepared(int count, bool png) {
  static std::map<std::pair<int, bool>, std::unique_ptr<Work>> cache;
  auto& slot = cache[{count, png}];
  if (slot) return *slot;
  slot = std::make_unique<Work>();
  Work& w = *slot;
  w.folder = "/tmp/kmztile-bench-" + std::to_string(::getpid()) + "-" + std::to_string(count) + (png ? "p" : "j") + "/";
  const std::string dae = kmztest::ReadFile(kmztest::RealData("collada/duck/duck_triangles.dae"));
  for (int i = 0; i < count; ++i) {
    const std::string stem = std::to_string(1000 + i);
    w.models.push_back(stem + ".kmz");
    kmztest::WriteFile(w.folder + stem + ".kmz",
                       kmztest::MakeZip({{"models/" + stem + "/tex" + (png ? ".png" : ".jpg"), Texture(png)},
                                         {"models/" + stem + ".dae", dae},
                                         {"doc.kml", ModelDoc(stem)}}));
    for (int n = 0; n <= 4; ++n) {
      kmztest::WriteFile(w.folder + std::to_string(n) + "/" + stem + ".kml", ModelDoc(stem));
      kmztest::WriteFile(w.folder + std::to_string(n) + "/" + stem + ".dae", dae);
    }
  }
  w.parser.SetRequireFile(w.folder, "", w.folder + "coords.txt");
  for (int n = 0; n <= 4; ++n) CBaseParserTestAccess::CombineKml(w.parser, 19 - n, w.models, "tile");
  return w;
}

// args: model count, PNG (1) or JPEG (0), level folder number.
void BM_TileKmz(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool png = state.range(1) != 0;
  const long number = static_cast<long>(state.range(2));
  Work& w = Prepared(count, png);
  for (auto _ : state) {
    if (!CBaseParserTestAccess::CreateNewKmz(w.parser, 19 - number, w.models, "tile")) state.SkipWithError("failed");
  }
  state.counters["kmz_bytes"] =
      static_cast<double>(std::filesystem::file_size(w.folder + std::to_string(number) + "/tile.kmz"));
}
BENCHMARK(BM_TileKmz)
    ->ArgsProduct({{1, 10, 100}, {0, 1}, {0, 1, 2, 3, 4}})
    ->ArgNames({"models", "png", "n"})
    ->Unit(benchmark::kMillisecond);

// Texture reduction of one texture alone (decode, resize, encode).
void BM_CodecFloor(benchmark::State& state) {
  const bool png = state.range(0) != 0;
  const int number = static_cast<int>(state.range(1));
  const std::string name = png ? "t.png" : "t.jpg";
  for (auto _ : state) {
    std::string data = Texture(png);
    benchmark::DoNotOptimize(kmztile::tiles::detail::ReduceTexture(name, data, number, 2));
  }
}
BENCHMARK(BM_CodecFloor)->ArgsProduct({{0, 1}, {1, 2, 3, 4}})->ArgNames({"png", "n"})->Unit(benchmark::kMillisecond);

// Decoding alone: full-size, and a JPEG at a reduced DCT scale.
void BM_Decode(benchmark::State& state) {
  const bool png = state.range(0) != 0;
  const double reduction = static_cast<double>(state.range(1));
  const std::string& bytes = Texture(png);
  for (auto _ : state) {
    kmztile::platform::Image image(bytes.data(), bytes.size(), png ? 4 : 3, reduction);
    benchmark::DoNotOptimize(image.IsValid());
  }
}
BENCHMARK(BM_Decode)->ArgsProduct({{0, 1}, {1, 2, 16}})->ArgNames({"png", "reduce"})->Unit(benchmark::kMillisecond);

// PNG encoding of the 256 x 256 reduced colour map at several zlib levels.
void BM_PngLevel(benchmark::State& state) {
  const std::string& bytes = Texture(true);
  kmztile::platform::detail::Raster full, half;
  kmztile::platform::detail::DecodePng(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), full);
  kmztile::platform::Image image(bytes.data(), bytes.size(), 4);
  image.Resample(256, 256);
  std::string encoded;
  image.Encode(encoded, 6);  // uncompressed TIFF holds the raster as is
  kmztile::platform::detail::DecodeTiff(reinterpret_cast<const unsigned char*>(encoded.data()), encoded.size(), half);
  const auto& raster = state.range(1) ? full : half;
  std::string out;
  for (auto _ : state) kmztile::platform::detail::EncodePng(raster, static_cast<int>(state.range(0)), out);
  state.counters["bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_PngLevel)->ArgsProduct({{1, 3, 6}, {0, 1}})->ArgNames({"level", "full512"})->Unit(benchmark::kMillisecond);

// The archive alone for the entries of a 100-model tile at level folder 1:
// libkml's writer (everything deflated at level 6) against the in-memory
// writer that stores compressed images.
std::vector<std::pair<std::string, std::string>> TileEntries(bool png) {
  std::vector<std::pair<std::string, std::string>> entries;
  const std::string dae = kmztest::ReadFile(kmztest::RealData("collada/duck/duck_triangles.dae"));
  std::string texture = Texture(png);
  kmztile::tiles::detail::ReduceTexture(png ? "t.png" : "t.jpg", texture, 1, 2);
  entries.push_back({"tile.kml", std::string(40000, 'k')});
  for (int i = 0; i < 100; ++i) {
    const std::string stem = std::to_string(1000 + i);
    entries.push_back({"models" + stem + "/" + stem + "/tex.jpg", texture});
    entries.push_back({"models" + stem + "/" + stem + ".dae", dae});
  }
  return entries;
}

void BM_ArchiveWriter(benchmark::State& state) {
  const bool libkml = state.range(0) == 0;
  const int textLevel = static_cast<int>(state.range(0));
  const auto entries = TileEntries(state.range(1) != 0);
  const std::string path = "/tmp/kmztile-bench-writer-" + std::to_string(::getpid()) + ".kmz";
  std::size_t bytes = 0;
  for (auto _ : state) {
    if (libkml) {
      {
        kmlengine::KmzFilePtr kmz(kmlengine::KmzFile::Create(path.c_str()));
        for (const auto& [name, data] : entries) kmz->AddFile(data, name);
      }
      bytes = std::filesystem::file_size(path);
    } else {
      kmztile::platform::ZipWriter zip;
      for (const auto& [name, data] : entries)
        zip.Add(name, data, !kmztile::platform::IsCompressedImage(data), textLevel);
      std::string out;
      zip.Finish(out);
      kmztest::WriteFile(path, out);
      bytes = out.size();
    }
  }
  std::filesystem::remove(path);
  state.counters["kmz_bytes"] = static_cast<double>(bytes);
}
// writer 0: libkml; 1 to 9: the in-memory writer deflating text at that zlib level.
BENCHMARK(BM_ArchiveWriter)->ArgsProduct({{0, 6, 1}, {0, 1}})->ArgNames({"writer", "png"})->Unit(benchmark::kMillisecond);

// Selection of one level-15 tile from a coordinates file of 100,000 models
// spread over a city: arg 1 = the kept list is used, 0 = the file is parsed
// again for every tile (as when it changes between tiles).
void BM_SelectTile(benchmark::State& state) {
  const std::string path = "/tmp/kmztile-bench-" + std::to_string(::getpid()) + "-coords.txt";
  static bool written = false;
  if (!written) {
    std::string text = "100000\r\n";
    char line[96];
    for (int i = 0; i < 100000; ++i) {
      std::snprintf(line, sizeof line, "%d.kmz\r\n%f \r\n%f \r\n", i, 116.0 + (i % 317) * 0.0031,
                    39.5 + (i / 317) * 0.0031);
      text += line;
    }
    kmztest::WriteFile(path, text);
    written = true;
  }
  CBaseParser parser;
  long row = 0, column = 0, r2 = 0, c2 = 0;
  parser.TileIndex(116.5, 116.5, 39.9, 39.9, 15, CreateGeographicPyramid(), &row, &column, &r2, &c2);
  std::vector<std::string> selected;
  for (auto _ : state) {
    if (state.range(0) == 0) kmztile::tiles::detail::ForgetCoordinates();
    selected.clear();
    CBaseParserTestAccess::SelectKml(parser, path, 15, row, column, &selected);
  }
  state.counters["selected"] = static_cast<double>(selected.size());
}
BENCHMARK(BM_SelectTile)->Arg(1)->Arg(0)->ArgNames({"kept"})->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("kmztile-bench-" + std::to_string(::getpid()) + "-", 0) == 0) std::filesystem::remove_all(entry);
  }
  return 0;
}
