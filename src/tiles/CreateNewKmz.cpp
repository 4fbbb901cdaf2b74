// Tile KMZ writing: the tile document first, then every model package's
// entries under their renamed paths, COLLADA files from the level folder and
// textures reduced to the level.
#include "BaseParser.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Problems.h"
#include "platform/ZipWriter.h"
#include "reading/KmzSource.h"
#include "tiles/detail/TextureReduction.h"
#include "tiles/detail/TileNames.h"

using namespace kmztile::tiles::detail;
using kmztile::platform::ZipWriter;

bool CBaseParser::CreateNewKmz(long level, std::vector<std::string> models, std::string tileName,
                               const std::string* document, std::string* archive) {
  if (m_workFolder.empty() || tileName.empty()) return false;
  const auto number = LevelFolderNumber(m_maxLevel, level);
  if (!number) return false;
  const std::string folder = LevelFolder(m_workFolder, *number) + "\\";

  std::string read;  // the tile document from the level folder, when not handed over
  if (!document) {
    if (!kmztile::platform::ReadWholeFile(folder + tileName + ".kml", read)) return false;
    document = &read;
  }
  ZipWriter zip;
  if (!zip.AddFile(tileName + ".kml", *document)) return false;

  for (const std::string& model : models) {
    kmztile::reading::OpenedKmz package;
    if (!kmztile::reading::OpenKmzSource(m_workFolder + model, package)) return false;
    const std::string base = BaseNameOf(model);
    // The package's identity for the decoded-texture cache: a rewritten
    // package (other size or time) never reuses an older decode.
    TextureKey source;
    source.package = m_workFolder + model;
    const bool cacheable = kmztile::platform::StatFile(source.package, source.size, source.mtimeNs);
    std::string collada;  // the level's copy, read at the first ".dae" entry
    bool colladaRead = false;

    for (const auto& entry : package.index->directory.entries()) {
      const std::string& path = entry.name;
      if (EndsWith(path, "/") || EndsWith(path, ".kml")) continue;
      std::string data;
      if (EndsWith(path, ".dae")) {
        if (!colladaRead && !kmztile::platform::ReadWholeFile(folder + base + ".dae", collada)) return false;
        colladaRead = true;
        data = collada;
      } else {
        if (!package.index->ReadEntry(path, data)) return false;
        source.entry = path;
        const TextureOutcome outcome =
            *number > 0 ? ReduceTexture(path, data, *number, m_textureBase,
                                        cacheable ? &TextureCache::Shared() : nullptr, source)
                        : TextureOutcome::Kept;
        if (outcome == TextureOutcome::Undecodable)
          kmztile::platform::ReportProblem(kmztile::platform::NativePath(source.package) + ": " + path,
                                           "the texture does not decode, so the tiles leave it out");
        if (outcome == TextureOutcome::Dropped || outcome == TextureOutcome::Undecodable) continue;
      }
      if (!zip.AddFile(InsertBaseName(path, base), data)) return false;
    }
  }

  std::string bytes;
  if (!zip.Finish(bytes)) return false;
  // Written beside its final name and renamed into place: a failed tile never
  // leaves a half-written KMZ under that name.
  if (!kmztile::platform::WriteFileAtomically(folder + tileName + ".kmz", bytes)) return false;
  if (archive) archive->swap(bytes);
  return true;
}
