// Rewriting the template KML for one model and packing the model's KMZ:
// folder\middle\N.kmz with the texture files, the COLLADA file and doc.kml.
#include <vector>

#include "BaseParser.h"
#include "parser/ModelElements.h"
#include "placement/detail/FolderListing.h"
#include "placement/detail/PlacemarkRewrite.h"
#include "platform/FileSystem.h"
#include "platform/FolderGuards.h"
#include "platform/Paths.h"
#include "platform/Problems.h"
#include "platform/Locale.h"
#include "platform/ZipWriter.h"

namespace placement = kmztile::placement::detail;
namespace platform = kmztile::platform;
using kmztile::platform::ZipWriter;

namespace {

// Rewrites the parsed template for one model. A Folder gets the model's name
// and a new placemark from its first placemark; any other feature passes
// unchanged. @return false when the Folder has no placemark carrying a Model
// with a Location: the package would place nothing.
bool RewriteTemplate(const placement::ParsedKml& parsed, const std::string& modelName, const std::string& modelFile,
                     double longitude, double latitude) {
  const kmldom::FolderPtr folder = kmldom::AsFolder(parsed.feature);
  if (!folder) return true;
  const kmldom::PlacemarkPtr pattern = placement::FirstPlacemark(folder);
  if (!pattern) return false;
  kmztile::kml::ModelValues values;
  if (!kmztile::kml::ReadModelValues(kmztile::kml::ModelOf(pattern), values) || !values.hasLocation) return false;
  values.longitude = longitude;
  values.latitude = latitude;
  values.href = "models/" + modelFile;
  const std::string patternName = pattern->get_name();
  folder->set_name(modelName);
  placement::ReplaceNamedFeature(folder, patternName, placement::BuildPlacemark(pattern, values));
  return true;
}

// The model's COLLADA file folder\N.dae. The model file as listed (such as
// house.DAE) stands in for it when the exact name is absent, as it would on
// a file system that ignores letter case.
bool ReadModelFile(const std::string& folder, const std::string& modelName, const std::string& modelFile,
                   std::string& out) {
  if (platform::ReadPlainFile(folder + "\\" + modelName + ".dae", out)) return true;
  const bool sameModel = modelFile.size() == modelName.size() + 4 && modelFile.compare(0, modelName.size(), modelName) == 0 &&
                         placement::FileExtension(modelFile) == "dae";
  return sameModel && platform::ReadPlainFile(folder + "\\" + modelFile, out);
}

}  // namespace

bool CBaseParser::changeKmlFile(std::string& folder, std::string& templatePath, std::string& modelName,
                                std::string& modelFile, double longitude, double latitude) {
  platform::InstallUserDefaultLocale();
  std::string text;
  if (!platform::ReadPlainFile(templatePath, text)) return false;

  placement::ParsedKml parsed;
  if (!placement::ParseKmlWithFeature(text, parsed)) return false;
  if (!RewriteTemplate(parsed, modelName, modelFile, longitude, latitude)) return false;
  std::string rewritten;
  if (!placement::SerializeKml(parsed.kml, rewritten)) return false;
  // The archive takes folder\doc.kml as rewritten here; packing after a
  // failed write would place this model with the previous model's document.
  // The template is the user's file: it is replaced whole or not at all, so a
  // full disk never leaves it truncated.
  if (!platform::WriteFileAtomically(templatePath, rewritten)) return false;

  std::vector<std::string> textures;
  const std::string textureFolder = folder + "\\" + modelName;
  // A texture folder that is a symbolic link may lead anywhere: not followed.
  if (platform::IsSymbolicLink(textureFolder))
    platform::ReportProblem(platform::NativePath(textureFolder),
                            "the texture folder is a symbolic link; links are not followed, so no texture is packed");
  else
    placement::ListFolderFiles(textureFolder, "", textures);

  // The package is built in memory and written whole: textures (already
  // compressed images) are stored rather than deflated again, text is
  // deflated at zlib's fastest level, and a failed model never leaves a
  // partial archive behind.
  ZipWriter zip;
  std::string bytes;
  for (const std::string& texture : textures) {
    if (!platform::ReadPlainFile(textureFolder + "\\" + texture, bytes)) {
      platform::ReportProblem(platform::NativePath(textureFolder + "\\" + texture),
                              "the texture cannot be read; the package of model " + modelName + " lacks it");
      continue;
    }
    if (!zip.AddFile("models/" + modelName + "/" + texture, bytes)) return false;
  }
  if (!ReadModelFile(folder, modelName, modelFile, bytes)) return false;
  if (!zip.AddFile("models/" + modelName + ".dae", bytes)) return false;
  platform::InstallUserDefaultLocale();
  if (!platform::ReadPlainFile(folder + "\\doc.kml", bytes)) return false;
  if (!zip.AddFile("doc.kml", bytes)) return false;
  std::string archive;
  return zip.Finish(archive) && platform::WriteFileAtomically(folder + "\\middle\\" + modelName + ".kmz", archive);
}
