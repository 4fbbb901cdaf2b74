// A model's placemark in the tile document, and its text as the tile
// document holds it.
#include "core/detail/TilePlacemark.h"
#include "core/detail/ModelDocument.h"
#include "core/detail/TileCore.h"
#include "kml/dom.h"
#include "platform/KmlNames.h"
#include "platform/Locale.h"
#include "parser/ModelElements.h"
#include "platform/LastError.h"
#include "tiles/detail/TileNames.h"

namespace kmztile::core {
namespace {

// Serialises @p placemark alone in a KML root's Folder, the place every
// placemark has in a tile document.
std::string InTileFolder(const kmldom::PlacemarkPtr& placemark) {
  kmldom::KmlFactory* factory = kmldom::KmlFactory::GetFactory();
  const kmldom::KmlPtr root = factory->CreateKml();
  const kmldom::FolderPtr folder = factory->CreateFolder();
  folder->add_feature(placemark);
  root->set_feature(folder);
  const platform::KmlNumbers numbers;
  return kmldom::SerializePretty(root);
}

// Where the placemark's lines begin and end in InTileFolder's text.
struct Frame {
  std::string before, after;
  bool ok = false;
};

const Frame& TileFolderFrame() {
  static const Frame frame = [] {
    Frame f;
    const kmldom::PlacemarkPtr empty = kmldom::KmlFactory::GetFactory()->CreatePlacemark();
    empty->set_id("frame");
    const std::string text = InTileFolder(empty);
    const std::size_t placemark = text.find("<Placemark");
    const std::size_t closing = text.rfind("</Folder>");
    if (placemark == std::string::npos || closing == std::string::npos || closing < placemark) return f;
    const std::size_t begin = text.rfind('\n', placemark);
    const std::size_t end = text.rfind('\n', closing);
    if (begin == std::string::npos || end == std::string::npos || end < placemark) return f;
    f.before = text.substr(0, begin + 1);
    f.after = text.substr(end + 1);
    f.ok = true;
    return f;
  }();
  return frame;
}

// Records why the placemark cannot be made (see platform/LastError.h).
bool Fail(std::string reason) {
  platform::SetLastError(std::move(reason));
  return false;
}

}  // namespace

std::string TilePlacemarkId(const std::string& baseName) { return platform::KmlAttributeText(baseName); }

kmldom::PlacemarkPtr BuildTilePlacemark(const kmldom::FolderPtr& source, const std::string& baseName) {
  const kmldom::PlacemarkPtr placemark = ModelPlacemark(source);
  const kmldom::ModelPtr model = kml::ModelOf(placemark);
  kml::ModelValues values;
  if (!model || !kml::ReadModelValues(model, values)) return nullptr;
  if (!values.hasLocation || !values.hasLink) return nullptr;
  values.href = tiles::detail::InsertBaseName(values.href, baseName);

  kmldom::PlacemarkPtr tilePlacemark = kmldom::KmlFactory::GetFactory()->CreatePlacemark();
  tilePlacemark->set_name(baseName);
  tilePlacemark->set_id(TilePlacemarkId(baseName));
  tilePlacemark->set_description(placemark->get_description());
  tilePlacemark->set_geometry(kml::BuildModel(values));
  return tilePlacemark;
}

bool PlacemarkTileText(const kmldom::PlacemarkPtr& placemark, std::string& text) {
  const Frame& frame = TileFolderFrame();
  if (!frame.ok) return false;
  const std::string whole = InTileFolder(placemark);
  if (whole.size() < frame.before.size() + frame.after.size() ||
      whole.compare(0, frame.before.size(), frame.before) != 0 ||
      whole.compare(whole.size() - frame.after.size(), frame.after.size(), frame.after) != 0)
    return false;
  text = whole.substr(frame.before.size(), whole.size() - frame.before.size() - frame.after.size());
  return true;
}

bool TileModels::PlacemarkText(std::size_t i, std::string& text) {
  const std::string& package = Package(i);
  if (package.empty()) return Fail("a model of the tile has no name");
  std::string document;
  // A model's document that cannot be read has recorded why itself.
  if (!Document(i, document)) return false;
  kmldom::KmlPtr root;
  kmldom::FolderPtr folder;
  if (!ParseModelDocument(document, root, folder))
    return Fail("model " + package + ": its document is not KML with a Folder");
  const kmldom::PlacemarkPtr placemark = BuildTilePlacemark(folder, tiles::detail::BaseNameOf(package));
  if (!placemark)
    return Fail("model " + package + ": its document lacks the Model placemark with a location and a link");
  if (!PlacemarkTileText(placemark, text)) return Fail("model " + package + ": its placemark cannot be written as KML");
  return true;
}

}  // namespace kmztile::core
