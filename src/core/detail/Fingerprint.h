#pragma once
// Fingerprints of a source's models, so that a rerun can tell which models
// changed: the model's document and position and the content of every file
// it takes (its COLLADA file, location text and textures). A file whose size
// and modification time are those of the last run keeps its content hash
// without being read again.
#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/detail/SourceCatalog.h"

namespace kmztile::core {

/** What is known of one file: size, modification time and a hash of its content. */
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t mtimeNs = 0;
  std::string hash;
};

/** Stamps by file path. */
using FileStamps = std::unordered_map<std::string, FileStamp>;

/**
 * The fingerprint of @p model (hex). Files found in @p known with the same
 * size and time reuse its hash; every file's stamp of this run goes into
 * @p seen. A file that cannot be read counts as changed.
 */
std::string ModelFingerprint(const SourceCatalog& catalog, const SourceModel& model, const FileStamps& known,
                             FileStamps& seen);

/** The content hash of bytes, as fingerprints use it (hex). */
std::string ContentHash(const std::string& bytes);

}  // namespace kmztile::core
