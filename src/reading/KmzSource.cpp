#include "reading/KmzSource.h"

#include "platform/FileSystem.h"
#include "platform/LastError.h"

namespace kmztile::reading {
namespace {

bool Fail(std::string why) {
  platform::SetLastError(std::move(why));
  return false;
}

// libkml keeps its own table of contents, found through minizip; it must be
// the directory that was checked, name for name, or reads and rewrites would
// act on entries nobody checked.
bool SameDirectory(const kmlengine::KmzFilePtr& kmz, const detail::ZipDirectory& directory) {
  std::vector<std::string> listed;
  if (!kmz->List(&listed) || listed.size() != directory.entries().size()) return false;
  for (std::size_t i = 0; i < listed.size(); ++i)
    if (listed[i] != directory.entries()[i].name) return false;
  return true;
}

}  // namespace

bool IsArchiveBytes(const std::string& source) { return kmlengine::KmzFile::IsKmz(source); }

std::vector<std::string> ArchiveIndex::Names() const {
  std::vector<std::string> names;
  names.reserve(directory.entries().size());
  for (const auto& entry : directory.entries()) names.push_back(entry.name);
  return names;
}

bool ArchiveIndex::ReadDefaultKml(std::string& out) const {
  for (const auto& entry : directory.entries()) {
    const std::string& n = entry.name;
    if (n.size() >= 4 && n.compare(n.size() - 4, 4, ".kml") == 0) return detail::ZipDirectory::Read(bytes, entry, out);
  }
  return false;
}

bool OpenKmzSource(std::string source, OpenedKmz& out) {
  if (source.empty()) return Fail("no source given");
  auto index = std::make_shared<ArchiveIndex>();
  if (IsArchiveBytes(source)) {
    index->bytes = std::move(source);
  } else if (!platform::ReadWholeFile(source, index->bytes)) {
    return Fail("the file " + platform::WhyUnreadable(source));
  }
  if (!detail::ZipDirectory::Parse(index->bytes, index->directory)) return false;
  kmlengine::KmzFilePtr kmz(kmlengine::KmzFile::OpenFromString(index->bytes));
  if (!kmz) return Fail("libkml does not open the archive");
  if (!SameDirectory(kmz, index->directory)) return Fail("libkml lists another central directory");
  out.kmz = std::move(kmz);
  out.index = std::move(index);
  return true;
}

bool ReadEntryTolerant(const ArchiveIndex& index, const std::string& name, std::string& target) {
  if (index.ReadEntry(name, target)) return true;
  return !name.empty() && name.back() == '/';
}

}  // namespace kmztile::reading
