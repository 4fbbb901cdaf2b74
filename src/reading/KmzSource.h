#pragma once
// Opening a KMZ given either as a file path or as the archive's bytes. The
// bytes are checked (central directory, entry names) before libkml sees
// them, and an index built once serves every entry read.
#include <memory>
#include <string>
#include <vector>

#include "kml/engine.h"
#include "reading/detail/ZipDirectory.h"

namespace kmztile::reading {

/** The bytes of an open archive and its checked directory, shared by readers. */
struct ArchiveIndex {
  std::string bytes;
  detail::ZipDirectory directory;

  /** Entry names in directory order: the checked directory, which is also libkml's. */
  std::vector<std::string> Names() const;
  /** Reads entry @p name (first of duplicates) into @p out; libkml's rules, CRC checked. */
  bool ReadEntry(const std::string& name, std::string& out) const {
    return directory.ReadByName(bytes, name, out);
  }
  /**
   * The archive's KML document: the first entry whose name ends in ".kml"
   * (case-sensitive); an unreadable first match fails without trying the next.
   */
  bool ReadDefaultKml(std::string& out) const;
};

/** An archive opened by the KMZ source rule. */
struct OpenedKmz {
  kmlengine::KmzFilePtr kmz;
  std::shared_ptr<const ArchiveIndex> index;
};

/** True when @p source is archive bytes (it starts with a zip local header), not a path. */
bool IsArchiveBytes(const std::string& source);

/**
 * The KMZ source rule: an empty source fails; a source starting with the
 * zip local-header signature is archive bytes; anything else is a file path.
 * @return false, with the reason as the thread's last error, when the
 * source is empty, cannot be read, is not a well-formed zip archive, or
 * libkml does not open it or lists other entries than the checked ones.
 */
bool OpenKmzSource(std::string source, OpenedKmz& out);

/** Directory-tolerant read: a failed read of a name ending in "/" is ignored (true, target unchanged). */
bool ReadEntryTolerant(const ArchiveIndex& index, const std::string& name, std::string& target);

}  // namespace kmztile::reading
