// Import of a working folder of 1,000 small packages: each package's KML and
// model copied into the four level folders. The packages are generated once;
// the level folders are cleared between iterations outside the timing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BaseParser.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPackages = 1000;

std::string PackageBytes(int i) {
  const std::string kml = kmztest::MakeModelKml(
      {{"a", "", 0, 0}, {"b", "", 0, 0}, {"model_" + std::to_string(i), "models/m.dae", 116.0 + i * 1e-4, 39.9}});
  std::string dae = "<?xml version=\"1.0\"?><COLLADA>";
  for (int k = 0; k < 200; ++k) dae += "<p>" + std::to_string(i * 1000 + k) + " 0 1 2 3 4 5 6 7 8 9</p>";
  dae += "</COLLADA>";
  return kmztest::MakeZip({{"doc.kml", kml}, {"models/m.dae", dae}, {"images/t.jpg", std::string(4096, '\x7f')}});
}

void BM_Import1000Packages(benchmark::State& state) {
  char pattern[] = "/tmp/kmztile-bench-import-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (!made) {
    state.SkipWithError("cannot create a temporary folder");
    return;
  }
  const std::string work = made;
  for (int i = 0; i < kPackages; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/p%04d.kmz", i);
    kmztest::WriteFile(work + name, PackageBytes(i));
  }
  CBaseParser parser;
  parser.SetRequireFile(work, "", "");
  const std::string stored = work + "\\";
  for (auto _ : state) {
    if (!parser.EarlyPrepare("")) state.SkipWithError("import failed");
    state.PauseTiming();
    parser.DeleteFileAndDirectory(stored);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kPackages);
  fs::remove_all(work);
}
BENCHMARK(BM_Import1000Packages)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
