// The 3D Tiles output over the sample city's 303 models: converting each
// COLLADA document once, placing it, and writing the glb of a tile.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "threedtiles/ThreeDTiles.h"

namespace {

using namespace kmztile::threedtiles;

const std::string kCity = std::string(KMZTILE_SOURCE_DIR) + "/samples/city/";

struct CityInput {
  std::vector<std::string> dae;
  TileTextures textures;
};

const CityInput& City() {
  static const CityInput city = [] {
    CityInput c;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kCity))
      if (entry.path().extension() == ".dae") names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    for (const auto& n : names) c.dae.push_back(kmztest::ReadFile(n));
    return c;
  }();
  return city;
}

TextureLookup Lookup(TileTextures& textures) {
  return [&textures](const std::string& reference) {
    if (!textures.count(reference) && std::filesystem::exists(kCity + reference))
      textures[reference] = kmztest::ReadFile(kCity + reference);
    return textures.count(reference) ? reference : std::string();
  };
}

// ConvertCollada + PlaceModel for every model of the city.
void BM_ConvertAndPlaceCity(benchmark::State& state) {
  const CityInput& city = City();
  TileTextures textures;
  for (auto _ : state) {
    for (std::size_t i = 0; i < city.dae.size(); ++i) {
      auto model = std::make_shared<ConvertedModel>();
      std::string error;
      if (!ConvertCollada(city.dae[i], Lookup(textures), *model, error)) state.SkipWithError(error.c_str());
      Placement p;
      p.longitude = 116.37 + 1e-4 * static_cast<double>(i);
      p.latitude = 39.91;
      benchmark::DoNotOptimize(PlaceModel(std::move(model), p));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(city.dae.size()));
}
BENCHMARK(BM_ConvertAndPlaceCity)->Unit(benchmark::kMillisecond);

// WriteTileGlb of one tile holding every model of the city with full-size textures.
void BM_WriteCityGlb(benchmark::State& state) {
  const CityInput& city = City();
  TileTextures textures;
  std::vector<PlacedModel> placed;
  for (std::size_t i = 0; i < city.dae.size(); ++i) {
    auto model = std::make_shared<ConvertedModel>();
    std::string error;
    ConvertCollada(city.dae[i], Lookup(textures), *model, error);
    Placement p;
    p.longitude = 116.37 + 1e-4 * static_cast<double>(i);
    p.latitude = 39.91;
    placed.push_back(PlaceModel(std::move(model), p));
  }
  std::vector<const PlacedModel*> tile;
  Region region = RegionOf(placed.front());
  for (const auto& p : placed) {
    tile.push_back(&p);
    region = Union(region, RegionOf(p));
  }
  std::string glb, error;
  for (auto _ : state) {
    if (!WriteTileGlb(tile, textures, TileCentre(region), glb, error)) state.SkipWithError(error.c_str());
  }
  state.counters["glb_MB"] = static_cast<double>(glb.size()) / 1e6;
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(glb.size()));
}
BENCHMARK(BM_WriteCityGlb)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
