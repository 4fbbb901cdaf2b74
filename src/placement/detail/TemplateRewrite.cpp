#include "placement/detail/TemplateRewrite.h"

#include <fstream>

#include "parser/ModelElements.h"
#include "placement/detail/FolderListing.h"
#include "placement/detail/PlacemarkRewrite.h"
#include "platform/FileSystem.h"

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

bool Opens(const std::string& path) {
  std::ifstream in;
  return platform::OpenInput(in, path, true);
}

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

std::string PackageTexturePath(const std::string& modelName, const std::string& texture) {
  return "models/" + modelName + "/" + texture;
}

std::string PackageModelPath(const std::string& modelName) { return "models/" + modelName + ".dae"; }

}  // namespace kmztile::placement::detail
