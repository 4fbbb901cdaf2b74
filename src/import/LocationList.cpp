// The placemark location list of one imported package at one level: the id,
// longitude and latitude of every model placemark of the package's KML copy.
#include <cstdio>
#include <sstream>
#include <string>

#include "BaseParser.h"
#include "import/detail/TextLines.h"
#include "kml/dom.h"
#include "parser/ModelElements.h"
#include "platform/FileSystem.h"
#include "platform/KmlFiles.h"
#include "platform/Locale.h"

using kmztile::import::detail::WriteTextLine;

namespace {

std::string FormatCoordinate(double value) {
  char text[512];
  std::snprintf(text, sizeof text, "%.10f", value);
  return text;
}

// The root Folder of a KML document, or NULL when the text does not parse or
// has another structure.
kmldom::FolderPtr RootFolder(const std::string& kmlText) {
  const kmztile::platform::KmlNumbers numbers;
  const kmldom::ElementPtr root = kmldom::Parse(kmlText, nullptr);
  const kmldom::KmlPtr kml = kmldom::AsKml(root);
  if (!kml || !kml->has_feature()) return nullptr;
  return kmldom::AsFolder(kml->get_feature());
}

}  // namespace

bool CBaseParser::CreateLocationTxt(int level, std::string stem) {
  if (stem.empty()) return false;
  // The stem names a file inside the level folder; a separator would let it
  // reach elsewhere.
  if (stem.find_first_of("\\/") != std::string::npos) return false;
  // The level folder is named by one digit; levels whose folder number has
  // no such name are refused before anything is written.
  const long long folderNumber = static_cast<long long>(m_maxLevel) - level + 1;
  if (folderNumber < 0 || folderNumber > 9) return false;
  const std::string levelFolder = m_workFolder + static_cast<char>('0' + folderNumber) + "\\";
  const std::string kmlPath = levelFolder + stem + ".kml";
  const std::string listPath = levelFolder + stem + ".txt";

  // The list is collected in memory and replaces any earlier one whole (an
  // empty list when the KML copy is unusable); a list that cannot be
  // written is not reported.
  std::ostringstream list;
  const auto writeList = [&list, &listPath] {
    kmztile::platform::WriteFileAtomically(listPath, list.str());
    return true;
  };

  kmztile::platform::InstallUserDefaultLocale();
  std::string kmlText;
  if (!kmztile::platform::KmlReadFileToString(kmlPath, &kmlText)) return writeList();
  const kmldom::FolderPtr folder = RootFolder(kmlText);
  if (!folder) return writeList();

  // The first two features of the root Folder are never model placemarks of
  // the package layout and are not looked at.
  const std::size_t features = folder->get_feature_array_size();
  for (std::size_t i = 2; i < features; ++i) {
    const kmldom::FeaturePtr feature = folder->get_feature_array_at(i);
    const kmldom::ModelPtr model = kmztile::kml::ModelOf(feature);
    if (!model || !model->has_location()) continue;
    const kmldom::LocationPtr location = model->get_location();
    WriteTextLine(list, feature->get_id());
    WriteTextLine(list, FormatCoordinate(location->get_longitude()));
    WriteTextLine(list, FormatCoordinate(location->get_latitude()));
  }
  return writeList();
}
