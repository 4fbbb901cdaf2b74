#include "placement/detail/TemplateRewrite.h"

#include "parser/ModelElements.h"
#include "placement/detail/FolderListing.h"
#include "placement/detail/PlacemarkRewrite.h"
#include "platform/FileSystem.h"
#include "platform/FolderGuards.h"
#include "platform/Paths.h"
#include "platform/Problems.h"

namespace kmztile::placement::detail {
namespace {

// Rewrites the parsed template for one model (see RewriteTemplateText).
bool RewriteParsed(const ParsedKml& parsed, const std::string& modelName, const std::string& modelFile,
                   double longitude, double latitude) {
  const kmldom::FolderPtr folder = kmldom::AsFolder(parsed.feature);
  if (!folder) return true;
  const kmldom::PlacemarkPtr pattern = FirstPlacemark(folder);
  if (!pattern) return false;
  kml::ModelValues values;
  if (!kml::ReadModelValues(kml::ModelOf(pattern), values) || !values.hasLocation) return false;
  values.longitude = longitude;
  values.latitude = latitude;
  values.href = "models/" + modelFile;
  const std::string patternName = pattern->get_name();
  folder->set_name(modelName);
  ReplaceNamedFeature(folder, patternName, BuildPlacemark(pattern, values));
  return true;
}

// A plain file (no symbolic link, FIFO or device) that opens for reading.
bool Opens(const std::string& path) { return platform::OpensAsPlainFile(path); }

}  // namespace

bool RewriteTemplateText(const std::string& text, const std::string& modelName, const std::string& modelFile,
                         double longitude, double latitude, std::string& rewritten) {
  ParsedKml parsed;
  if (!ParseKmlWithFeature(text, parsed)) return false;
  if (!RewriteParsed(parsed, modelName, modelFile, longitude, latitude)) return false;
  return SerializeKml(parsed.kml, rewritten);
}

std::string ModelFilePath(const std::string& folder, const std::string& modelName, const std::string& modelFile) {
  const std::string exact = folder + "\\" + modelName + ".dae";
  if (Opens(exact)) return exact;
  const bool sameModel = modelFile.size() == modelName.size() + 4 &&
                         modelFile.compare(0, modelName.size(), modelName) == 0 && FileExtension(modelFile) == "dae";
  const std::string listed = folder + "\\" + modelFile;
  return sameModel && Opens(listed) ? listed : std::string();
}

void ListModelTextures(const std::string& folder, const std::string& modelName, std::vector<std::string>& textures) {
  const std::string textureFolder = folder + "\\" + modelName;
  // A texture folder that is a symbolic link may lead anywhere: not followed.
  if (platform::IsSymbolicLink(textureFolder))
    platform::ReportProblem(platform::NativePath(textureFolder),
                            "the texture folder is a symbolic link; links are not followed, so no texture is packed");
  else
    ListFolderFiles(textureFolder, "", textures);
}

bool ReadModelTexture(const std::string& folder, const std::string& modelName, const std::string& texture,
                      std::string& bytes) {
  const std::string path = folder + "\\" + modelName + "\\" + texture;
  if (platform::ReadPlainFile(path, bytes)) return true;
  platform::ReportProblem(platform::NativePath(path), "the texture " + platform::WhyUnreadable(path) +
                                                          "; the package of model " + modelName + " lacks it");
  return false;
}

std::string PackageTexturePath(const std::string& modelName, const std::string& texture) {
  return "models/" + modelName + "/" + texture;
}

std::string PackageModelPath(const std::string& modelName) { return "models/" + modelName + ".dae"; }

}  // namespace kmztile::placement::detail
