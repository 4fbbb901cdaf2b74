// Whole-archive reading against the zlib inflate floor for the same bytes.
//   build/bench/bench_reading --benchmark_min_time=0.5
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <unistd.h>

#include "BaseParser.h"
#include "TestSupport.h"
#include "reading/detail/ZipDirectory.h"

namespace {

// An archive of n entries of about 20 KB of XML-like text each.
const std::string& Archive(int n) {
  static std::map<int, std::string> cache;
  auto it = cache.find(n);
  if (it != cache.end()) return it->second;
  std::vector<kmztest::ZipItem> items;
  items.push_back({"0-0-0.kml", kmztest::MakeModelKml({{"1", "models1/1.dae", 116.4, 39.9}})});
  for (int i = 1; i < n; ++i) {
    std::string body;
    while (body.size() < 20000)
      body += "<vertex id=\"" + std::to_string(body.size() * 7919 % 100003) + "\">" + std::to_string(i * 31.7) + "</vertex>\n";
    items.push_back({"models" + std::to_string(i) + "/m" + std::to_string(i) + ".dae", body});
  }
  return cache[n] = kmztest::MakeZip(items);
}

std::string ArchiveFile(int n) {
  const std::string path = "/tmp/kmztile-bench-read-" + std::to_string(n) + "-" + std::to_string(::getpid()) + ".kmz";
  kmztest::WriteFile(path, Archive(n));
  return path;
}

void BM_ReadKmzToList_Bytes(benchmark::State& state) {
  const std::string& zip = Archive(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    if (!CBaseParser::ReadKmzToList(zip, names, contents, locations)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(contents.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(zip.size()));
}

void BM_ReadKmzToList_Path(benchmark::State& state) {
  const std::string path = ArchiveFile(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    if (!CBaseParser::ReadKmzToList(path, names, contents, locations)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(contents.data());
  }
  std::remove(path.c_str());
}

// The floor: zlib's raw inflate of every entry's compressed data into memory
// that is kept until the end, as the reader keeps every entry; nothing else.
void BM_InflateFloor(benchmark::State& state) {
  const std::string& zip = Archive(static_cast<int>(state.range(0)));
  kmztile::reading::detail::ZipDirectory dir;
  kmztile::reading::detail::ZipDirectory::Parse(zip, dir);
  for (auto _ : state) {
    std::vector<std::string> kept;
    kept.reserve(dir.entries().size());
    for (const auto& e : dir.entries()) {
      kept.emplace_back(e.uncompressedSize, '\0');
      std::string& out = kept.back();
      z_stream zs{};
      inflateInit2(&zs, -MAX_WBITS);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + e.dataOffset));
      zs.avail_in = static_cast<uInt>(e.compressedSize);
      zs.next_out = reinterpret_cast<Bytef*>(out.data());
      zs.avail_out = static_cast<uInt>(out.size());
      inflate(&zs, Z_FINISH);
      inflateEnd(&zs);
      benchmark::DoNotOptimize(out.data());
    }
  }
}

}  // namespace

BENCHMARK(BM_ReadKmzToList_Bytes)->Arg(10)->Arg(100)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadKmzToList_Path)->Arg(10)->Arg(100)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateFloor)->Arg(10)->Arg(100)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
