// Cost of the build's output files for large runs: tileset.json, root.kml,
// overview.svg and shard selection over N level-18 tiles.
#include <benchmark/benchmark.h>

#include <cmath>

#include "build/OverviewSvg.h"
#include "build/SuperOverlay.h"
#include "build/Shard.h"
#include "build/Tileset.h"

namespace {

std::vector<kmztool::build::TileRecord> Tiles(long count) {
  std::vector<kmztool::build::TileRecord> tiles;
  const long side = static_cast<long>(std::ceil(std::sqrt(static_cast<double>(count))));
  const double size = 360.0 / (1 << 18);
  for (long i = 0; i < count; ++i) {
    kmztool::build::TileRecord t;
    t.key = {18, 36000 + i / side, 215000 + i % side};
    t.west = -180 + t.key.column * size;
    t.east = t.west + size;
    t.north = 90 - t.key.row * size;
    t.south = t.north - size;
    t.models = 1 + i % 7;
    t.bytes = 20000 + static_cast<std::uint64_t>(i % 1000);
    tiles.push_back(t);
  }
  return tiles;
}

void BM_TilesetJson(benchmark::State& state) {
  kmztool::build::Tileset tileset;
  tileset.tiles = Tiles(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(kmztool::build::TilesetJson(tileset));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TilesetJson)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ParseTileset(benchmark::State& state) {
  kmztool::build::Tileset tileset;
  tileset.tiles = Tiles(state.range(0));
  const std::string text = kmztool::build::TilesetJson(tileset);
  for (auto _ : state) {
    kmztool::build::Tileset back;
    std::string error;
    benchmark::DoNotOptimize(kmztool::build::ParseTileset(text, back, error));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseTileset)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_RootKml(benchmark::State& state) {
  const auto tiles = Tiles(state.range(0));
  for (auto _ : state) {
    std::size_t bytes = 0;
    kmztool::build::ForEachOverlayFile(tiles, {}, kmztool::build::kMaxRootLinks, [&](const auto& file) {
      bytes += kmztool::build::OverlayFileText(file, tiles, {}).size();
    });
    benchmark::DoNotOptimize(bytes);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RootKml)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_OverviewSvg(benchmark::State& state) {
  const auto tiles = Tiles(state.range(0));
  std::vector<kmztool::build::ModelPoint> points(static_cast<size_t>(state.range(0)) * 4, {116.39, 39.91});
  for (auto _ : state) benchmark::DoNotOptimize(kmztool::build::OverviewSvg(tiles, points, {}));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OverviewSvg)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SelectShard(benchmark::State& state) {
  std::vector<kmztool::build::TileKey> keys;
  for (const auto& t : Tiles(state.range(0))) keys.push_back(t.key);
  for (auto _ : state) benchmark::DoNotOptimize(kmztool::build::SelectShard(keys, {3, 16}));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SelectShard)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
