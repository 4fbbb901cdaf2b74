#include "pipeline/BuildCatalog.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <stdexcept>

#include "build/OutputFiles.h"
#include "platform/Chunks.h"
#include "pipeline/BuildState.h"
#include "tiles/detail/TileOfPoint.h"

namespace fs = std::filesystem;

namespace kmztool::pipeline {
namespace {

// Version 1 was one JSON object; a catalog of another version is read as none (everything is rebuilt).
constexpr int kCatalogVersion = 2;

fs::path CatalogPath(const fs::path& out) { return StateFolder(out) / "catalog.jsonl"; }

// The tiles of every level that hold a point.
void AddTilesOf(double lon, double lat, long minLevel, long maxLevel, std::set<build::TileKey>& tiles) {
  for (long level = minLevel; level <= maxLevel; ++level)
    if (const auto cell = kmztile::tiles::detail::TileOfPoint(lon, lat, kmztile::tiles::detail::GeographicTileSize(level)))
      tiles.insert({level, cell->row, cell->column});
}

// Model names and file paths are bytes, and JSON holds UTF-8 text only: a
// name that is not UTF-8 is kept as its bytes in hexadecimal after a NUL,
// which no file name holds, so that it reads back exactly.
std::string CatalogText(const std::string& bytes) {
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return bytes;
  try {
    (void)nlohmann::json(bytes).dump();
    return bytes;
  } catch (const nlohmann::json::type_error&) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(1, '\0');
    for (const char c : bytes) {
      text += kDigits[static_cast<unsigned char>(c) >> 4];
      text += kDigits[static_cast<unsigned char>(c) & 15];
    }
    return text;
  }
}

// The name or path CatalogText kept; throws a JSON error when damaged.
std::string FromCatalogText(const std::string& text) {
  if (text.empty() || text[0] != '\0') return text;
  if (text.size() % 2 != 1) throw nlohmann::json::other_error::create(501, "damaged name", nullptr);
  auto value = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    throw nlohmann::json::other_error::create(501, "damaged name", nullptr);
  };
  std::string bytes;
  for (std::size_t i = 1; i < text.size(); i += 2) bytes += static_cast<char>(value(text[i]) * 16 + value(text[i + 1]));
  return bytes;
}

// The settings as the catalog holds them: each text (the source folder's
// path among them) kept by CatalogText, or read back by FromCatalogText.
nlohmann::json SettingsText(const nlohmann::json& settings, std::string (*convert)(const std::string&)) {
  if (!settings.is_object()) return settings;
  nlohmann::json converted = settings;
  for (auto& [key, value] : converted.items())
    if (value.is_string()) value = convert(value.get<std::string>());
  return converted;
}

}  // namespace

BuildCatalog MakeCatalog(const kmztile::core::SourceCatalog& source, nlohmann::json settings,
                         const kmztile::core::FileStamps& known, int threads) {
  BuildCatalog catalog;
  catalog.settings = std::move(settings);
  catalog.settings["template"] = source.templateHash;
  catalog.models.resize(source.models.size());
  // Each chunk of models keeps the stamps of the files it read; a file
  // belongs to one model, so joining them loses nothing.
  std::vector<kmztile::core::FileStamps> seen(kmztile::platform::ChunkCount(source.models.size(), threads));
  kmztile::platform::RunChunks(source.models.size(), threads, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const auto& m = source.models[i];
      catalog.models[i] = {m.name, m.longitude, m.latitude, kmztile::core::ModelFingerprint(source, m, known, seen[chunk])};
    }
  });
  for (auto& stamps : seen) catalog.files.merge(stamps);
  return catalog;
}

// One model as a catalog line holds it: [id, lon, lat, fingerprint].
std::string ModelLine(const BuildCatalog::Model& m) { return nlohmann::json{CatalogText(m.id), m.lon, m.lat, m.fingerprint}.dump(); }

std::string SourceState(const BuildCatalog& catalog) {
  // Text, not a JSON tree: a tree of every model would cost a hundred times its text.
  std::string all = SettingsText(catalog.settings, CatalogText).dump();
  for (const auto& m : catalog.models) all += "\n" + ModelLine(m);
  return kmztile::core::ContentHash(all);
}

// The catalog is JSON Lines: a header {"version", "settings"}, then one line
// per model ["m", id, lon, lat, fingerprint] and one per file stamp
// ["f", path, size, mtime, hash]. Line by line, neither writing nor reading
// it holds more than one line as a JSON tree, whatever the number of models.
bool ReadCatalog(const fs::path& out, BuildCatalog& catalog, bool withFiles) {
  std::string text;
  if (!build::ReadStateFile(CatalogPath(out).string(), text)) return false;
  // Lines are parsed where they lie: a copy of the text would double what a
  // city's catalog costs to read.
  std::size_t at = 0;
  const auto nextLine = [&text, &at](std::string_view& line) {
    if (at >= text.size()) return false;
    const std::size_t end = std::min(text.find('\n', at), text.size());
    line = std::string_view(text).substr(at, end - at);
    at = end + 1;
    return true;
  };
  try {
    std::string_view line;
    if (!nextLine(line)) return false;
    const nlohmann::json header = nlohmann::json::parse(line);
    if (!header.is_object() || header.value("version", 0) != kCatalogVersion) return false;
    catalog.settings = SettingsText(header.at("settings"), FromCatalogText);
    while (nextLine(line)) {
      const nlohmann::json j = nlohmann::json::parse(line);
      const std::string kind = j.at(0).get<std::string>();
      if (kind == "m") {
        catalog.models.push_back({FromCatalogText(j.at(1).get<std::string>()), j.at(2).get<double>(), j.at(3).get<double>(),
                                  j.at(4).get<std::string>()});
      } else if (kind == "f") {
        if (!withFiles) break;  // file lines come last
        catalog.files[FromCatalogText(j.at(1).get<std::string>())] = {j.at(2).get<std::uint64_t>(), j.at(3).get<std::int64_t>(),
                                                      j.at(4).get<std::string>()};
      } else {  // a line of a kind this version does not write: damaged
        catalog = BuildCatalog{};
        return false;
      }
    }
  } catch (const nlohmann::json::exception&) {
    catalog = BuildCatalog{};
    return false;
  }
  return true;
}

void WriteCatalog(const fs::path& out, const BuildCatalog& catalog) {
  // Written a megabyte at a time: the whole text of a city's catalog would
  // be tens of megabytes at the build's busiest moment.
  constexpr std::size_t kPiece = 1 << 20;
  std::string piece = nlohmann::json{{"version", kCatalogVersion}, {"settings", SettingsText(catalog.settings, CatalogText)}}.dump() + "\n";
  auto model = catalog.models.begin();
  // Files by path, so that the catalog reads the same whatever order the
  // stamps were taken in.
  std::vector<const kmztile::core::FileStamps::value_type*> files;
  files.reserve(catalog.files.size());
  for (const auto& f : catalog.files) files.push_back(&f);
  std::sort(files.begin(), files.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
  auto file = files.begin();
  bool header = true;
  build::WriteFileAtomically(CatalogPath(out).string(), [&]() -> const std::string* {
    if (!header) piece.clear();
    header = false;
    for (; model != catalog.models.end() && piece.size() < kPiece; ++model)
      piece += "[\"m\"," + ModelLine(*model).substr(1) + "\n";
    for (; model == catalog.models.end() && file != files.end() && piece.size() < kPiece; ++file)
      piece += nlohmann::json{"f", CatalogText((*file)->first), (*file)->second.size, (*file)->second.mtimeNs,
                              (*file)->second.hash}.dump() + "\n";
    return piece.empty() ? nullptr : &piece;
  });
}

CatalogChange Compare(const BuildCatalog& before, const BuildCatalog& now, long minLevel, long maxLevel) {
  CatalogChange change;
  for (const auto& [key, value] : now.settings.items()) {
    if (before.settings.contains(key) && before.settings.at(key) == value) continue;
    change.everything = true;
    change.reason = change.reason.empty() ? key : change.reason + ", " + key;
  }
  if (change.everything) return change;
  std::map<std::string, const BuildCatalog::Model*> old;
  for (const auto& m : before.models) old[m.id] = &m;
  for (const auto& m : now.models) {
    const auto it = old.find(m.id);
    const BuildCatalog::Model* was = it == old.end() ? nullptr : it->second;
    if (was) old.erase(it);
    if (was && was->fingerprint == m.fingerprint) continue;  // the fingerprint holds the position
    ++change.changedModels;
    AddTilesOf(m.lon, m.lat, minLevel, maxLevel, change.stale);
    if (was) AddTilesOf(was->lon, was->lat, minLevel, maxLevel, change.stale);
  }
  for (const auto& [id, m] : old) {  // removed
    ++change.changedModels;
    AddTilesOf(m->lon, m->lat, minLevel, maxLevel, change.stale);
  }
  return change;
}

}  // namespace kmztool::pipeline
