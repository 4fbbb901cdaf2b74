#include "tiles/detail/LevelFolderModels.h"

#include "platform/FileSystem.h"
#include "platform/KmlFiles.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "reading/KmzSource.h"
#include "tiles/detail/TileNames.h"

namespace kmztile::tiles::detail {

LevelFolderModels::LevelFolderModels(const std::vector<std::string>& packages, std::string workFolder,
                                     std::string levelFolder)
    : packages_(packages), workFolder_(std::move(workFolder)), levelFolder_(std::move(levelFolder)) {}

bool LevelFolderModels::Document(std::size_t i, std::string& text) {
  const std::string path = levelFolder_ + ModelKmlNameOf(packages_[i]);
  if (platform::KmlReadFileToString(path, &text)) return true;
  platform::SetLastError("model document " + platform::NativePath(path) + ": " + platform::WhyUnreadable(path));
  return false;
}

bool LevelFolderModels::Entries(std::size_t i, std::vector<core::ModelEntry>& entries) {
  const std::string package = workFolder_ + packages_[i];
  reading::OpenedKmz opened;
  if (!reading::OpenKmzSource(package, opened)) {
    platform::SetLastError("package " + platform::NativePath(package) + ": " + platform::LastError());
    return false;
  }
  // The package's identity for the decoded-texture cache: a rewritten
  // package (other size or time) never reuses an older decode.
  TextureKey source;
  source.package = package;
  const bool cacheable = platform::StatFile(package, source.size, source.mtimeNs);
  std::string collada;  // the level's copy, read at the first COLLADA entry
  bool colladaRead = false;
  for (const auto& item : opened.index->directory.entries()) {
    const std::string& path = item.name;
    if (EndsWith(path, "/") || EndsWith(path, ".kml")) continue;
    core::ModelEntry entry;
    entry.name = path;
    if (EndsWith(path, ".dae")) {
      const std::string copy = levelFolder_ + BaseNameOf(packages_[i]) + ".dae";
      if (!colladaRead && !platform::ReadWholeFile(copy, collada)) {
        platform::SetLastError("model file " + platform::NativePath(copy) + ": " + platform::WhyUnreadable(copy));
        return false;
      }
      colladaRead = true;
      entry.data = collada;
      entry.collada = true;
    } else {
      if (!opened.index->ReadEntry(path, entry.data)) {
        platform::SetLastError("package " + platform::NativePath(package) + ": " + platform::LastError());
        return false;
      }
      entry.source = source;
      entry.source.entry = path;
      entry.cacheable = cacheable;
      entry.where = platform::NativePath(package) + ": " + path;
    }
    entries.push_back(std::move(entry));
  }
  return true;
}

}  // namespace kmztile::tiles::detail
