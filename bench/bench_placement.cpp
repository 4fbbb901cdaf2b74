// Packaging a source folder of 1,000 small models, and the cost of one grid
// conversion once the PROJ objects exist.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "BaseParser.h"
#include "TestSupport.h"

namespace {

const char kTemplate[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
    "<Folder><name>t</name><Placemark id=\"m\"><name>m</name><Model><altitudeMode>relativeToGround</altitudeMode>"
    "<Location><longitude>0</longitude><latitude>0</latitude><altitude>0</altitude></Location>"
    "<Orientation><heading>0</heading><tilt>0</tilt><roll>0</roll></Orientation>"
    "<Scale><x>1</x><y>1</y><z>1</z></Scale><Link><href>models/m.dae</href></Link></Model></Placemark>"
    "</Folder></kml>\n";

// A small COLLADA file (one triangle) and a small texture per model; half of
// the models carry Gauss-Kruger grid locations.
std::string MakeSourceFolder(int models) {
  char tmpl[] = "/tmp/kmztile-bench-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  const std::string F = root + "/src";
  kmztest::WriteFile(F + "/doc.kml", kTemplate);
  const std::string dae =
      "<?xml version=\"1.0\"?><COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">"
      "<library_images><image id=\"t\"><init_from>m/t.png</init_from></image></library_images>"
      "<library_geometries><geometry id=\"g\"><mesh><source id=\"p\"><float_array id=\"a\" count=\"9\">"
      "0 0 0 1 0 0 0 1 0</float_array></source></mesh></geometry></library_geometries></COLLADA>\n";
  const std::string texture(2048, '\x7f');
  for (int i = 0; i < models; ++i) {
    const std::string name = "m" + std::to_string(100000 + i);
    kmztest::WriteFile(F + "/" + name + ".dae", dae);
    kmztest::WriteFile(F + "/" + name + "/t.png", texture);
    char location[64];
    if (i % 2) {
      std::snprintf(location, sizeof location, "%f\n%f\n", 116.0 + i * 1e-4, 39.5 + i * 1e-4);
    } else {
      std::snprintf(location, sizeof location, "%f\n%f\n", 39440000.0 + i, 4418000.0 + i);
    }
    kmztest::WriteFile(F + "/" + name + ".txt", location);
  }
  return root;
}

void BM_PackageSourceFolder(benchmark::State& state) {
  const int models = static_cast<int>(state.range(0));
  const std::string root = MakeSourceFolder(models);
  wchar_t crs[] = L"EPSG:4527";
  wchar_t aux[] = L"";
  for (auto _ : state) {
    CBaseParser parser;
    std::string result;
    if (!parser.GenNeededFile(root + "/src", crs, aux, result)) state.SkipWithError("packaging failed");
  }
  state.SetItemsProcessed(state.iterations() * models);
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_PackageSourceFolder)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);


void BM_ConvertGaussKrugerPoint(benchmark::State& state) {
  // An empty source folder stores the definition without packaging anything.
  char tmpl[] = "/tmp/kmztile-bench-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  CBaseParser parser;
  wchar_t crs[] = L"EPSG:4527";
  wchar_t aux[] = L"";
  std::string result;
  parser.GenNeededFile(root, crs, aux, result);
  double lon = 0, lat = 0, x = 39443000;
  for (auto _ : state) {
    parser.ConvertGSToLB(x, 4418000, lon, lat);
    benchmark::DoNotOptimize(lon);
    x += 0.5;
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_ConvertGaussKrugerPoint)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
