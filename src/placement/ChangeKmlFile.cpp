// Rewriting the template KML for one model and packing the model's KMZ:
// folder\middle\N.kmz with the texture files, the COLLADA file and doc.kml.
#include <vector>

#include "BaseParser.h"
#include "placement/detail/TemplateRewrite.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"
#include "platform/ZipWriter.h"

namespace placement = kmztile::placement::detail;
namespace platform = kmztile::platform;
using kmztile::platform::ZipWriter;

bool CBaseParser::changeKmlFile(std::string& folder, std::string& templatePath, std::string& modelName,
                                std::string& modelFile, double longitude, double latitude) {
  platform::InstallUserDefaultLocale();
  std::string text;
  if (!platform::ReadPlainFile(templatePath, text)) return false;
  std::string rewritten;
  if (!placement::RewriteTemplateText(text, modelName, modelFile, longitude, latitude, rewritten)) return false;
  // The archive takes folder\doc.kml as rewritten here; packing after a
  // failed write would place this model with the previous model's document.
  // The template is the user's file: it is replaced whole or not at all, so a
  // full disk never leaves it truncated.
  if (!platform::WriteFileAtomically(templatePath, rewritten)) return false;

  std::vector<std::string> textures;
  placement::ListModelTextures(folder, modelName, textures);

  // The package is built in memory and written whole: textures (already
  // compressed images) are stored rather than deflated again, text is
  // deflated at zlib's fastest level, and a failed model never leaves a
  // partial archive behind.
  ZipWriter zip;
  std::string bytes;
  for (const std::string& texture : textures) {
    if (!placement::ReadModelTexture(folder, modelName, texture, bytes)) continue;
    if (!zip.AddFile(placement::PackageTexturePath(modelName, texture), bytes)) return false;
  }
  const std::string modelPath = placement::ModelFilePath(folder, modelName, modelFile);
  if (modelPath.empty() || !platform::ReadPlainFile(modelPath, bytes)) return false;
  if (!zip.AddFile(placement::PackageModelPath(modelName), bytes)) return false;
  platform::InstallUserDefaultLocale();
  if (!platform::ReadPlainFile(folder + "\\doc.kml", bytes)) return false;
  if (!zip.AddFile("doc.kml", bytes)) return false;
  std::string archive;
  return zip.Finish(archive) && platform::WriteFileAtomically(folder + "\\middle\\" + modelName + ".kmz", archive);
}
