// Lazy reading of one model through an archive handle against reading the
// whole tile with ReadKmzToList, on a tile of 4,000 entries (1,333 models,
// each with two textures stored before it, plus the tile KML).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BaseParser.h"
#include "TestSupport.h"

namespace {

constexpr int kModels = 1333;

std::string Filler(int seed, std::size_t size) {
  std::string s;
  s.reserve(size);
  unsigned x = static_cast<unsigned>(seed) * 2654435761u + 1;
  while (s.size() < size) {
    x = x * 1103515245u + 12345u;
    s += "<p>" + std::to_string(x >> 8) + " " + std::to_string((x >> 3) % 977) + "</p>\n";
  }
  s.resize(size);
  return s;
}

const std::string& Tile() {
  static const std::string bytes = [] {
    std::vector<kmztest::ModelMark> marks;
    std::vector<kmztest::ZipItem> items;
    for (int i = 0; i < kModels; ++i)
      marks.push_back({std::to_string(i), "models/m" + std::to_string(i) + ".dae", 116 + i * 1e-4, 39 + i * 1e-4});
    items.push_back({"doc.kml", kmztest::MakeModelKml(marks)});
    for (int i = 0; i < kModels; ++i) {
      const std::string base = "models/m" + std::to_string(i);
      items.push_back({base + "/t0.jpg", Filler(3 * i, 8 * 1024)});
      items.push_back({base + "/t1.jpg", Filler(3 * i + 1, 8 * 1024)});
      items.push_back({base + ".dae", Filler(3 * i + 2, 16 * 1024)});
    }
    return kmztest::MakeZip(items);
  }();
  return bytes;
}

void BM_ReadKmzToList(benchmark::State& state) {
  const std::string& tile = Tile();
  for (auto _ : state) {
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    if (!CBaseParser::ReadKmzToList(tile, names, contents, locations)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(contents.data());
  }
  state.counters["entries"] = 3 * kModels + 1;
}

// ReadKmzToListEx, then one model and its textures, then closing the handle.
void BM_LazyReadOneModel(benchmark::State& state) {
  const std::string& tile = Tile();
  for (auto _ : state) {
    std::map<std::string, std::vector<std::string>> textures;
    std::map<std::string, LonLatID> locations;
    long* handle = nullptr;
    if (!CBaseParser::ReadKmzToListEx(tile, textures, locations, handle)) state.SkipWithError("open failed");
    std::string name = "models/m700.dae", data;
    std::vector<std::string> contents;
    if (!CBaseParser::ReadOneKmzData(handle, name, data, false) ||
        !CBaseParser::ReadTextureToList(handle, textures[name], contents))
      state.SkipWithError("read failed");
    CBaseParser::ReadOneKmzData(handle, name, data, true);
    benchmark::DoNotOptimize(contents.data());
  }
}

// One model and its textures through a handle that is already open.
void BM_ReadOneModelThroughOpenHandle(benchmark::State& state) {
  std::map<std::string, std::vector<std::string>> textures;
  std::map<std::string, LonLatID> locations;
  long* handle = nullptr;
  if (!CBaseParser::ReadKmzToListEx(Tile(), textures, locations, handle)) {
    state.SkipWithError("open failed");
    return;
  }
  std::string name = "models/m700.dae", data;
  const std::vector<std::string> names = textures[name];
  for (auto _ : state) {
    std::vector<std::string> contents;
    if (!CBaseParser::ReadOneKmzData(handle, name, data, false) ||
        !CBaseParser::ReadTextureToList(handle, names, contents))
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(contents.data());
  }
  CBaseParser::ReadOneKmzData(handle, name, data, true);
}

BENCHMARK(BM_ReadKmzToList)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LazyReadOneModel)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadOneModelThroughOpenHandle)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
