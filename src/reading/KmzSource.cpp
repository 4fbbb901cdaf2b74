#include "reading/KmzSource.h"

#include "platform/FileSystem.h"

namespace kmztile::reading {

bool ArchiveIndex::ReadDefaultKml(std::string& out) const {
  for (const auto& entry : directory.entries()) {
    const std::string& n = entry.name;
    if (n.size() >= 4 && n.compare(n.size() - 4, 4, ".kml") == 0) return detail::ZipDirectory::Read(bytes, entry, out);
  }
  return false;
}

bool OpenKmzSource(std::string source, OpenedKmz& out) {
  if (source.empty()) return false;
  auto index = std::make_shared<ArchiveIndex>();
  if (kmlengine::KmzFile::IsKmz(source)) {
    index->bytes = std::move(source);
  } else if (!platform::ReadWholeFile(source, index->bytes)) {
    return false;
  }
  if (!detail::ZipDirectory::Parse(index->bytes, index->directory)) return false;
  kmlengine::KmzFilePtr kmz(kmlengine::KmzFile::OpenFromString(index->bytes));
  if (!kmz) return false;
  out.kmz = std::move(kmz);
  out.index = std::move(index);
  return true;
}

bool ReadEntryTolerant(const ArchiveIndex& index, const std::string& name, std::string& target) {
  if (index.ReadEntry(name, target)) return true;
  return !name.empty() && name.back() == '/';
}

}  // namespace kmztile::reading
