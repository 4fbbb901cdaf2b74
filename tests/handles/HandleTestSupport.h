#pragma once
// Helpers of the archive-handle suite: a handle closed at scope exit and the
// reference count of the archive object behind a handle.
#include <map>
#include <string>
#include <vector>

#include "BaseParser.h"
#include "kml/engine.h"

namespace kmztest {

/** The result of one ReadKmzToListEx call; the handle is closed on destruction. */
struct LazyArchive {
  std::map<std::string, std::vector<std::string>> textures;
  std::map<std::string, LonLatID> locations;
  long* handle = nullptr;
  bool opened = false;

  explicit LazyArchive(const std::string& source) {
    opened = CBaseParser::ReadKmzToListEx(source, textures, locations, handle);
  }
  LazyArchive(const LazyArchive&) = delete;
  LazyArchive& operator=(const LazyArchive&) = delete;
  ~LazyArchive() { Close(); }

  /** Closes the handle (once). @return the result of the closing call. */
  bool Close() {
    if (!opened) return false;
    opened = false;
    std::string unused;
    return CBaseParser::ReadOneKmzData(handle, unused, unused, true);
  }
  /** Reads one entry; @p data keeps its value on failure. */
  bool Read(std::string name, std::string& data) const {
    return CBaseParser::ReadOneKmzData(handle, name, data, false);
  }
  /** The reference count of the archive object behind the open handle. */
  int RefCount() const { return reinterpret_cast<const kmlengine::KmzFile*>(handle)->get_ref_count(); }
};

}  // namespace kmztest
