#include "build/ShardRecords.h"

#include <set>
#include <vector>

#include "build/JsonText.h"

namespace kmztool::build {
namespace {

constexpr const char* kPrefix = "tileset-shard-";
constexpr const char* kSeparator = "-of-";
constexpr const char* kSuffix = ".json";

// "a, b, c" for a few items, "a, b, ... and 990 more" for many.
std::string Listed(const std::vector<std::string>& items) {
  constexpr size_t kShown = 8;
  std::string text;
  for (size_t i = 0; i < items.size() && i < kShown; ++i) text += (i ? ", " : "") + items[i];
  if (items.size() > kShown) text += " and " + std::to_string(items.size() - kShown) + " more";
  return text;
}

std::string KOfN(const Shard& shard) { return std::to_string(shard.index) + "/" + std::to_string(shard.count); }

// The settings a record was built with, without its shard.
nlohmann::json BuildSettings(const Tileset& record) {
  nlohmann::json settings = record.settings;
  settings.erase("shard");
  return settings;
}

// Checks that the record @p name of @p shard says it is that shard and lists
// only tiles that shard builds.
bool CheckRecord(const std::string& name, const Shard& shard, const Tileset& record, std::string& error) {
  const nlohmann::json says = record.settings.contains("shard") ? record.settings["shard"] : nlohmann::json();
  const auto is = [&says](const char* field, unsigned value) {
    return says.contains(field) && says[field].is_number_unsigned() && says[field].get<unsigned long>() == value;
  };
  if (!says.is_object() || !is("index", shard.index) || !is("count", shard.count) || !says.contains("state")) {
    error = name + ": not the record of shard " + KOfN(shard) + " (its settings say \"shard\": " + JsonText(says) + ")";
    return false;
  }
  for (const TileRecord& t : record.tiles) {
    const unsigned owner = ShardOfTile(t.key, shard.count);
    if (owner != shard.index) {
      error = name + ": lists tile " + TilePath(t.key) + ", which shard " + std::to_string(owner) + "/" +
              std::to_string(shard.count) + " builds, not " + KOfN(shard);
      return false;
    }
  }
  return true;
}

}  // namespace

std::string ShardRecordName(const Shard& shard) {
  return kPrefix + std::to_string(shard.index) + kSeparator + std::to_string(shard.count) + kSuffix;
}

bool ParseShardRecordName(const std::string& name, Shard& shard) {
  const std::string prefix = kPrefix, suffix = kSuffix;
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const size_t of = middle.find(kSeparator);
  if (of == std::string::npos) return false;
  middle.replace(of, std::string(kSeparator).size(), "/");
  Shard parsed;
  std::string ignored;
  // Only the name this shard writes: no leading zeros or other spellings.
  if (!ParseShard(middle, parsed, ignored) || ShardRecordName(parsed) != name) return false;
  shard = parsed;
  return true;
}

std::string ShardRecordText(Tileset tileset, const Shard& shard, const std::string& state) {
  tileset.settings["shard"] = {{"index", shard.index}, {"count", shard.count}, {"state", state}};
  return TilesetJson(tileset);
}

bool JoinShardRecords(const std::map<std::string, std::string>& files, const std::string& state, Tileset& merged,
                      std::string& error) {
  std::map<unsigned, std::map<unsigned, std::string>> byCount;  // count -> index -> file name
  for (const auto& file : files) {
    Shard shard;
    if (ParseShardRecordName(file.first, shard)) byCount[shard.count][shard.index] = file.first;
  }
  if (byCount.empty()) {
    error = "no shard has finished: there is no tileset-shard-K-of-N.json (each shard writes its own once it has "
            "built its whole share)";
    return false;
  }
  if (byCount.size() > 1) {
    std::vector<std::string> splits;
    for (const auto& [count, records] : byCount)
      splits.push_back(records.begin()->second + " (" + std::to_string(count) + " shards)");
    error = "records of builds split into different numbers of shards: " + Listed(splits) +
            "; remove the records of the earlier split and run its shards again";
    return false;
  }
  const unsigned count = byCount.begin()->first;
  const std::map<unsigned, std::string>& names = byCount.begin()->second;
  std::vector<std::string> missing, missingNames;
  for (unsigned k = 1; k <= count; ++k) {
    if (names.count(k)) continue;
    missing.push_back(KOfN({k, count}));
    missingNames.push_back(ShardRecordName({k, count}));
  }
  if (!missing.empty()) {
    error = std::to_string(missing.size()) + " of " + std::to_string(count) + " shards have not finished: " +
            Listed(missing) + " (no " + Listed(missingNames) + ")";
    return false;
  }
  std::vector<Tileset> parts;
  std::vector<std::string> stale;
  for (const auto& [index, name] : names) {
    Tileset record;
    if (!ParseTileset(files.at(name), record, error)) {
      error = name + ": " + error;
      return false;
    }
    if (!CheckRecord(name, {index, count}, record, error)) return false;
    if (!parts.empty() && BuildSettings(record) != BuildSettings(parts.front())) {
      error = name + " was built with the settings " + JsonText(BuildSettings(record)) + " but " + names.begin()->second +
              " with " + JsonText(BuildSettings(parts.front())) + ": run every shard with the same settings";
      return false;
    }
    if (record.settings.at("shard").at("state") != state) stale.push_back(KOfN({index, count}));
    parts.push_back(std::move(record));
  }
  if (!stale.empty()) {
    error = "shard(s) " + Listed(stale) +
            " were built before the source or the settings last changed (another shard has run since with the "
            "current ones): run them again";
    return false;
  }
  return MergeTilesets(parts, merged, error);
}

}  // namespace kmztool::build
