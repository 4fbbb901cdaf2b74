// Reading a source folder as packaging does, in memory.
#include "core/detail/SourceCatalog.h"
#include "core/detail/Fingerprint.h"

#include <cmath>

#include "BaseParser.h"
#include "placement/detail/FolderListing.h"
#include "placement/detail/LocationText.h"
#include "placement/detail/TemplateRewrite.h"
#include "platform/FileSystem.h"
#include "platform/KmlNames.h"
#include "platform/Paths.h"
#include "platform/Locale.h"

// The catalog converts grid locations through the parser's coordinate-system
// component, exactly as packaging does.
class CBaseParserCoreAccess {
 public:
  static void SetCoordSys(CBaseParser& parser, const wchar_t* text) { parser.m_coordSysText = text; }
};

namespace kmztile::core {

namespace placement = kmztile::placement::detail;

bool CatalogSource(CBaseParser& parser, const std::string& folder, const std::wstring& crs, SourceCatalog& catalog,
                   std::string& error) {
  platform::InstallUserDefaultLocale();
  catalog = SourceCatalog{};
  catalog.folder = folder;
  std::vector<std::string> files;
  placement::ListFolderFiles(folder, "dae", files);
  catalog.listed = files.size();
  CBaseParserCoreAccess::SetCoordSys(parser, crs.c_str());

  // Packaging rewrites the template in place for every model, so each
  // model's document starts from the one before it; the chain is kept here.
  std::string templateText;
  const bool haveTemplate = platform::ReadPlainFile(folder + "\\doc.kml", templateText);
  if (haveTemplate) catalog.templateHash = ContentHash(templateText);
  const auto convert = [&parser](double x, double y, double& lon, double& lat) { parser.ConvertGSToLB(x, y, lon, lat); };
  for (const std::string& file : files) {
    SourceModel model;
    model.name = file.substr(0, file.size() - 4);
    // A name KML cannot hold is left out before the template takes it, as
    // packaging does: the template written with it would not read again, and
    // every model after it in the chain would be lost.
    const std::string unwritable = platform::WhyKmlCannotHoldName(model.name);
    if (!unwritable.empty()) {
      placement::ReportLeftOut(folder + "\\" + file, model.name, unwritable);
      continue;
    }
    double lon = 0, lat = 0;
    std::string lonText, latText;
    try {
      if (placement::PlaceModel(folder, model.name, convert, lon, lat, lonText, latText) != placement::Placement::Placed)
        continue;
    } catch (const _com_error& e) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(e.Error()));
      error = "the coordinate-system component failed (" + std::string(code) + ") converting the location of " +
              platform::NativePath(folder + "\\" + model.name + ".txt");
      return false;
    }
    // The template is rewritten (and so advances) before the model file is looked at, as in packaging.
    std::string rewritten;
    const bool rewrote = haveTemplate && placement::RewriteTemplateText(templateText, model.name, file, lon, lat, rewritten);
    if (rewrote) templateText = rewritten;
    model.colladaPath = rewrote ? placement::ModelFilePath(folder, model.name, file) : std::string();
    if (model.colladaPath.empty()) {
      placement::ReportLeftOut(folder + "\\" + file, model.name, placement::kPackageNotWritten);
      continue;
    }
    if (!catalog.documents.Pack(rewritten, model.packedDocument)) {
      error = "out of memory holding the document of model " + model.name;
      return false;
    }
    model.package = model.name + ".kmz";
    model.longitude = placement::CoordinateAsListed(lon);
    model.latitude = placement::CoordinateAsListed(lat);
    placement::ListModelTextures(folder, model.name, model.textures);
    catalog.models.push_back(std::move(model));
  }
  return true;
}

}  // namespace kmztile::core
