// Reading a whole tile KMZ into memory: entry names, entry contents and the
// positions of the models its KML places.
#include "BaseParser.h"
#include "reading/KmzSource.h"
#include "reading/PlacemarkWalk.h"

using kmztile::reading::OpenedKmz;

bool CBaseParser::ReadKmzToList(std::string source, std::vector<std::string>& names,
                                std::vector<std::string>& contents, std::map<std::string, LonLatID>& locations) {
  OpenedKmz archive;
  if (!kmztile::reading::OpenKmzSource(std::move(source), archive)) return false;

  std::vector<std::string> listed;
  if (!archive.kmz->List(&listed)) return false;
  names.swap(listed);

  contents.resize(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (!kmztile::reading::ReadEntryTolerant(*archive.index, names[i], contents[i])) return false;
  }

  std::string kml;
  if (!archive.index->ReadDefaultKml(kml)) return true;
  kmztile::reading::WalkModelPlacemarks(kml, locations);
  return true;
}
