#pragma once
// The catalog a build keeps in OUT/.kmztile/catalog.jsonl: the settings of
// the last run and every model with its position and fingerprint, plus the
// file stamps that spare a rerun reading unchanged files. A rerun compares
// it with the source as it is now to learn which tiles are stale.
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "build/TileRecord.h"
#include "core/detail/Fingerprint.h"
#include "core/detail/SourceCatalog.h"

namespace kmztool::pipeline {

/** The catalog of one run. */
struct BuildCatalog {
  nlohmann::json settings;  ///< source, crs, levels, template
  struct Model {
    std::string id;
    double lon = 0;
    double lat = 0;
    std::string fingerprint;
  };
  std::vector<Model> models;
  kmztile::core::FileStamps files;
};

/**
 * The catalog of @p source as it is now, under @p settings; @p known spares
 * re-reading unchanged files. Fingerprints are taken on up to @p threads
 * threads; the catalog is the same for any number.
 */
BuildCatalog MakeCatalog(const kmztile::core::SourceCatalog& source, nlohmann::json settings,
                         const kmztile::core::FileStamps& known, int threads = 1);

/**
 * A hash of what a run builds from: its settings and every model with its
 * position and fingerprint (not the file stamps). Shards that agree on it
 * built the same source the same way.
 */
std::string SourceState(const BuildCatalog& catalog);

/**
 * OUT/.kmztile/catalog.jsonl; false when there is none or it is damaged (the
 * build then starts afresh). Without @p withFiles the file stamps are not
 * read (settings and models only). @throws std::runtime_error when it is
 * there but cannot be read.
 */
bool ReadCatalog(const std::filesystem::path& out, BuildCatalog& catalog, bool withFiles = true);
/** Writes OUT/.kmztile/catalog.jsonl whole. @throws std::runtime_error naming the file. */
void WriteCatalog(const std::filesystem::path& out, const BuildCatalog& catalog);

/** What changed between two runs. */
struct CatalogChange {
  /** A setting changed (named in reason): every tile is stale. */
  bool everything = false;
  std::string reason;
  /** Tiles that held or now hold a model added, removed, moved or edited. */
  std::set<build::TileKey> stale;
  long changedModels = 0;
};

/** Compares the last run's catalog @p before with @p now for levels @p minLevel to @p maxLevel. */
CatalogChange Compare(const BuildCatalog& before, const BuildCatalog& now, long minLevel, long maxLevel);

}  // namespace kmztool::pipeline
